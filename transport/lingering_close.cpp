#include "lingering_close.h"

#include "system_socket.h"

#include <chrono>

namespace ferro::net {

void LingerUntilPeerEnds(int fd, int ms)
{
    if (sys::ShutdownSending(fd) != 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char dropped[16384];
    for (;;) {
        const long n = sys::Receive(fd, dropped, sizeof dropped, sys::kDontWait);
        if (n == 0 || (n < 0 && !sys::NothingYet(n)))
            return; // the peer's end, or a connection that is gone
        if (n > 0)
            continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || sys::Poll(fd, sys::kReadable, static_cast<int>(left)) <= 0)
            return;
    }
}

} // namespace ferro::net
