#include "winsock.h"
#include "idle.h"

#include <ferrolink/ferro.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

using namespace ferro;

namespace {

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

// A listener on 127.0.0.1 that accepts and then says nothing.
struct SilentPeer {
    SilentPeer()
    {
        Listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(Listener, 1);
        socklen_t len = sizeof a;
        ::getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
    }
    ~SilentPeer() { ::close(Listener); }
    int Listener;
    int Port;
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

