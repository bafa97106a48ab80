// Internal to the socket library stand-in: what it knows of each open socket,
// and the notification rules of WSAAsyncSelect that act on it.
#pragma once

#include "winsock.h"

#include "socketwatch.h"

#include <memory>

namespace winsock::detail {

enum class Phase { Fresh, Connecting, Connected, Listening };

struct SocketState {
    int Fd = -1;
    Phase State = Phase::Fresh;
    bool Bound = false;
    bool NonBlocking = false;

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

    std::unique_ptr<TSocketWatch> Watch;
};

// The state of an open socket, or null when `s` is not one of ours.
SocketState* Find(SOCKET s);
SocketState& Register(int fd, Phase phase);
void Unregister(SOCKET s);

// Notification rules.
void Select(SocketState& state, HWND window, unsigned msg, long events);
void ConnectStarted(SocketState& state);
void ConnectCompleted(SocketState& state, int error);
void SendWouldBlock(SocketState& state);
void Received(SocketState& state);
void Accepted(SocketState& state);
void ListenStarted(SocketState& state);

} // namespace winsock::detail
