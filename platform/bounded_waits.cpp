#include "bounded_waits.h"

#include <sys/socket.h>

#include <cerrno>

namespace ferro::winsock::detail {

namespace {

// The system rounds it up to a tick of its clock.
constexpr ::timeval kMoment {0, 1000};

} // namespace

void BoundedTimeOuts(SocketState& state)
{
    if (state.Mode.BoundedTimeOuts || !state.Mode.NonBlocking)
        return;
    ::setsockopt(state.Fd, SOL_SOCKET, SO_RCVTIMEO, &kMoment, sizeof kMoment);
    ::setsockopt(state.Fd, SOL_SOCKET, SO_SNDTIMEO, &kMoment, sizeof kMoment);
    state.Mode.BoundedTimeOuts = true;
}

bool BoundedWaitEnded(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace ferro::winsock::detail
