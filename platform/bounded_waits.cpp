#include "bounded_waits.h"

#include "system_socket.h"

namespace ferro::winsock::detail {

namespace {

// The system rounds it up to a tick of its clock.
constexpr ::timeval kMoment {0, 1000};

} // namespace

void BoundedTimeOuts(SocketState& state)
{
    if (state.Mode.BoundedTimeOuts || !state.Mode.NonBlocking)
        return;
    sys::SetOption(state.Conn.Fd(), SOL_SOCKET, SO_RCVTIMEO, &kMoment, sizeof kMoment);
    sys::SetOption(state.Conn.Fd(), SOL_SOCKET, SO_SNDTIMEO, &kMoment, sizeof kMoment);
    state.Mode.BoundedTimeOuts = true;
}

} // namespace ferro::winsock::detail
