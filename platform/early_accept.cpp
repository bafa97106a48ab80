// The early accept: after a service a server looks a moment for the next
// connection (a sender posting one message after another is a moment away).
// With bounded waits the look is the accept itself, its connection parked
// for the next accept (one system call instead of a look and an accept);
// the next selection announces it at once either way.
#include "socket_state.h"

#include "system_socket.h"

#include <algorithm>

namespace ferro::winsock::ext {

bool AcceptEarly(SOCKET s)
{
    using Look = detail::ListeningPart::Look;
    detail::SocketState* state = detail::Find(s);
    if (!state || state->Link.State != detail::Phase::Listening)
        return false;
    if (state->Listening.Taken >= 0)
        return true;
    if (!state->Conn.WaitsBounded()) {
        const bool pending = detail::Pending(state->Conn.Fd(), 1);
        state->Listening.Looked = pending ? Look::Pending : Look::Empty;
        return pending;
    }
    // The accept waits the moment itself, and keeps what it takes for the
    // next accept: one system call instead of a look and an accept.
    const int taken = sys::Accept(state->Conn.Fd(), state->Listening.TakenFrom);
    state->Listening.Taken = std::max(taken, -1);
    // No connection came, or one came that cannot be taken now (out of
    // descriptors): then the accept that follows meets the cause itself.
    const bool none = sys::NothingYet(taken);
    state->Listening.Looked = none ? Look::Empty : Look::Pending;
    return !none;
}

} // namespace ferro::winsock::ext
