#include "peers.h"

#include "peer_system.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitReadable(int fd, int timeoutMs)
{
    return peer::WaitReadable(&fd, 1, timeoutMs) == 0;
}

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

TcpListener::TcpListener(int backlog, std::uint16_t port)
{
    FFd = peer::Socket();
    if (!peer::Bind(FFd, "127.0.0.1", port, true) || !peer::Listen(FFd, backlog))
        throw std::runtime_error("test listener cannot listen");
    FPort = peer::LocalPort(FFd);
}

TcpListener::~TcpListener()
{
    peer::Close(FFd);
}

int TcpListener::Accept(int timeoutMs)
{
    if (!WaitReadable(FFd, timeoutMs))
        return -1;
    return peer::Accept(FFd);
}

int ConnectTo(std::uint16_t port)
{
    const int fd = peer::Socket();
    if (!peer::Connect(fd, port)) {
        peer::Close(fd);
        return -1;
    }
    return fd;
}

int ConnectNonBlocking(std::uint16_t port)
{
    const int fd = peer::Socket(true);
    peer::Connect(fd, port);
    return fd;
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = peer::Send(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RecvSome(int fd, std::size_t count, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    char buf[4096];
    while (got.size() < count && WaitReadable(fd, RemainingMs(deadline))) {
        const long n = peer::Receive(fd, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::string RecvAll(int fd, int timeoutMs)
{
    return RecvSome(fd, static_cast<std::size_t>(-1), timeoutMs);
}

bool PeerClosed(int fd, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (WaitReadable(fd, RemainingMs(deadline))) {
        if (peer::Receive(fd, buf, sizeof buf) <= 0)
            return true;
    }
    return false;
}

void CloseFd(int fd)
{
    peer::Close(fd);
}

int ListenOnAddress(const char* address, std::uint16_t port)
{
    const int fd = peer::Socket();
    if (!peer::Bind(fd, address, port) || !peer::Listen(fd, 8)) {
        peer::Close(fd);
        return -1;
    }
    return fd;
}

void ShutdownSending(int fd)
{
    peer::ShutdownSending(fd);
}

void ResetFd(int fd)
{
    peer::Reset(fd);
}

bool NoDelayOn(int fd)
{
    return peer::NoDelayOn(fd);
}

bool IsOpenFd(int fd)
{
    return peer::IsOpen(fd);
}

bool HandleIsOpen(int handle)
{
    const int fd = peer::SystemSocketOf(static_cast<unsigned>(handle));
    return fd >= 0 && peer::IsOpen(fd);
}

bool ListensOn(std::uint16_t port)
{
    return peer::ListensOn(port);
}

std::uint16_t FreePort()
{
    TcpListener probe;
    return probe.Port();
}

std::future<std::string> ExchangeAsync(std::uint16_t port, std::vector<std::string> chunks, int pauseMs, bool closeEarly)
{
    return std::async(std::launch::async, [=] {
        const int fd = ConnectTo(port);
        if (fd < 0)
            return std::string("refused");
        for (const auto& chunk : chunks) {
            if (!SendAll(fd, chunk))
                break; // let go by the receiver
            if (pauseMs > 0)
                SleepMs(pauseMs);
        }
        std::string reply;
        if (!closeEarly)
            reply = RecvAll(fd, 10000);
        peer::Close(fd);
        return reply;
    });
}

std::future<void> ResetAfterAsync(std::uint16_t port, std::vector<std::string> chunks)
{
    return std::async(std::launch::async, [=] {
        const int fd = ConnectTo(port);
        for (const auto& chunk : chunks)
            SendAll(fd, chunk);
        ResetFd(fd);
    });
}

namespace {

// Forwards between `a` (the client) and `b` until either closes or `cutAt`
// bytes of the client's have gone, the byte at `flipAt` inverted; counts
// them in `forwarded`. True when it stopped at the cut.
bool Forward(int a, int b, std::size_t flipAt, std::size_t cutAt, std::size_t& forwarded)
{
    std::vector<char> buf(65536);
    const int ends[2] = {a, b};
    for (;;) {
        const int i = peer::WaitReadable(ends, 2, 10000);
        if (i < 0)
            return false;
        const int from = ends[i], to = ends[1 - i];
        std::size_t room = buf.size();
        if (i == 0 && cutAt > forwarded)
            room = std::min(room, cutAt - forwarded);
        const long n = peer::Receive(from, buf.data(), room);
        if (n <= 0)
            return false;
        if (i == 0 && flipAt >= forwarded && flipAt < forwarded + static_cast<std::size_t>(n))
            buf[flipAt - forwarded] = static_cast<char>(~buf[flipAt - forwarded]);
        SendAll(to, std::string(buf.data(), static_cast<std::size_t>(n)));
        if (i == 0 && (forwarded += static_cast<std::size_t>(n)) >= cutAt)
            return true;
    }
}

// Waits up to `ms` for the client on `fd` to go; true when it went.
bool ClientGone(int fd, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (peer::PeerGone(fd, 10))
            return true;
    }
    return false;
}

} // namespace

std::future<std::size_t> ProxyAsync(TcpListener& front, std::uint16_t back, std::size_t flipAt, std::size_t cutAt, int acceptAfterMs, int holdMs)
{
    return std::async(std::launch::async, [&front, back, flipAt, cutAt, acceptAfterMs, holdMs] {
        SleepMs(acceptAfterMs);
        const int a = front.Accept(10000);
        const int b = ConnectTo(back);
        std::size_t forwarded = 0;
        // Held, a client that is killed with bytes in flight never shows its
        // close: after the hold, what it had sent goes through to its end.
        if (Forward(a, b, flipAt, cutAt, forwarded) && holdMs > 0 && !ClientGone(a, holdMs))
            Forward(a, b, SIZE_MAX, SIZE_MAX, forwarded);
        CloseFd(a);
        CloseFd(b);
        return forwarded;
    });
}

std::uint16_t UnusedPort()
{
    // Bound but never listening: connections to it are refused, and no other
    // test can take it while this socket lives for the whole run.
    static const std::uint16_t port = [] {
        const int fd = peer::Socket();
        peer::Bind(fd, "127.0.0.1", 0);
        return peer::LocalPort(fd);
    }();
    return port;
}
