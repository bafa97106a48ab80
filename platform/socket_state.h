// Internal to the socket library stand-in: what it knows of each open
// socket, in parts that start afresh together (a renewal is "these parts
// begin again"), and the notification rules of WSAAsyncSelect that act on
// it. docs/transport.md lists every mechanism and where it departs from the
// interface it imitates.
#pragma once

#include "winsock.h"

#include "channel.h"
#include "connection.h"
#include "listener.h"
#include "socketwatch.h"
#include "system_socket.h"
#include "tls_channel.h"


#include <cerrno>

#include <memory>

namespace ferro::winsock::detail {

struct SocketState;

// The connection as a plain channel (transport/channel.h): its sends and
// receives in the socket's mode, telling the notification rules of each,
// so that a TLS channel's records count as the plain bytes they are.
class TPlainChannel final : public net::TChannel {
public:
    explicit TPlainChannel(SocketState& state) : FState(state) {}
    long Send(const char* bytes, std::size_t length, int flags) override;
    long Receive(char* into, std::size_t length, int flags) override;
    long ReceiveLeftovers(char* into, std::size_t length) override;
    void AwaitRoom(int ms) override;

private:
    SocketState& FState;
};

enum class Phase { Fresh, Connecting, Connected, Listening };

// What the connection is and how it ended.
struct ConnectionPart {
    Phase State = Phase::Fresh;
    bool Bound = false;
    // A connection attempt failed: the system's socket cannot try again, so
    // the next connect starts on a new one under the same number (renewal).
    bool AttemptFailed = false;
    // Closing resets the connection instead of ending it (SO_LINGER 0).
    bool AbortOnClose = false;
};

// The interface's mode. The system socket blocks, but in non-blocking mode
// each call either does not wait (sys::kDontWait) or, where a bounded wait is wanted (a
// connect, an early accept, ext::MSG_WAITMOMENT), is bounded by the socket's
// receive and send time-outs of a moment (bounded waits, connection.h).
struct ModePart {
    int Family = sys::kInet4; // the system socket's: a connect or bind of the other family renews it
    bool NonBlocking = false;
};

// The selection: where notifications go, which events, and what is armed.
struct SelectionPart {
    HWND Window = 0;
    unsigned Msg = 0;
    long Events = 0;
    // One message per occurrence: an event is armed until its message is
    // posted, and re-armed by its re-enabling call.
    bool ReadArmed = true;
    bool WriteArmed = true;
    bool AcceptArmed = true;
    bool CloseReported = false;
    // Data (or the end of the stream) is waiting that no message may announce
    // until the next recv; the readiness watch rests meanwhile.
    bool ReadBlocked = false;
    // A send found the connection's buffer full; until the watch sees room
    // again, FD_WRITE waits for it.
    bool SendBlocked = false;
    bool ReadWatched = false; // what the watch was last told
    bool WriteWatched = false;
};

struct SocketState {
    explicit SocketState(int fd) : Conn(fd), Plain(*this) {}
    SocketState(const SocketState&) = delete;
    SocketState& operator=(const SocketState&) = delete;
    // The system socket and what carries its bytes (transport/connection.h):
    // its read-ahead, send batch and break memory.
    net::TConnection Conn;
    ConnectionPart Link;
    ModePart Mode;
    SelectionPart Selection;
    // A listening socket's backlog and early accept (transport/listener.h).
    net::TListener Listening;
    std::unique_ptr<TSocketWatch> Watch;
    // What the interface's send and recv go by: the plain channel, or a TLS
    // channel over it once TLS is started (transport/tls_channel.h).
    TPlainChannel Plain;
    std::unique_ptr<net::TTlsChannel> Tls;
    net::TChannel& Channel() { return Tls ? static_cast<net::TChannel&>(*Tls) : Plain; }
};

// The interface's error for the connection's break; 0 while it is whole.
inline int BrokenBy(const SocketState& state)
{
    return state.Conn.BrokenBy() ? ErrorFromErrno(state.Conn.BrokenBy()) : 0;
}

// The flag that keeps a call of a socket in non-blocking mode from waiting.
inline int DontWait(const SocketState& state) { return state.Mode.NonBlocking ? sys::kDontWait : 0; }

// The error of a failed call (`result`, minus the errno): in non-blocking
// mode, a bounded wait that ran out is a would-block.
inline int PosixError(const SocketState& state, long result)
{
    return state.Mode.NonBlocking && sys::NothingYet(result) ? EAGAIN : static_cast<int>(-result);
}

// The state of an open socket, or null when `s` is not one of ours.
SocketState* Find(SOCKET s);
SocketState& Register(int fd, Phase phase);
void Unregister(SOCKET s);

// Notification rules.
void Select(SocketState& state, HWND window, unsigned msg, long events);
void ConnectStarted(SocketState& state);
void ConnectCompleted(SocketState& state, int error);
// The socket's system socket was replaced by a fresh one under its number.
void Renewed(SocketState& state);
void SendWouldBlock(SocketState& state);
void Received(SocketState& state);
void Accepted(SocketState& state);
void ListenStarted(SocketState& state);
// What the event loop's watch saw: the socket turned readable or writable.
void OnReadable(SOCKET s);
void OnWritable(SOCKET s);
// Tells the event loop's watch what the state now wants watched.
void UpdateWatch(SocketState& state);

} // namespace ferro::winsock::detail
