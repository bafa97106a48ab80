// Internal to the stand-in: a connection's sends and receives as they go to
// the system, through read-ahead, send batching, bounded waits and break
// memory. The interface's send and recv are these, unless the connection is
// a TLS connection (tls_session.h), whose records travel by them.
#pragma once

#include "socket_state.h"

namespace ferro::winsock::detail {

// As the interface's send and recv on `state`'s connection: the count, or
// SOCKET_ERROR with the error set.
int SendPlain(SocketState& state, const char* buf, int len, int flags);
int ReceivePlain(SocketState& state, char* buf, int len, int flags);
// What the peer sent before the connection broke, which the system still
// holds after reporting the break (a reset met by a send): up to `len`
// bytes, without waiting; 0 when there is none.
int ReceiveLeftovers(SocketState& state, char* buf, int len);

// The interface's values of the flags the system takes for its own names.
constexpr int kMoreComing = 0x8000; // ext::MSG_MORE
constexpr int kWaitMoment = 0x4000; // ext::MSG_WAITMOMENT

} // namespace ferro::winsock::detail
