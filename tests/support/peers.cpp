#include "peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd p {fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

TcpListener::TcpListener(int backlog, std::uint16_t port)
{
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FFd, backlog) != 0)
        throw std::runtime_error("test listener cannot listen");
    socklen_t len = sizeof a;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
}

TcpListener::~TcpListener()
{
    ::close(FFd);
}

int TcpListener::Accept(int timeoutMs)
{
    if (!WaitReadable(FFd, timeoutMs))
        return -1;
    return ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
}

int ConnectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ConnectNonBlocking(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a = Loopback(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
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
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - got.size()), 0);
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
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

void CloseFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int ListenOnAddress(const char* address, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &at.sin_addr);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void ShutdownSending(int fd)
{
    ::shutdown(fd, SHUT_WR);
}

void ResetFd(int fd)
{
    linger l {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

bool NoDelayOn(int fd)
{
    int on = 0;
    socklen_t length = sizeof on;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0 && on != 0;
}

bool IsOpenFd(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

bool ListensOn(std::uint16_t port)
{
    // Both families' tables: a receiver listens on IPv6 and IPv4 at once.
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
                return true;
        }
    }
    return false;
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
                ::usleep(static_cast<useconds_t>(pauseMs) * 1000);
        }
        std::string reply;
        if (!closeEarly)
            reply = RecvAll(fd, 10000);
        ::close(fd);
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
    for (;;) {
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            const int from = i == 0 ? a : b, to = i == 0 ? b : a;
            std::size_t room = buf.size();
            if (i == 0 && cutAt > forwarded)
                room = std::min(room, cutAt - forwarded);
            const ssize_t n = ::recv(from, buf.data(), room, 0);
            if (n <= 0)
                return false;
            if (i == 0 && flipAt >= forwarded && flipAt < forwarded + static_cast<std::size_t>(n))
                buf[flipAt - forwarded] = static_cast<char>(~buf[flipAt - forwarded]);
            SendAll(to, std::string(buf.data(), static_cast<std::size_t>(n)));
            if (i == 0 && (forwarded += static_cast<std::size_t>(n)) >= cutAt)
                return true;
        }
    }
}

// Waits up to `ms` for the client on `fd` to go (its shutdown is seen even
// with its bytes unread); true when it went.
bool ClientGone(int fd, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pollfd gone {fd, POLLRDHUP, 0};
    while (std::chrono::steady_clock::now() < until) {
        if (::poll(&gone, 1, 10) > 0 && (gone.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return true;
    }
    return false;
}

} // namespace

std::future<std::size_t> ProxyAsync(TcpListener& front, std::uint16_t back, std::size_t flipAt, std::size_t cutAt, int acceptAfterMs, int holdMs)
{
    return std::async(std::launch::async, [&front, back, flipAt, cutAt, acceptAfterMs, holdMs] {
        ::usleep(static_cast<useconds_t>(acceptAfterMs) * 1000);
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
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(0);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }();
    return port;
}
