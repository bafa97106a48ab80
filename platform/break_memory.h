// Break memory: the system tells a connection's reset (or abort, or time-out)
// once and then reports a plain end of stream; the interface reports the
// break at every later receive and send. The first break is kept in the
// socket's state (ConnectionPart::BrokenBy) and answered from there.
#pragma once

#include "socket_state.h"

namespace ferro::winsock::detail {

// The interface's error for the POSIX `error` of a receive, send or peek,
// keeping it as the connection's break when it is one.
int KeepBreak(SocketState& state, int error);

} // namespace ferro::winsock::detail
