// How much processor time waiting uses on Windows when nothing comes, each
// for 3 seconds: the message loop's wait (woken only by a timer's one tick
// at its end), a component's completion wait for a notification that never
// arrives, and a Read on a silent connection. Waits must sleep in the system
// (MsgWaitForMultipleObjectsEx), not spin; the target is under 2 % of one
// core. Prints the share of a core each used, by the process's own times.
#include "idle.h"

#include <ferrolink/messages.h>
#include <ferrolink/timer.h>

#include <chrono>
#include <cstdio>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int main()
{
    constexpr int kWaitMs = 3000;
    ferro::TTimer timer(nullptr);
    bool ticked = false;
    timer.OnTimer = [&](ferro::TComponent*) { ticked = true; };
    timer.SetInterval(kWaitMs);
    ferro::ProcessMessages(); // the thread's queue and window exist before the measured wait
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    int passes = 0;
    while (!ticked) {
        ferro::WaitAndProcessMessages();
        ++passes;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    std::printf("message wait, %.2f s without a message: %.2f %% of a core, %d passes\n", wall, 100.0 * (CpuSeconds() - cpu0) / wall, passes);
    std::printf("completion wait, %d ms without a notification: %.2f %% of a core\n", kWaitMs, SilentWaitCoreShare(kWaitMs));
    std::printf("Read, %d ms on a silent connection: %.2f %% of a core\n", kWaitMs, SilentReadCoreShare(kWaitMs));
    return 0;
}
