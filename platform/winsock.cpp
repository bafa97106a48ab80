// The socket library's calls on POSIX sockets, composed of the stand-in's
// mechanisms (docs/transport.md): read-ahead, send batching, bounded waits,
// the early accept, renewal and break memory, each in a unit of its own.
// The system's socket functions are called in system_socket.cpp alone.
#include "winsock.h"

#include "addresses.h"
#include "lingering_close.h"
#include "renewal.h"
#include "socket_state.h"
#include "system_socket.h"
#include "winsock_errors.h"


#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ferro::winsock {

using namespace detail;

namespace {

// The interface's values of names that the system headers take for their own.
constexpr int kSocketLevel = 0xFFFF;  // winsock::SOL_SOCKET
constexpr int kLingerOption = 0x0080; // winsock::SO_LINGER

// How long a close may wait to hand over bytes kept by send batching.
constexpr int kCloseFlushMs = 2000;
constexpr int kLingerMs = 500; // a TLS peer ends its side at our close_notify: at once, unless it is gone

// A non-blocking socket's calls that may wait do so a moment at most.
void BoundWaitsIfNonBlocking(SocketState& state)
{
    if (state.Mode.NonBlocking)
        state.Conn.BoundWaits();
}

// Makes the close that follows reset the connection.
void AbortOnClose(int fd)
{
    sys::SetLinger(fd, true, 0);
}

// The interface's outcome of a non-blocking connect: would-block, with the
// outcome announced at once when the bounded wait has seen it, otherwise by
// the readiness watch.
int ConnectOutcome(SocketState& state, bool connected, int posixError)
{
    const int error = connected ? 0 : ErrorFromErrno(posixError);
    if (!connected && (posixError == EINPROGRESS || posixError == EINTR)) {
        ConnectStarted(state);
        return Fail(WSAEWOULDBLOCK);
    }
    if (error == WSAEISCONN || error == WSAEALREADY)
        return Fail(error);
    ConnectCompleted(state, error);
    return Fail(connected ? WSAEWOULDBLOCK : error);
}

// A connect or bind to an address of the other family: the interface's
// socket was made for one family (the components make theirs before they
// know their peer), the system's cannot change, so a fresh one of the
// family wanted is put under the same number, as renewal does. Only a
// socket that has not connected, bound or listened can change. The any
// address of IPv6 takes IPv4 too (a dual-stack socket).
int MatchFamily(SocketState& state, const sys::TEndpoint& to)
{
    if (to.Family == state.Mode.Family)
        return 0;
    if (state.Link.State != Phase::Fresh || state.Link.Bound)
        return Fail(WSAEAFNOSUPPORT);
    if (const int error = Renew(state, to.Family))
        return Fail(ErrorFromErrno(error));
    return 0;
}

// The transport's flags for the interface's: the same values, chosen so.
int ChannelFlags(int flags)
{
    static_assert(net::kMore == ext::MSG_MORE && net::kWaitMoment == ext::MSG_WAITMOMENT && net::kPeek == MSG_PEEK);
    return flags;
}

void DualStackIfAny(const SocketState& state, const sys::TEndpoint& at)
{
    if (at.Family != sys::kInet6)
        return;
    static const unsigned char any[16] = {};
    sys::SetV6Only(state.Conn.Fd(), std::memcmp(at.Ip, any, sizeof any) != 0);
}

} // namespace

