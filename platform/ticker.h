// Internal to the platform: the system's timer behind a TTimer, one per
// platform (qt/ticker.cpp, windows/ticker.cpp).
#pragma once

#include <ferrolink/timer.h>

#include <memory>

namespace ferro {

class TTimer::TTicker {
public:
    // A stopped ticker whose ticks call `owner`'s Tick on this thread.
    static std::unique_ptr<TTicker> Make(TTimer& owner);
    virtual ~TTicker() = default;
    // Starts counting down `interval` milliseconds afresh, again and again.
    virtual void Start(int interval) = 0;
    virtual void Stop() = 0;

protected:
    static void Tick(TTimer& owner) { owner.Tick(); }
};

} // namespace ferro
