#include "system_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include "system_records.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <iterator>

namespace ferro::sys {

namespace {

// A result, or minus the errno the call left.
long Checked(long result)
{
    return result < 0 ? -errno : result;
}

int SystemFamily(int family)
{
    return family == kInet6 ? AF_INET6 : family == kInet4 ? AF_INET : AF_UNSPEC;
}

TLookupError LookupError(int eai)
{
    switch (eai) {
    case 0: return TLookupError::None;
    case EAI_AGAIN: return TLookupError::TryAgain;
    case EAI_FAIL: return TLookupError::Failed;
#ifdef EAI_NODATA
    case EAI_NODATA: return TLookupError::NoAddress;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return TLookupError::NoAddress;
#endif
    case EAI_MEMORY: return TLookupError::NoMemory;
    default: return TLookupError::NotFound;
    }
}

int SystemFlags(int flags)
{
    return ((flags & kPeek) ? MSG_PEEK : 0) | ((flags & kDontWait) ? MSG_DONTWAIT : 0);
}

int SetOption(int fd, int level, int name, const void* value, socklen_t length)
{
    return static_cast<int>(Checked(::setsockopt(fd, level, name, value, length)));
}

int SetFlag(int fd, int level, int name, int value)
{
    return SetOption(fd, level, name, &value, sizeof value);
}

int GetOption(int fd, int level, int name, void* value, socklen_t& length)
{
    return static_cast<int>(Checked(::getsockopt(fd, level, name, value, &length)));
}

} // namespace

int OpenStream(int family, int type, int protocol)
{
    return static_cast<int>(Checked(::socket(SystemFamily(family), type | SOCK_CLOEXEC, protocol)));
}

int ReplaceStream(int fd, int family)
{
    const int fresh = OpenStream(family);
    if (fresh < 0)
        return fresh;
    const int moved = static_cast<int>(Checked(::dup3(fresh, fd, O_CLOEXEC)));
    ::close(fresh);
    return moved < 0 ? moved : 0;
}

int Close(int fd)
{
    return static_cast<int>(Checked(::close(fd)));
}

int Connect(int fd, const TEndpoint& to)
{
    ::sockaddr_storage record;
    const auto length = static_cast<socklen_t>(ToSystem(to, record));
    return static_cast<int>(Checked(::connect(fd, reinterpret_cast<const ::sockaddr*>(&record), length)));
}

int Bind(int fd, const TEndpoint& at)
{
    ::sockaddr_storage record;
    const auto length = static_cast<socklen_t>(ToSystem(at, record));
    return static_cast<int>(Checked(::bind(fd, reinterpret_cast<const ::sockaddr*>(&record), length)));
}

int Listen(int fd, int backlog)
{
    return static_cast<int>(Checked(::listen(fd, backlog)));
}

int Accept(int fd, TEndpoint& from)
{
    ::sockaddr_storage record {};
    socklen_t length = sizeof record;
    const int taken = static_cast<int>(Checked(::accept4(fd, reinterpret_cast<::sockaddr*>(&record), &length, SOCK_CLOEXEC)));
    if (taken >= 0)
        from = FromSystem(reinterpret_cast<const ::sockaddr*>(&record));
    return taken;
}

long Receive(int fd, void* into, std::size_t length, int flags)
{
    return Checked(::recv(fd, into, length, SystemFlags(flags)));
}

long Send(int fd, const void* bytes, std::size_t length, int flags)
{
    return Checked(::send(fd, bytes, length, SystemFlags(flags) | MSG_NOSIGNAL));
}

long SendGathered(int fd, const TPiece* pieces, std::size_t count, int flags)
{
    ::iovec parts[8];
    count = std::min(count, std::size(parts));
    for (std::size_t i = 0; i < count; ++i)
        parts[i] = {const_cast<void*>(pieces[i].Bytes), pieces[i].Length};
    ::msghdr message {};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    return Checked(::sendmsg(fd, &message, SystemFlags(flags) | MSG_NOSIGNAL));
}

int ShutdownSending(int fd)
{
    return static_cast<int>(Checked(::shutdown(fd, SHUT_WR)));
}

int Poll(int fd, int events, int ms)
{
    ::pollfd look {fd, static_cast<short>(((events & kReadable) ? POLLIN : 0) | ((events & kWritable) ? POLLOUT : 0)), 0};
    const int n = static_cast<int>(Checked(::poll(&look, 1, ms)));
    if (n <= 0)
        return n;
    const bool failed = (look.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    return (((look.revents & POLLIN) || failed ? kReadable : 0) | ((look.revents & POLLOUT) || failed ? kWritable : 0)) & events;
}

int SetNoDelay(int fd)
{
    return SetFlag(fd, IPPROTO_TCP, TCP_NODELAY, 1);
}

int SetReuseAddress(int fd)
{
    return SetFlag(fd, SOL_SOCKET, SO_REUSEADDR, 1);
}

int SetV6Only(int fd, bool only)
{
    return SetFlag(fd, IPPROTO_IPV6, IPV6_V6ONLY, only ? 1 : 0);
}

int SetLinger(int fd, bool on, int seconds)
{
    const ::linger value {on ? 1 : 0, seconds};
    return SetOption(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

int SetWaitLimits(int fd, long microseconds)
{
    const ::timeval limit {microseconds / 1000000, microseconds % 1000000};
    const int receive = SetOption(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const int send = SetOption(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return receive != 0 ? receive : send;
}

long SendSpace(int fd)
{
    // Half of what is free in the buffer: the system charges its
    // bookkeeping to the same buffer and accepts a send while any is free.
    std::uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (const int r = GetOption(fd, SOL_SOCKET, SO_MEMINFO, info, length); r != 0)
        return r;
    if (length < sizeof info)
        return -ENOPROTOOPT;
    const std::uint32_t buffer = info[SK_MEMINFO_SNDBUF];
    const std::uint32_t queued = info[SK_MEMINFO_WMEM_QUEUED];
    return buffer > queued ? (buffer - queued) / 2 : 0;
}

int PendingError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    const int r = GetOption(fd, SOL_SOCKET, SO_ERROR, &error, length);
    return r < 0 ? -r : error;
}

int PeerAddress(int fd, TEndpoint& peer)
{
    ::sockaddr_storage record {};
    socklen_t length = sizeof record;
    const int r = static_cast<int>(Checked(::getpeername(fd, reinterpret_cast<::sockaddr*>(&record), &length)));
    if (r == 0)
        peer = FromSystem(reinterpret_cast<const ::sockaddr*>(&record));
    return r;
}

int LocalAddress(int fd, TEndpoint& local)
{
    ::sockaddr_storage record {};
    socklen_t length = sizeof record;
    const int r = static_cast<int>(Checked(::getsockname(fd, reinterpret_cast<::sockaddr*>(&record), &length)));
    if (r == 0)
        local = FromSystem(reinterpret_cast<const ::sockaddr*>(&record));
    return r;
}

bool ParseIp(const char* text, TEndpoint& into)
{
    return ParseIpText(text, into);
}

std::string IpText(const TEndpoint& address)
{
    return WrittenIp(address);
}

std::uint32_t InetAddr(const char* text)
{
    return ::inet_addr(text);
}

TFound LookUp(const char* name, int family, bool canonical, std::size_t most)
{
    const ::addrinfo hints = LookupHints(family, canonical);
    ::addrinfo* list = nullptr;
    TFound found;
    found.Error = LookupError(::getaddrinfo(name, nullptr, &hints, &list));
    if (found.Error == TLookupError::None)
        TakeFound(list, canonical, most, found);
    ::freeaddrinfo(list);
    return found;
}

} // namespace ferro::sys
