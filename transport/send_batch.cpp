#include "send_batch.h"

#include "system_socket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace ferro::net {

namespace {

// Payload that a connection's send buffer surely takes while it has sent no
// more than this: well below the smallest buffer Linux gives a socket
// (SOCK_MIN_SNDBUF, 4 608 bytes, accounting included).
constexpr std::size_t kSurelyFree = 2048;

// Payload the connection's send buffer can still take for certain; none
// where the system cannot tell.
std::size_t SendRoom(int fd)
{
    const long space = sys::SendSpace(fd);
    return space > 0 ? static_cast<std::size_t>(space) : 0;
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
    const sys::TPiece pieces[2] = {{FBytes.data(), FBytes.size()}, {buf, length}};
    const long n = sys::SendGathered(fd, pieces, 2, flags);
    if (n < 0)
        return n;
    const auto sent = static_cast<std::size_t>(n);
    FSentTotal += sent;
    if (sent < FBytes.size()) {
        // Not even what was kept went out (the system ran short of memory):
        // this send took nothing, and the rest waits for the next.
        FBytes.erase(0, sent);
        return -EAGAIN;
    }
    const std::size_t ofThis = sent - FBytes.size();
    FBytes.clear();
    return static_cast<long>(ofThis);
}

long TSendBatch::Push(int fd)
{
    while (!FBytes.empty()) {
        if (FSentTotal > 0)
            NoDelay(fd);
        const long n = sys::Send(fd, FBytes.data(), FBytes.size(), sys::kDontWait);
        if (n <= 0)
            return n < 0 ? n : -EAGAIN;
        FSentTotal += static_cast<std::size_t>(n);
        FBytes.erase(0, static_cast<std::size_t>(n));
    }
    return 0;
}

bool TSendBatch::Flush(int fd)
{
    return Push(fd) == 0;
}

bool TSendBatch::Deliver(int fd, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (long result = Push(fd); result != 0; result = Push(fd)) {
        if (!sys::NothingYet(result))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || sys::Poll(fd, sys::kWritable, static_cast<int>(left)) <= 0)
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
    sys::SetNoDelay(fd);
    FNoDelay = true;
}

} // namespace ferro::net
