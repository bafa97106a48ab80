// How much processor time the Windows message loop's wait uses when nothing
// comes: WaitAndProcessMessages for 3 seconds, woken only by a timer's one
// tick at the end. The wait must sleep in the system
// (MsgWaitForMultipleObjectsEx), not spin; the target is under 2 % of one
// core. Prints the share of a core, measured by the process's own times.
#include <ferrolink/messages.h>
#include <ferrolink/timer.h>

#include <chrono>
#include <cstdio>

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
    return 0;
}
