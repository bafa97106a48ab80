// Renewal: a system socket whose connection attempt failed (or was given up)
// cannot try again, but the interface's socket can, under the same number.
// A fresh system socket is put under that number (dup3), and the parts of
// the state that belong to a connection begin again; the selection stays.
#pragma once

#include "socket_state.h"

namespace ferro::winsock::detail {

// Puts a fresh system socket of `family` (sys::kInet4, sys::kInet6)
// under the state's number. 0, or the system's error (positive) when none
// can be had.
[[nodiscard]] int Renew(SocketState& state, int family);

} // namespace ferro::winsock::detail
