#include "send_batch.h"

#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace ferro::winsock::detail {

namespace {

// Payload that a connection's send buffer surely takes while it has sent no
// more than this: well below the smallest buffer Linux gives a socket
// (SOCK_MIN_SNDBUF, 4 608 bytes, accounting included).
constexpr std::size_t kSurelyFree = 2048;

// Payload the connection's send buffer can still take for certain: half of
// what is free in it, since the system charges its bookkeeping to the same
// buffer and accepts a send while any of it is free.
std::size_t SendRoom(int fd)
{
    std::uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &length) != 0 || length < sizeof info)
        return 0;
    const std::uint32_t buffer = info[SK_MEMINFO_SNDBUF];
    const std::uint32_t queued = info[SK_MEMINFO_WMEM_QUEUED];
    return buffer > queued ? (buffer - queued) / 2 : 0;
}

} // namespace

bool TSendBatch::Keep(int fd, const char* buf, std::size_t length, bool sendBlocked)
{
    // A connection that has sent little and never found its buffer full has
    // room for a small batch without asking (the smallest buffer the system
    // gives is larger); a batch that grows beyond asks the system once.
    if (FBytes.empty()) {
        const bool fresh = !sendBlocked && FSentTotal < kSurelyFree;
        FRoomAsked = !fresh;
        FRoom = fresh ? kSurelyFree - FSentTotal : std::min(SendRoom(fd), kSize);
        if (FBytes.capacity() < kSize)
            FBytes.reserve(kSize);
    }
    if (FBytes.size() + length > FRoom && !FRoomAsked) {
        FRoomAsked = true;
        FRoom = std::max(FRoom, std::min(SendRoom(fd), kSize));
    }
    if (FBytes.size() + length > FRoom)
        return false;
    FBytes.append(buf, length);
    return true;
}

long TSendBatch::SendWith(int fd, const char* buf, std::size_t length, int flags)
{
    if (FSentTotal > 0)
        NoDelay(fd);
    iovec parts[2] = {{FBytes.data(), FBytes.size()}, {const_cast<char*>(buf), length}};
    msghdr message {};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    const ssize_t n = ::sendmsg(fd, &message, flags | MSG_NOSIGNAL);
    if (n < 0)
        return -1;
    const auto sent = static_cast<std::size_t>(n);
    FSentTotal += sent;
    if (sent < FBytes.size()) {
        // Not even what was kept went out (the system ran short of memory):
        // this send took nothing, and the rest waits for the next.
        FBytes.erase(0, sent);
        errno = EAGAIN;
        return -1;
    }
    const std::size_t ofThis = sent - FBytes.size();
    FBytes.clear();
    return static_cast<long>(ofThis);
}

bool TSendBatch::Flush(int fd)
{
    while (!FBytes.empty()) {
        if (FSentTotal > 0)
            NoDelay(fd);
        const ssize_t n = ::send(fd, FBytes.data(), FBytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        FSentTotal += static_cast<std::size_t>(n);
        FBytes.erase(0, static_cast<std::size_t>(n));
    }
    return FBytes.empty();
}

bool TSendBatch::Deliver(int fd, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Flush(fd)) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd room {fd, POLLOUT, 0};
        if (left <= 0 || ::poll(&room, 1, static_cast<int>(left)) <= 0)
            return false;
    }
    return true;
}

void TSendBatch::Clear()
{
    FBytes.clear();
    FSentTotal = 0;
    FNoDelay = false;
}

void TSendBatch::NoDelay(int fd)
{
    if (FNoDelay)
        return;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    FNoDelay = true;
}

} // namespace ferro::winsock::detail