SOCKET TPosixWinsock::socket(int af, int type, int protocol)
{
    if (!Started()) {
        Fail(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    const int family = TransportFamily(af);
    if (family < 0) {
        Fail(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    const int fd = sys::OpenStream(family, type, protocol);
    if (fd < 0) {
        Fail(ErrorFromErrno(-fd));
        return INVALID_SOCKET;
    }
    Register(fd, Phase::Fresh).Mode.Family = family;
    return static_cast<SOCKET>(fd);
}

int TPosixWinsock::closesocket(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    // Bytes a send has counted either leave, or the peer learns of the loss
    // by a reset: a plain end would pass a cut stream off as whole.
    // A TLS connection's last records (close_notify) go first; a peer that
    // takes nothing more sees the end without them, as a plain close.
    if (state->Tls && !state->Link.AbortOnClose)
        state->Tls->Close(kCloseFlushMs, state->Mode.NonBlocking);
    const bool lingers = state->Tls && !state->Link.AbortOnClose && state->Tls->HearsUnasked();
    if (!state->Link.AbortOnClose && !state->Conn.Deliver(kCloseFlushMs))
        AbortOnClose(state->Conn.Fd());
    else if (lingers)
        net::LingerUntilPeerEnds(state->Conn.Fd(), kLingerMs);
    Unregister(s);
    const int closed = sys::Close(static_cast<int>(s));
    return closed == 0 ? 0 : Fail(ErrorFromErrno(-closed));
}

int TPosixWinsock::connect(SOCKET s, const sockaddr* name, int nameLen)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    sys::TEndpoint to;
    if (!ToEndpoint(name, nameLen, to))
        return Fail(nameLen < 16 ? WSAEFAULT : WSAEAFNOSUPPORT);
    if (const int error = state->Link.AttemptFailed ? Renew(*state, state->Mode.Family) : 0)
        return Fail(ErrorFromErrno(error));
    if (MatchFamily(*state, to) != 0)
        return SOCKET_ERROR;
    BoundWaitsIfNonBlocking(*state);
    const int result = sys::Connect(state->Conn.Fd(), to);
    const bool connected = result == 0;
    const int posixError = -result;
    if (state->Mode.NonBlocking)
        return ConnectOutcome(*state, connected, posixError);
    if (connected)
        ConnectCompleted(*state, 0);
    return connected ? 0 : Fail(ErrorFromErrno(posixError));
}

int TPosixWinsock::bind(SOCKET s, const sockaddr* name, int nameLen)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    sys::TEndpoint at;
    if (!ToEndpoint(name, nameLen, at))
        return Fail(nameLen < 16 ? WSAEFAULT : WSAEAFNOSUPPORT);
    // A socket is bound once, as the system would answer again.
    if (state->Link.Bound)
        return Fail(WSAEINVAL);
    if (MatchFamily(*state, at) != 0)
        return SOCKET_ERROR;
    DualStackIfAny(*state, at);
    // A listener may take a port whose earlier connections linger in
    // TIME_WAIT, but never one another listener holds.
    sys::SetReuseAddress(state->Conn.Fd());
    if (const int result = sys::Bind(state->Conn.Fd(), at))
        return Fail(ErrorFromErrno(-result));
    state->Link.Bound = true;
    return 0;
}

int TPosixWinsock::listen(SOCKET s, int backlog)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    // An unbound socket cannot listen (POSIX would pick a port at random).
    if (!state->Link.Bound)
        return Fail(WSAEINVAL);
    // Listening again with the same backlog changes nothing.
    if (state->Link.State == Phase::Listening && state->Listening.Backlog() == backlog)
        return 0;
    state->Conn.NoDelay(); // set once for all its connections
    if (const int result = state->Listening.Listen(state->Conn.Fd(), backlog))
        return Fail(ErrorFromErrno(-result));
    ListenStarted(*state);
    return 0;
}

SOCKET TPosixWinsock::accept(SOCKET s, sockaddr* addr, int* addrLen)
{
    SocketState* state = Find(s);
    if (!state) {
        Fail(WSAENOTSOCK);
        return INVALID_SOCKET;
    }
    // The one an early accept took, if any; else in non-blocking mode a
    // moment at most, as nothing may be pending.
    sys::TEndpoint from;
    const int fd = state->Listening.Accept(state->Conn.Fd(), from);
    Accepted(*state);
    if (fd < 0) {
        Fail(ErrorFromErrno(PosixError(*state, fd)));
        return INVALID_SOCKET;
    }
    SocketState& accepted = Register(fd, Phase::Connected);
    accepted.Mode = state->Mode;
    accepted.Conn.InheritBoundedWaits(state->Conn.WaitsBounded()); // the system's accepted socket inherits the time-outs
    accepted.Conn.InheritNoDelay(state->Conn.NoDelaySet());
    CopyAddress(FromEndpoint(from), addr, addrLen);
    return static_cast<SOCKET>(fd);
}

int TPosixWinsock::send(SOCKET s, const char* buf, int len, int flags)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    const long n = state->Channel().Send(buf, static_cast<std::size_t>(std::max(len, 0)), ChannelFlags(flags));
    return n >= 0 ? static_cast<int>(n) : Fail(ErrorFromErrno(static_cast<int>(-n)));
}

int TPosixWinsock::recv(SOCKET s, char* buf, int len, int flags)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    const long n = state->Channel().Receive(buf, static_cast<std::size_t>(std::max(len, 0)), ChannelFlags(flags));
    return n >= 0 ? static_cast<int>(n) : Fail(ErrorFromErrno(static_cast<int>(-n)));
}

int TPosixWinsock::setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (level != kSocketLevel || optName != kLingerOption)
        return Fail(WSAENOPROTOOPT);
    if (!optVal || optLen < static_cast<int>(sizeof(winsock::linger)))
        return Fail(WSAEFAULT);
    winsock::linger value;
    std::memcpy(&value, optVal, sizeof value);
    if (const int result = sys::SetLinger(state->Conn.Fd(), value.l_onoff != 0, value.l_linger))
        return Fail(ErrorFromErrno(-result));
    state->Link.AbortOnClose = value.l_onoff != 0 && value.l_linger == 0;
    if (state->Link.AbortOnClose)
        state->Conn.DropHeld(); // a reset drops what the system holds as well
    return 0;
}

int TPosixWinsock::WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    state->Mode.NonBlocking = true;
    BoundWaitsIfNonBlocking(*state);
    Select(*state, window, msg, events);
    return 0;
}

namespace ext {

bool AbandonConnect(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return false;
    if (state->Link.State != Phase::Connecting && !state->Link.AttemptFailed)
        return true;
    return Renew(*state, state->Mode.Family) == 0;
}

int PushHeld(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    const long n = state->Conn.PushHeld(DontWait(*state));
    if (n >= 0)
        return 0;
    const int error = ErrorFromErrno(static_cast<int>(-n));
    if (error == WSAEWOULDBLOCK)
        SendWouldBlock(*state);
    return Fail(error);
}

} // namespace ext

} // namespace ferro::winsock
