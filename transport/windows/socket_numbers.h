// Internal to the Windows system unit: the numbers of ours that name the
// system's sockets (Windows names them by handles), each with the socket's
// wait limit. Shared by every thread.
#pragma once

#include "system_handles.h"

namespace ferro::sys {

struct TSlot {
    SOCKET Socket = INVALID_SOCKET;
    long WaitLimit = -1; // microseconds a call may wait; -1: no limit
};

// The socket under `fd` and its wait limit; INVALID_SOCKET for none.
TSlot Look(int fd);
// A free number for `socket`.
int Number(SOCKET socket, long waitLimit);
// Puts `fresh` under `fd` without a wait limit; the socket it replaces, or
// INVALID_SOCKET (nothing changed) when `fd` names none.
SOCKET Replace(int fd, SOCKET fresh);
// Frees `fd`; the socket it named, or INVALID_SOCKET.
SOCKET Release(int fd);
// False when `fd` names no socket.
bool SetWaitLimit(int fd, long microseconds);

} // namespace ferro::sys
