// The interface's early accept (ext::AcceptEarly) on a listening socket's
// listener: a connection looked for, and with bounded waits taken, a moment
// before it is asked for (transport/listener.h).
#include "socket_state.h"

namespace ferro::winsock::ext {

bool AcceptEarly(SOCKET s)
{
    detail::SocketState* state = detail::Find(s);
    if (!state || state->Link.State != detail::Phase::Listening)
        return false;
    return state->Listening.LookEarly(state->Conn.Fd(), state->Conn.WaitsBounded());
}

} // namespace ferro::winsock::ext
