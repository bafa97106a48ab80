// A timer's ticks on the Win32 message loop: SetTimer on the thread's
// message-only window.
#include "ticker.h"

#include "message_queue.h"

#include <atomic>

namespace ferro {

namespace {

class TWin32Ticker final : public TTimer::TTicker {
public:
    explicit TWin32Ticker(TTimer& owner) : FOwner(owner), FQueue(detail::Queue()), FId(++gLastId) {}
    ~TWin32Ticker() override { Stop(); }
    void Start(int interval) override
    {
        TTimer& owner = FOwner;
        FQueue.StartTimer(FId, static_cast<unsigned>(interval), [&owner] { Tick(owner); });
    }
    void Stop() override { FQueue.StopTimer(FId); }

private:
    static inline std::atomic<std::uintptr_t> gLastId {0};
    TTimer& FOwner;
    detail::MessageQueue& FQueue; // the thread's that made the timer, where it ticks
    std::uintptr_t FId;
};

} // namespace

std::unique_ptr<TTimer::TTicker> TTimer::TTicker::Make(TTimer& owner)
{
    return std::make_unique<TWin32Ticker>(owner);
}

} // namespace ferro
