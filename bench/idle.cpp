#include "winsock.h"
#include "idle.h"

#include "system_socket.h"

#include <ferrolink/ferro.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN // without the system's winsock.h, whose macros take our names
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <functional>

using namespace ferro;

namespace {

// Processor time this process has used, in seconds.
double CpuSeconds()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
#endif
}

// Share of one core that `wait` used, in percent.
double CoreShare(const std::function<void()>& wait)
{
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    wait();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return 100.0 * (CpuSeconds() - cpu0) / wall;
}

struct WaitingLink : TFerrolink {
    using TFerrolink::TFerrolink;
    void WaitForNothing() { AwaitCompletion(winsock::FD_READ); }
};

// A listener on 127.0.0.1 that takes connections into its backlog and
// then says nothing.
struct SilentPeer {
    SilentPeer() : Listener(sys::OpenStream(sys::kInet4))
    {
        sys::TEndpoint at;
        sys::ParseIp("127.0.0.1", at);
        sys::Bind(Listener, at);
        sys::Listen(Listener, 1);
        sys::LocalAddress(Listener, at);
        Port = at.Port[0] << 8 | at.Port[1];
    }
    ~SilentPeer() { sys::Close(Listener); }
    int Listener;
    int Port = 0;
};

} // namespace

double SilentWaitCoreShare(int milliseconds)
{
    WaitingLink link(nullptr);
    link.TimeOut = milliseconds;
    return CoreShare([&] { link.WaitForNothing(); });
}

double SilentReadCoreShare(int milliseconds)
{
    SilentPeer peer;
    TFerrolink reader(nullptr);
    reader.Host = "127.0.0.1";
    reader.Port = peer.Port;
    reader.Connect();
    reader.TimeOut = milliseconds;
    return CoreShare([&] {
        try {
            reader.Read(16);
        } catch (const ESockError&) {
            // "Read Timed Out" is the expected end.
        }
    });
}

