#include "recorder.h"

#include <ferrolink/messages.h>
#include <ferrolink/timer.h>

#include <chrono>

using namespace ferro;

namespace {
std::vector<std::string> gRecorded;
}

void InstallExceptionRecorder()
{
    SetApplicationExceptionHandler([](const std::exception& e) { gRecorded.emplace_back(e.what()); });
}

std::vector<std::string> TakeRecordedExceptions()
{
    return std::exchange(gRecorded, {});
}

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const Clock::time_point start = Clock::now();
    TTimer tick(nullptr); // wakes the loop so the deadline is seen
    tick.SetInterval(5);
    while (!done()) {
        if (MsSince(start) > timeoutMs)
            return false;
        WaitAndProcessMessages();
    }
    return true;
}

void PumpFor(int ms)
{
    const Clock::time_point start = Clock::now();
    PumpUntil([&] { return MsSince(start) >= ms; }, ms + 1000);
}

std::vector<std::string> AwaitRecordedExceptions(int timeoutMs)
{
    PumpUntil([] { return !gRecorded.empty(); }, timeoutMs);
    return TakeRecordedExceptions();
}
