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
    FTimer->stop();
    if (FEnabled && FInterval > 0)
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
