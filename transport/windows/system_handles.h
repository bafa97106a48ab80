// Internal to the Windows build: the system's SOCKET behind one of the
// transport's socket numbers, for the platform's readiness watch, which
// hands the system's own socket to WSAAsyncSelect. Include after our own
// headers: it brings <winsock2.h>.
#pragma once

#include <winsock2.h>

namespace ferro::sys {

// The system's socket under `fd`; INVALID_SOCKET for none.
SOCKET SystemHandle(int fd);
// The number a system socket is known by; -1 for none of ours.
int NumberOf(SOCKET socket);

} // namespace ferro::sys
