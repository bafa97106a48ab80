// A connection as a plain channel: its sends and receives in the socket's
// mode, each telling the notification rules what it met. Without TLS they
// are the interface's send and recv; with it, they carry its records.
#include "socket_state.h"

#include "system_socket.h"

#include <cerrno>

namespace ferro::winsock::detail {

long TPlainChannel::Send(const char* bytes, std::size_t length, int flags)
{
    const long n = FState.Conn.Send(bytes, length, (flags & net::kMore) != 0, FState.Selection.SendBlocked, DontWait(FState));
    if (n == -EAGAIN)
        SendWouldBlock(FState);
    return n;
}

long TPlainChannel::Receive(char* into, std::size_t length, int flags)
{
    // A receive waits as the mode says: a blocking socket's as long as it
    // takes, a non-blocking one's a moment when asked (a bounded wait), else
    // not at all.
    const bool wait = !FState.Mode.NonBlocking || ((flags & net::kWaitMoment) && FState.Conn.WaitsBounded());
    const long n = FState.Conn.Receive(into, length, (flags & net::kPeek) != 0, wait);
    Received(FState);
    return n >= 0 ? n : -PosixError(FState, n);
}

long TPlainChannel::ReceiveLeftovers(char* into, std::size_t length)
{
    return FState.Conn.ReceiveLeftovers(into, length);
}

void TPlainChannel::AwaitRoom(int ms)
{
    sys::Poll(FState.Conn.Fd(), sys::kWritable, ms);
}

} // namespace ferro::winsock::detail
