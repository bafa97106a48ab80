// Internal to the socket library stand-in: how a call fails.
#pragma once

#include "winsock.h"

namespace ferro::winsock::detail {

// Sets the thread's last error; returns SOCKET_ERROR.
int Fail(int error);
// Whether the library is started (WSAStartup without its WSACleanup).
bool Started();

} // namespace ferro::winsock::detail
