#include "renewal.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ferro::winsock::detail {

bool Renew(SocketState& state, int family)
{
    const int fresh = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fresh < 0)
        return false;
    const bool moved = ::dup3(fresh, state.Fd, O_CLOEXEC) == state.Fd;
    const int error = errno;
    ::close(fresh);
    errno = error;
    if (moved) {
        state.Mode.Family = family;
        Renewed(state);
    }
    return moved;
}

} // namespace ferro::winsock::detail
