#include <ferrolink/timer.h>

#include <ferrolink/messages.h>

#include <QTimer>

namespace ferro {

TTimer::TTimer(TComponent* owner) : TComponent(owner), FTimer(std::make_unique<QTimer>())
{
    FTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Tick(); });
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
        FTimer->stop();
    FRunning = FEnabled && FInterval > 0;
    if (FRunning)
        FTimer->start(FInterval);
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
