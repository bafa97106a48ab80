// Bounded waits (the stand-in's "moments"): in the interface's non-blocking
// mode, a connect, an early accept and a receive with ext::MSG_WAITMOMENT
// wait in the system call itself, bounded by receive and send time-outs of
// one tick of the system's clock (SO_RCVTIMEO, SO_SNDTIMEO), instead of a
// poll before the call: what they wait for is mostly that close on this
// machine or a near one, and one call costs less than a turn of the event
// loop. Nothing else is handled meanwhile.
#pragma once

#include "socket_state.h"

namespace ferro::winsock::detail {

// Gives a socket in non-blocking mode its time-outs of a moment (once).
void BoundedTimeOuts(SocketState& state);
// A bounded call that failed because its bound ran out, or because a
// signal ended it (such calls are never restarted), would have blocked:
// sys::NothingYet tells it.

} // namespace ferro::winsock::detail
