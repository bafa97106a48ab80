// The transport's system calls on Windows' own socket library (ws2_32).
// Windows names sockets by handles, not small numbers, and has no flag
// that keeps one call from waiting: each system socket is made
// non-blocking and known by a number of ours, and a call that may wait
// waits in WSAPoll, as long as the socket's wait limits let it (none: as
// long as it takes), so that every call behaves as the POSIX one the
// layers above were written for. Errors are told in errno's names.
#include "system_socket.h"
#include "socket_numbers.h"

#include <ws2tcpip.h>

#include "system_records.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>

namespace ferro::sys {

namespace {

// The library is started once, on the first socket, for the process.
void StartOnce()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

int ErrnoOf(int wsaError)
{
    switch (wsaError) {
    case WSAEWOULDBLOCK: return EAGAIN;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAEALREADY: return EALREADY;
    case WSAEINTR: return EINTR;
    case WSAEBADF: return EBADF;
    case WSAEACCES: return EACCES;
    case WSAEFAULT: return EFAULT;
    case WSAEINVAL: return EINVAL;
    case WSAEMFILE: return EMFILE;
    case WSAENOTSOCK: return ENOTSOCK;
    case WSAEMSGSIZE: return EMSGSIZE;
    case WSAENOPROTOOPT: return ENOPROTOOPT;
    case WSAEPROTONOSUPPORT: return EPROTONOSUPPORT;
    case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
    case WSAEADDRINUSE: return EADDRINUSE;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAENETDOWN: return ENETDOWN;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAECONNRESET: return ECONNRESET;
    case WSAENOBUFS: return ENOBUFS;
    case WSAEISCONN: return EISCONN;
    case WSAENOTCONN: return ENOTCONN;
    case WSAESHUTDOWN: return EPIPE;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAEHOSTDOWN:
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    default: return EIO;
    }
}

// Minus the errno of the library's last error.
long Failed()
{
    return -ErrnoOf(::WSAGetLastError());
}

SOCKET NewSocket(int family, int type, int protocol)
{
    StartOnce();
    const int af = family == kInet6 ? AF_INET6 : AF_INET;
    const SOCKET socket = ::WSASocketW(af, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    u_long nonBlocking = 1;
    if (socket != INVALID_SOCKET && ::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

// Waits for `events` (POLLRDNORM, POLLWRNORM) on `slot`'s socket as long
// as its wait limit lets it: true when they came (or the socket failed).
bool AwaitEvents(const TSlot& slot, short events)
{
    const int ms = slot.WaitLimit < 0 ? -1 : static_cast<int>((slot.WaitLimit + 999) / 1000);
    WSAPOLLFD look {slot.Socket, events, 0};
    return ::WSAPoll(&look, 1, ms) > 0;
}

// Runs `call` (a system call on the socket, returning a count or
// SOCKET_ERROR) until it does not find the socket busy, waiting in between
// unless `flags` say not to; the count, or minus the error.
template <typename TCall>
long Patiently(const TSlot& slot, int flags, short events, TCall call)
{
    for (;;) {
        const long n = call();
        if (n != SOCKET_ERROR)
            return n;
        const long error = Failed();
        if (error != -EAGAIN || (flags & kDontWait) || !AwaitEvents(slot, events))
            return error;
    }
}

// The system's buffers for what of `pieces` (at most eight of them) follows
// its first `skip` bytes; how many it used.
DWORD PartsAfter(const TPiece* pieces, std::size_t count, std::size_t skip, WSABUF (&parts)[8])
{
    DWORD used = 0;
    for (std::size_t i = 0; i < count && used < std::size(parts); ++i) {
        if (skip >= pieces[i].Length) {
            skip -= pieces[i].Length;
            continue;
        }
        const std::size_t left = std::min<std::size_t>(pieces[i].Length - skip, INT_MAX / 2);
        parts[used++] = {static_cast<ULONG>(left), static_cast<CHAR*>(const_cast<void*>(pieces[i].Bytes)) + skip};
        skip = 0;
    }
    return used;
}

int SetOption(SOCKET socket, int level, int name, const void* value, int length)
{
    return ::setsockopt(socket, level, name, static_cast<const char*>(value), length) == 0 ? 0 : static_cast<int>(Failed());
}

TLookupError LookupError(int error)
{
    switch (error) {
    case 0: return TLookupError::None;
    case WSATRY_AGAIN: return TLookupError::TryAgain;
    case WSANO_RECOVERY: return TLookupError::Failed;
    case WSANO_DATA: return TLookupError::NoAddress;
    case WSA_NOT_ENOUGH_MEMORY: return TLookupError::NoMemory;
    default: return TLookupError::NotFound;
    }
}

} // namespace

int OpenStream(int family, int type, int protocol)
{
    const SOCKET socket = NewSocket(family, type, protocol);
    return socket == INVALID_SOCKET ? static_cast<int>(Failed()) : Number(socket, -1);
}

int ReplaceStream(int fd, int family)
{
    const SOCKET fresh = NewSocket(family, SOCK_STREAM, 0);
    if (fresh == INVALID_SOCKET)
        return static_cast<int>(Failed());
    const SOCKET old = Replace(fd, fresh);
    if (old == INVALID_SOCKET) {
        ::closesocket(fresh);
        return -EBADF;
    }
    ::closesocket(old);
    return 0;
}

int Close(int fd)
{
    const SOCKET socket = Release(fd);
    if (socket == INVALID_SOCKET)
        return -EBADF;
    return ::closesocket(socket) == 0 ? 0 : static_cast<int>(Failed());
}

int Connect(int fd, const TEndpoint& to)
{
    const TSlot slot = Look(fd);
    sockaddr_storage record;
    const int length = ToSystem(to, record);
    if (::connect(slot.Socket, reinterpret_cast<const sockaddr*>(&record), length) == 0)
        return 0;
    const long error = Failed();
    if (error != -EAGAIN)
        return static_cast<int>(error);
    // In progress: its outcome within the wait limit, else it goes on.
    if (!AwaitEvents(slot, POLLWRNORM))
        return -EINPROGRESS;
    const int pending = PendingError(fd);
    return pending == 0 ? 0 : -pending;
}

int Bind(int fd, const TEndpoint& at)
{
    sockaddr_storage record;
    const int length = ToSystem(at, record);
    return ::bind(Look(fd).Socket, reinterpret_cast<const sockaddr*>(&record), length) == 0 ? 0 : static_cast<int>(Failed());
}

int Listen(int fd, int backlog)
{
    return ::listen(Look(fd).Socket, backlog) == 0 ? 0 : static_cast<int>(Failed());
}

int Accept(int fd, TEndpoint& from)
{
    const TSlot slot = Look(fd);
    sockaddr_storage record {};
    SOCKET taken = INVALID_SOCKET;
    const long result = Patiently(slot, 0, POLLRDNORM, [&] {
        int length = sizeof record;
        taken = ::accept(slot.Socket, reinterpret_cast<sockaddr*>(&record), &length);
        return taken == INVALID_SOCKET ? long {SOCKET_ERROR} : 0L;
    });
    if (result < 0)
        return static_cast<int>(result);
    u_long nonBlocking = 1;
    ::ioctlsocket(taken, FIONBIO, &nonBlocking);
    ::WSAAsyncSelect(taken, nullptr, 0, 0); // nothing of the listener's selection: its own comes
    from = FromSystem(reinterpret_cast<const sockaddr*>(&record));
    return Number(taken, slot.WaitLimit); // the listener's wait limits, as POSIX sockets inherit them
}

long Receive(int fd, void* into, std::size_t length, int flags)
{
    const TSlot slot = Look(fd);
    const int count = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    return Patiently(slot, flags, POLLRDNORM, [&] {
        return static_cast<long>(::recv(slot.Socket, static_cast<char*>(into), count, (flags & kPeek) ? MSG_PEEK : 0));
    });
}

long Send(int fd, const void* bytes, std::size_t length, int flags)
{
    const TPiece whole {bytes, length};
    return SendGathered(fd, &whole, 1, flags);
}

long SendGathered(int fd, const TPiece* pieces, std::size_t count, int flags)
{
    const TSlot slot = Look(fd);
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i)
        length += pieces[i].Length;
    // As a blocking system send: all of it, unless the wait limit or an
    // error ends it first (then what went, if anything did).
    std::size_t total = 0;
    for (;;) {
        WSABUF parts[8];
        const DWORD used = PartsAfter(pieces, count, total, parts);
        const long n = Patiently(slot, flags, POLLWRNORM, [&] {
            DWORD sent = 0;
            return ::WSASend(slot.Socket, parts, used, &sent, 0, nullptr, nullptr) == 0 ? static_cast<long>(sent) : long {SOCKET_ERROR};
        });
        if (n < 0)
            return total > 0 ? static_cast<long>(total) : n;
        total += static_cast<std::size_t>(n);
        if ((flags & kDontWait) || total >= length || n == 0)
            return static_cast<long>(total);
    }
}

int ShutdownSending(int fd)
{
    return ::shutdown(Look(fd).Socket, SD_SEND) == 0 ? 0 : static_cast<int>(Failed());
}

int Poll(int fd, int events, int ms)
{
    WSAPOLLFD look {Look(fd).Socket, static_cast<short>(((events & kReadable) ? POLLRDNORM : 0) | ((events & kWritable) ? POLLWRNORM : 0)), 0};
    const int n = ::WSAPoll(&look, 1, ms);
    if (n <= 0)
        return n < 0 ? static_cast<int>(Failed()) : 0;
    const bool failed = (look.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    return (((look.revents & POLLRDNORM) || failed ? kReadable : 0) | ((look.revents & POLLWRNORM) || failed ? kWritable : 0)) & events;
}

int SetNoDelay(int fd)
{
    const BOOL on = TRUE;
    return SetOption(Look(fd).Socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int SetReuseAddress(int fd)
{
    // Windows binds a port whose earlier connections linger in TIME_WAIT
    // as it is; its SO_REUSEADDR would let a second listener take a port
    // another holds. Exclusive use keeps the port ours alone.
    const BOOL on = TRUE;
    return SetOption(Look(fd).Socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, &on, sizeof on);
}

int SetV6Only(int fd, bool only)
{
    const DWORD value = only ? 1 : 0;
    return SetOption(Look(fd).Socket, IPPROTO_IPV6, IPV6_V6ONLY, &value, sizeof value);
}

int SetLinger(int fd, bool on, int seconds)
{
    const linger value {static_cast<u_short>(on ? 1 : 0), static_cast<u_short>(seconds)};
    return SetOption(Look(fd).Socket, SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

int SetWaitLimits(int fd, long microseconds)
{
    return SetWaitLimit(fd, microseconds) ? 0 : -EBADF;
}

long SendSpace(int)
{
    return -ENOPROTOOPT; // Windows tells an ideal backlog, not the room left
}

int PendingError(int fd)
{
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(Look(fd).Socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return static_cast<int>(-Failed());
    return error == 0 ? 0 : ErrnoOf(error);
}

int LocalAddress(int fd, TEndpoint& local)
{
    sockaddr_storage record {};
    int length = sizeof record;
    if (::getsockname(Look(fd).Socket, reinterpret_cast<sockaddr*>(&record), &length) != 0)
        return static_cast<int>(Failed());
    local = FromSystem(reinterpret_cast<const sockaddr*>(&record));
    return 0;
}

int PeerAddress(int fd, TEndpoint& peer)
{
    sockaddr_storage record {};
    int length = sizeof record;
    if (::getpeername(Look(fd).Socket, reinterpret_cast<sockaddr*>(&record), &length) != 0)
        return static_cast<int>(Failed());
    peer = FromSystem(reinterpret_cast<const sockaddr*>(&record));
    return 0;
}

bool ParseIp(const char* text, TEndpoint& into)
{
    StartOnce();
    return ParseIpText(text, into);
}

std::string IpText(const TEndpoint& address)
{
    StartOnce();
    return WrittenIp(address);
}

std::uint32_t InetAddr(const char* text)
{
    StartOnce();
    return ::inet_addr(text);
}

TFound LookUp(const char* name, int family, bool canonical, std::size_t most)
{
    StartOnce();
    const addrinfo hints = LookupHints(family, canonical);
    addrinfo* list = nullptr;
    TFound found;
    found.Error = LookupError(::getaddrinfo(name, nullptr, &hints, &list));
    if (found.Error == TLookupError::None)
        TakeFound(list, canonical, most, found);
    if (list)
        ::freeaddrinfo(list);
    return found;
}

} // namespace ferro::sys
