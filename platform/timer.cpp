// A timer component, over the platform's ticker (ticker.h).
#include <ferrolink/timer.h>

#include <ferrolink/messages.h>

#include "ticker.h"

namespace ferro {

TTimer::TTimer(TComponent* owner) : TComponent(owner), FTicker(TTicker::Make(*this))
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
