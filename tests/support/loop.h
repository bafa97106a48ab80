// Test support: the event loop as the tests drive it, the same on every
// platform: actions for later, the application's own loop, a stopwatch.
#pragma once

#include <chrono>
#include <functional>

// Runs `action` once, `ms` milliseconds from now, from this thread's event
// loop (while some pump or the application's loop runs). What it captures
// must outlive it.
void Later(int ms, std::function<void()> action);

// Runs the application's event loop until QuitApplication asks it to end.
void RunApplication();
// Asks the application to quit, as a program's user closing it does.
void QuitApplication();

// Milliseconds since it was made.
class TStopwatch {
public:
    long long ElapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart).count();
    }

private:
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};
