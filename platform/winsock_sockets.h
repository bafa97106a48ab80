// Internal to the socket library stand-in: what it knows of each open socket,
// and the notification rules of WSAAsyncSelect that act on it.
#pragma once

#include "winsock.h"

#include "socketwatch.h"

#include <netinet/in.h>

#include <cstddef>
#include <memory>
#include <string>

namespace ferro::winsock::detail {

enum class Phase { Fresh, Connecting, Connected, Listening };

struct SocketState {
    int Fd = -1;
    Phase State = Phase::Fresh;
    bool Bound = false;
    int Backlog = -1; // of a listening socket
    // The interface's mode. The system socket blocks, but in non-blocking
    // mode each call either passes MSG_DONTWAIT or, where a wait of a moment
    // is wanted (a connect, a look, MSG_WAITMOMENT), is bounded by the
    // socket's time-outs of a moment.
    bool NonBlocking = false;
    bool MomentTimeOuts = false; // SO_RCVTIMEO and SO_SNDTIMEO are a moment
    bool NoDelay = false; // TCP_NODELAY is set

    // The selection: where notifications go and which events.
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
    // A listening socket was just looked at for a pending connection; the
    // next selection takes this answer instead of asking again. A connection
    // the look took waits here for the next accept.
    enum class Look { None, Pending, Empty } Looked = Look::None;
    int Taken = -1;
    ::sockaddr_in TakenFrom {};

    // Read-ahead: one system call takes what the connection holds, and the
    // small receives and peeks that follow are served from here.
    std::unique_ptr<char[]> ReadAhead;
    std::size_t AheadBegin = 0;
    std::size_t AheadEnd = 0;
    bool EndOfStream = false; // the peer's close was read into the buffer's tail

    std::size_t Buffered() const { return AheadEnd - AheadBegin; }

    // Sends marked "more follows" wait here and go out with the next send
    // that is not, in one system call. Only as many bytes wait as the
    // connection's buffer had room for when the first of them came, so that
    // handing them over never finds it full: what a send counts is the
    // system's.
    std::string SendAhead;
    std::size_t SendAheadRoom = 0;
    bool RoomAsked = false; // the system was asked for this batch's room
    std::size_t SentTotal = 0; // bytes the system has taken on this connection

    // The connection broke (a reset, an abort): every later receive and send
    // reports this error, as the interface does, instead of the end of stream
    // the system reports once it has told the error.
    int BrokenBy = 0;
    // A connection attempt failed: the system's socket cannot try again, so
    // the next connect starts on a new one under the same number.
    bool AttemptFailed = false;
    // Closing resets the connection instead of ending it (SO_LINGER 0).
    bool AbortOnClose = false;

    std::unique_ptr<TSocketWatch> Watch;
    bool ReadWatched = false;  // what the watch was last told
    bool WriteWatched = false;
};

constexpr std::size_t kReadAheadSize = 16384;
constexpr std::size_t kSendAheadSize = 16384;

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

} // namespace ferro::winsock::detail
