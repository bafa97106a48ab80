// Internal to the socket library stand-in: what it knows of each open
// socket, in parts that start afresh together (a renewal is "these parts
// begin again"), and the notification rules of WSAAsyncSelect that act on
// it. docs/transport.md lists every mechanism and where it departs from the
// interface it imitates.
#pragma once

#include "winsock.h"

#include "connection.h"
#include "listener.h"
#include "socketwatch.h"

#include <netinet/in.h>

#include <memory>

namespace ferro::tls {
class TSession;
struct TSessionDeleter {
    void operator()(TSession* session) const;
};
} // namespace ferro::tls

namespace ferro::winsock::detail {

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
// each call either passes MSG_DONTWAIT or, where a bounded wait is wanted (a
// connect, an early accept, ext::MSG_WAITMOMENT), is bounded by the socket's
// receive and send time-outs of a moment (bounded waits, connection.h).
struct ModePart {
    int Family = PF_INET; // the system socket's: a connect or bind of the other family renews it
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
    explicit SocketState(int fd) : Conn(fd) {}
    // The system socket and what carries its bytes (transport/connection.h):
    // its read-ahead, send batch and break memory.
    net::TConnection Conn;
    ConnectionPart Link;
    ModePart Mode;
    SelectionPart Selection;
    // A listening socket's backlog and early accept (transport/listener.h).
    net::TListener Listening;
    std::unique_ptr<TSocketWatch> Watch;
    // TLS on the connection (tls_session.h): sends and receives go through
    // it, and it sends and receives by the parts above.
    std::unique_ptr<tls::TSession, tls::TSessionDeleter> Tls;
};

// The interface's error for the connection's break; 0 while it is whole.
inline int BrokenBy(const SocketState& state)
{
    return state.Conn.BrokenBy() ? ErrorFromErrno(state.Conn.BrokenBy()) : 0;
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
