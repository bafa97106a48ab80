/// @file
/// TTimer: a millisecond timer component whose ticks arrive through its
/// thread's event loop.
#pragma once

#include <ferrolink/component.h>

#include <functional>
#include <memory>

namespace ferro {

/// A millisecond timer: while Enabled, it fires OnTimer every Interval
/// milliseconds. Its countdown restarts only when Enabled or Interval changes
/// value; with Interval 0 it never fires.
class TTimer : public TComponent {
public:
    /// A timer that is enabled, with an interval of 1000 ms.
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    /// Whether the timer runs.
    bool Enabled() const { return FEnabled; }
    /// Starts or stops the timer; the countdown restarts when this changes it.
    void SetEnabled(bool enabled);
    /// The interval in milliseconds.
    int Interval() const { return FInterval; }
    /// Sets the interval; the countdown restarts when this changes it.
    void SetInterval(int interval);

    /// Fired at each tick, with the timer as sender. An exception it raises
    /// goes to the application's exception handler.
    std::function<void(TComponent* sender)> OnTimer;

    /// The platform's timer behind this one: internal, each platform's own.
    class TTicker;

private:
    void UpdateTimer();
    void Tick();

    bool FEnabled = true;
    int FInterval = 1000;

    bool FRunning = false; ///< the ticker counts down
    std::unique_ptr<TTicker> FTicker;
};

} // namespace ferro
