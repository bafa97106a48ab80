// TTimer: a millisecond timer component whose ticks arrive through the
// UI thread's queue. Its countdown restarts only when Enabled or Interval
// changes value; with Interval 0 it never fires.
#pragma once

#include <ferrolink/component.h>

#include <functional>
#include <memory>

class QTimer;

namespace ferro {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    int Interval() const { return FInterval; }
    void SetInterval(int interval);

    std::function<void(TComponent* sender)> OnTimer;

private:
    void UpdateTimer();
    void Tick();

    bool FEnabled = true;
    int FInterval = 1000;
    std::unique_ptr<QTimer> FTimer;
};

} // namespace ferro
