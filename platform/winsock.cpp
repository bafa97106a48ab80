// The socket library's calls on POSIX sockets. This file and its two siblings
// are the only places that call the operating system's socket functions.
#include "winsock.h"

#include "winsock_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

// glibc may define these as macros; the stand-in defines functions of the
// same names.
#undef htons

namespace ferro::winsock {
namespace {

thread_local int tLastError = 0;
// The interface's values of names that the system headers take for their own.
constexpr int kMoreComing = 0x8000;     // winsock::MSG_MORE
constexpr int kWaitMoment = 0x4000;     // winsock::MSG_WAITMOMENT
constexpr int kSocketLevel = 0xFFFF;    // winsock::SOL_SOCKET
constexpr int kLingerOption = 0x0080;   // winsock::SO_LINGER
std::atomic<int> gStartups {0};

// Payload that a connection's send buffer surely takes while it has sent no
// more than this: well below the smallest buffer Linux gives a socket
// (SOCK_MIN_SNDBUF, 4 608 bytes, accounting included).
constexpr std::size_t kSurelyFree = 2048;

// How long a close may wait to hand over bytes kept back by "more follows".
constexpr int kCloseFlushMs = 2000;

// How long a call of a socket in non-blocking mode may wait in the system
// (a connect, a look for a connection, a receive with MSG_WAITMOMENT): what
// it waits for is mostly a moment away on this machine or a near one, and a
// wait in the call costs less than one in the event loop. Nothing else is
// handled meanwhile. The system rounds it up to a tick of its clock.
constexpr ::timeval kMoment {0, 1000};

// Made before any code runs (it holds nothing), so asking for it costs no
// check of a first use.
constinit TPosixWinsock gPosixApi;
TWinsockApi* gApi = nullptr;

int Fail(int error)
{
    tLastError = error;
    return SOCKET_ERROR;
}

int FailErrno() { return Fail(ErrorFromErrno(errno)); }

// The flag that keeps a call of a socket in non-blocking mode from waiting.
int DontWait(const detail::SocketState& state) { return state.NonBlocking ? MSG_DONTWAIT : 0; }

// A call bounded by the time-outs of a moment that ran out, or that a signal
// ended (such calls are never restarted), would have blocked.
bool MomentPassed() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// Gives a socket in non-blocking mode its time-outs of a moment.
void MomentTimeOuts(detail::SocketState& state)
{
    if (state.MomentTimeOuts || !state.NonBlocking)
        return;
    ::setsockopt(state.Fd, SOL_SOCKET, SO_RCVTIMEO, &kMoment, sizeof kMoment);
    ::setsockopt(state.Fd, SOL_SOCKET, SO_SNDTIMEO, &kMoment, sizeof kMoment);
    state.MomentTimeOuts = true;
}

// Errors after which the connection can carry nothing more.
bool BreaksConnection(int error)
{
    switch (error) {
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EPIPE:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return true;
    default:
        return false;
    }
}

// Keeps the first break a connection reports: the system tells it once and
// then reports a plain end of stream.
int Broken(detail::SocketState& state, int error)
{
    if (BreaksConnection(error) && !state.BrokenBy)
        state.BrokenBy = ErrorFromErrno(error);
    return ErrorFromErrno(error);
}

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

// Small writes leave at once: the components' sends are whole messages or
// the last part of one. Only a send behind bytes already sent can be held
// back for their acknowledgement, so a connection sets it before its second
// send (see SendNow); a listening socket sets it once for all its
// connections.
void NoDelay(detail::SocketState& state)
{
    if (state.NoDelay)
        return;
    const int on = 1;
    ::setsockopt(state.Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    state.NoDelay = true;
}

// Hands bytes kept back by "more follows" to the system without waiting;
// true when none are left.
bool FlushSendAhead(detail::SocketState& state)
{
    std::string& ahead = state.SendAhead;
    while (!ahead.empty()) {
        if (state.SentTotal > 0)
            NoDelay(state);
        const ssize_t n = ::send(state.Fd, ahead.data(), ahead.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        state.SentTotal += static_cast<std::size_t>(n);
        ahead.erase(0, static_cast<std::size_t>(n));
    }
    return ahead.empty();
}

// As FlushSendAhead, waiting a bounded time for room.
bool DeliverSendAhead(detail::SocketState& state)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseFlushMs);
    while (!FlushSendAhead(state)) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd room {state.Fd, POLLOUT, 0};
        if (left <= 0 || ::poll(&room, 1, static_cast<int>(left)) <= 0)
            return false;
    }
    return true;
}

// Makes the close that follows reset the connection.
void AbortOnClose(int fd)
{
    const ::linger now {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

// Puts a new system socket under the number of one whose connection attempt
// failed: the system's socket cannot try again, the interface's can.
bool Renew(detail::SocketState& state)
{
    const int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fresh < 0)
        return false;
    const bool moved = ::dup3(fresh, state.Fd, O_CLOEXEC) == state.Fd;
    const int error = errno;
    ::close(fresh);
    errno = error;
    if (moved)
        detail::Renewed(state);
    return moved;
}

::sockaddr_in ToPosix(const sockaddr* name)
{
    winsock::sockaddr_in in;
    std::memcpy(&in, name, sizeof in);
    ::sockaddr_in out {};
    out.sin_family = static_cast<sa_family_t>(in.sin_family);
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr.s_addr;
    return out;
}

} // namespace

TWinsockApi& Api()
{
    return gApi ? *gApi : gPosixApi;
}

TWinsockOverride::TWinsockOverride(TWinsockApi& api) : FPrevious(gApi)
{
    gApi = &api;
}

TWinsockOverride::~TWinsockOverride()
{
    gApi = FPrevious;
}

int StartupCount()
{
    return gStartups;
}

int ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case ENFILE: return WSAEMFILE;
    case ENOMEM: return WSAENOBUFS;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case EPIPE: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

std::uint32_t inet_addr(const char* text)
{
    // The common form, four decimal numbers without leading zeros, is read
    // here; every other form (octal, hexadecimal, fewer parts) the system's
    // way. Each connect and listen asks.
    unsigned char bytes[4];
    const char* at = text;
    for (unsigned char& byte : bytes) {
        const bool last = &byte == &bytes[3];
        unsigned value = 0;
        const char* digits = at;
        while (*at >= '0' && *at <= '9' && at - digits < 3)
            value = value * 10 + static_cast<unsigned>(*at++ - '0');
        const bool plain = at > digits && value <= 255 && !(*digits == '0' && at - digits > 1);
        if (!plain || *at != (last ? '\0' : '.'))
            return ::inet_addr(text);
        byte = static_cast<unsigned char>(value);
        ++at;
    }
    std::uint32_t address; // network order: the bytes as written
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::uint16_t htons(std::uint16_t value)
{
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

int TPosixWinsock::WSAStartup(std::uint16_t versionRequested, WSADATA* data)
{
    if ((versionRequested & 0xFF) < 1)
        return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    std::strncpy(data->szDescription, "Ferrolink sockets on POSIX", WSADESCRIPTION_LEN);
    std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
    data->iMaxSockets = 0xFFFF;
    data->iMaxUdpDg = 0;
    ++gStartups;
    return 0;
}

int TPosixWinsock::WSACleanup()
{
    if (gStartups == 0)
        return Fail(WSANOTINITIALISED);
    --gStartups;
    return 0;
}

int TPosixWinsock::WSAGetLastError()
{
    return tLastError;
}

void TPosixWinsock::WSASetLastError(int error)
{
    tLastError = error;
}

SOCKET TPosixWinsock::socket(int af, int type, int protocol)
{
    if (gStartups == 0) {
        Fail(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    detail::Register(fd, detail::Phase::Fresh);
    return static_cast<SOCKET>(fd);
}

int TPosixWinsock::closesocket(SOCKET s)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    // Bytes a send has counted either leave, or the peer learns of the loss
    // by a reset: a plain end would pass a cut stream off as whole.
    if (!state->AbortOnClose && !DeliverSendAhead(*state))
        AbortOnClose(state->Fd);
    if (state->Taken >= 0)
        ::close(state->Taken); // a connection a look took and nobody accepted
    detail::Unregister(s);
    return ::close(static_cast<int>(s)) == 0 ? 0 : FailErrno();
}

int TPosixWinsock::connect(SOCKET s, const sockaddr* name, int nameLen)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (nameLen < 16)
        return Fail(WSAEFAULT);
    if (state->AttemptFailed && !Renew(*state))
        return FailErrno();
    MomentTimeOuts(*state);
    const ::sockaddr_in to = ToPosix(name);
    const bool connected = ::connect(state->Fd, reinterpret_cast<const ::sockaddr*>(&to), sizeof to) == 0;
    const int error = connected ? 0 : ErrorFromErrno(errno);
    if (!state->NonBlocking) {
        if (connected)
            detail::ConnectCompleted(*state, 0);
        return connected ? 0 : Fail(error);
    }
    // The attempt has waited a moment: near peers (this machine above all)
    // have answered by then, and the outcome is announced at once; otherwise
    // it comes through the readiness watch. Either way the interface's
    // non-blocking connect reports would-block.
    if (!connected && (errno == EINPROGRESS || errno == EINTR)) {
        detail::ConnectStarted(*state);
        return Fail(WSAEWOULDBLOCK);
    }
    if (error == WSAEISCONN || error == WSAEALREADY)
        return Fail(error);
    detail::ConnectCompleted(*state, error);
    return Fail(connected ? WSAEWOULDBLOCK : error);
}

int TPosixWinsock::bind(SOCKET s, const sockaddr* name, int nameLen)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (nameLen < 16)
        return Fail(WSAEFAULT);
    // A socket is bound once, as the system would answer again.
    if (state->Bound)
        return Fail(WSAEINVAL);
    // A listener may take a port whose earlier connections linger in
    // TIME_WAIT, but never one another listener holds.
    const int on = 1;
    ::setsockopt(state->Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const ::sockaddr_in at = ToPosix(name);
    if (::bind(state->Fd, reinterpret_cast<const ::sockaddr*>(&at), sizeof at) != 0)
        return FailErrno();
    state->Bound = true;
    return 0;
}

int TPosixWinsock::listen(SOCKET s, int backlog)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    // An unbound socket cannot listen (POSIX would pick a port at random).
    if (!state->Bound)
        return Fail(WSAEINVAL);
    // Listening again with the same backlog changes nothing.
    if (state->State == detail::Phase::Listening && state->Backlog == backlog)
        return 0;
    NoDelay(*state);
    if (::listen(state->Fd, backlog) != 0)
        return FailErrno();
    state->Backlog = backlog;
    detail::ListenStarted(*state);
    return 0;
}

SOCKET TPosixWinsock::accept(SOCKET s, sockaddr* addr, int* addrLen)
{
    detail::SocketState* state = detail::Find(s);
    if (!state) {
        Fail(WSAENOTSOCK);
        return INVALID_SOCKET;
    }
    ::sockaddr_in from = state->TakenFrom;
    int fd = std::exchange(state->Taken, -1); // the one a look took, if any
    if (fd < 0) {
        // In non-blocking mode a moment at most, as nothing may be pending.
        socklen_t fromLen = sizeof from;
        fd = ::accept4(state->Fd, reinterpret_cast<::sockaddr*>(&from), &fromLen, SOCK_CLOEXEC);
        if (fd < 0 && state->NonBlocking && MomentPassed())
            errno = EAGAIN;
    }
    detail::Accepted(*state);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    detail::SocketState& accepted = detail::Register(fd, detail::Phase::Connected);
    accepted.NonBlocking = state->NonBlocking;
    accepted.MomentTimeOuts = state->MomentTimeOuts; // the system's accepted socket inherits them
    accepted.NoDelay = state->NoDelay;
    if (addr && addrLen && *addrLen >= 16) {
        winsock::sockaddr_in peer {};
        peer.sin_family = AF_INET;
        peer.sin_port = from.sin_port;
        peer.sin_addr.s_addr = from.sin_addr.s_addr;
        std::memcpy(addr, &peer, sizeof peer);
        *addrLen = sizeof peer;
    }
    return static_cast<SOCKET>(fd);
}

int TPosixWinsock::send(SOCKET s, const char* buf, int len, int flags)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (state->BrokenBy)
        return Fail(state->BrokenBy);
    const auto length = static_cast<std::size_t>(std::max(len, 0));
    std::string& ahead = state->SendAhead;
    if (flags & kMoreComing) {
        // More follows: keep it while the system is sure to take all that
        // is kept, as it would have taken it now. A connection that has sent
        // little and never found its buffer full has room for a small batch
        // without asking (the smallest buffer the system gives is larger);
        // a batch that grows beyond asks the system once.
        if (ahead.empty()) {
            const bool fresh = !state->SendBlocked && state->SentTotal < kSurelyFree;
            state->RoomAsked = !fresh;
            state->SendAheadRoom = fresh ? kSurelyFree - state->SentTotal : std::min(SendRoom(state->Fd), detail::kSendAheadSize);
            if (ahead.capacity() < detail::kSendAheadSize)
                ahead.reserve(detail::kSendAheadSize);
        }
        if (ahead.size() + length > state->SendAheadRoom && !state->RoomAsked) {
            state->RoomAsked = true;
            state->SendAheadRoom = std::max(state->SendAheadRoom, std::min(SendRoom(state->Fd), detail::kSendAheadSize));
        }
        if (ahead.size() + length <= state->SendAheadRoom) {
            ahead.append(buf, length);
            return len;
        }
    } else if (length == 0 && ahead.empty()) {
        return 0; // nothing to send and nothing kept
    }
    // Whatever waits goes first, together with this send; a send of no
    // bytes hands over what waits.
    if (state->SentTotal > 0)
        NoDelay(*state);
    iovec parts[2] = {{ahead.data(), ahead.size()}, {const_cast<char*>(buf), length}};
    msghdr message {};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    const int posixFlags = (flags & ~(kMoreComing | kWaitMoment | MSG_PEEK)) | MSG_NOSIGNAL | DontWait(*state);
    const ssize_t n = ::sendmsg(state->Fd, &message, posixFlags);
    if (n < 0) {
        const int error = Broken(*state, errno);
        if (error == WSAEWOULDBLOCK)
            detail::SendWouldBlock(*state);
        return Fail(error);
    }
    const auto sent = static_cast<std::size_t>(n);
    state->SentTotal += sent;
    if (sent < ahead.size()) {
        // Not even what waited went out (the system ran short of memory):
        // this send took nothing, and the rest waits for the next.
        ahead.erase(0, sent);
        detail::SendWouldBlock(*state);
        return Fail(WSAEWOULDBLOCK);
    }
    const std::size_t ofThis = sent - ahead.size();
    ahead.clear();
    return static_cast<int>(ofThis);
}

int TPosixWinsock::recv(SOCKET s, char* buf, int len, int flags)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    FlushSendAhead(*state); // a reply never waits for bytes we kept back
    const auto wanted = static_cast<std::size_t>(std::max(len, 0));
    if (state->Buffered() == 0 && state->BrokenBy) {
        detail::Received(*state);
        return Fail(state->BrokenBy);
    }
    if (state->Buffered() < wanted && state->Buffered() < detail::kReadAheadSize && !state->EndOfStream && !state->BrokenBy) {
        // Take what the connection holds now: all of it when nothing is
        // buffered (as a receive would), more without waiting when some is,
        // so a peek sees everything that has arrived.
        if (!state->ReadAhead)
            state->ReadAhead = std::make_unique_for_overwrite<char[]>(detail::kReadAheadSize);
        char* ahead = state->ReadAhead.get();
        std::memmove(ahead, ahead + state->AheadBegin, state->Buffered());
        state->AheadEnd = state->Buffered();
        state->AheadBegin = 0;
        const bool some = state->AheadEnd > 0;
        // With nothing buffered, a receive in blocking mode waits, and one
        // with MSG_WAITMOMENT waits a moment.
        const bool wait = !some && (!state->NonBlocking || ((flags & kWaitMoment) && state->MomentTimeOuts));
        const ssize_t n = ::recv(state->Fd, ahead + state->AheadEnd, detail::kReadAheadSize - state->AheadEnd,
                                 wait ? 0 : MSG_DONTWAIT);
        if (n < 0 && state->NonBlocking && MomentPassed())
            errno = EAGAIN;
        const int error = n < 0 ? Broken(*state, errno) : 0;
        if (n < 0 && !some) {
            detail::Received(*state);
            return Fail(error);
        }
        if (n == 0)
            state->EndOfStream = true;
        else if (n > 0)
            state->AheadEnd += static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(state->Buffered(), wanted);
    std::memcpy(buf, state->ReadAhead.get() + state->AheadBegin, n);
    if (!(flags & MSG_PEEK))
        state->AheadBegin += n;
    detail::Received(*state);
    return static_cast<int>(n);
}

int TPosixWinsock::setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (level != kSocketLevel || optName != kLingerOption)
        return Fail(WSAENOPROTOOPT);
    if (!optVal || optLen < static_cast<int>(sizeof(winsock::linger)))
        return Fail(WSAEFAULT);
    winsock::linger value;
    std::memcpy(&value, optVal, sizeof value);
    const ::linger posix {value.l_onoff != 0, value.l_linger};
    if (::setsockopt(state->Fd, SOL_SOCKET, SO_LINGER, &posix, sizeof posix) != 0)
        return FailErrno();
    state->AbortOnClose = value.l_onoff != 0 && value.l_linger == 0;
    if (state->AbortOnClose)
        state->SendAhead.clear(); // a reset drops what the system holds as well
    return 0;
}

int TPosixWinsock::WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events)
{
    detail::SocketState* state = detail::Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    state->NonBlocking = true;
    MomentTimeOuts(*state);
    detail::Select(*state, window, msg, events);
    return 0;
}

} // namespace ferro::winsock
