#include "lingering_close.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

namespace ferro::winsock::detail {

void LingerUntilPeerEnds(int fd, int ms)
{
    if (::shutdown(fd, SHUT_WR) != 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char dropped[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, dropped, sizeof dropped, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return; // the peer's end, or a connection that is gone
        if (n > 0)
            continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd more {fd, POLLIN, 0};
        if (left <= 0 || ::poll(&more, 1, static_cast<int>(left)) <= 0)
            return;
    }
}

} // namespace ferro::winsock::detail
