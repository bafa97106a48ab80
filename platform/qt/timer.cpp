#include <ferrolink/timer.h>

#include <ferrolink/messages.h>

#include <QTimer>

namespace ferro {

// On Qt's event loop: a precise QTimer, so a time-out ends when it says.
class TTimer::TTicker {
public:
    explicit TTicker(TTimer& owner)
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [&owner] { owner.Tick(); });
    }
    void Start(int interval) { FTimer.start(interval); }
    void Stop() { FTimer.stop(); }

private:
    QTimer FTimer;
};

TTimer::TTimer(TComponent* owner) : TComponent(owner), FTicker(std::make_unique<TTicker>(*this))
{
    UpdateTimer();
}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == FEnabled)
        return;
    FEnabled = enabled;
    UpdateTimer();
}

void TTimer::SetInterval(int interval)
{
    if (interval == FInterval)
        return;
    FInterval = interval;
    UpdateTimer();
}

void TTimer::UpdateTimer()
{
    // Most waits arm a timer of interval 0, which never runs: nothing to do.
    if (FRunning)
        FTicker->Stop();
    FRunning = FEnabled && FInterval > 0;
    if (FRunning)
        FTicker->Start(FInterval);
}

void TTimer::Tick()
{
    NoteEventHandled();
    if (!OnTimer)
        return;
    try {
        OnTimer(this);
    } catch (...) {
        HandleCurrentException();
    }
}

} // namespace ferro
