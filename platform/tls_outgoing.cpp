#include "tls_outgoing.h"

#include "plain_io.h"
#include "system_socket.h"
#include "winsock_errors.h"

#include <poll.h>

#include <chrono>

namespace ferro::tls {

using namespace winsock;

bool TOutgoing::Flush(detail::SocketState& state, int flags, int& error)
{
    error = 0;
    if (FBytes.empty())
        return true;
    const int n = detail::SendPlain(state, FBytes.data(), static_cast<int>(FBytes.size()), flags);
    if (n < 0) {
        error = WSAGetLastError();
        return false;
    }
    const auto sent = static_cast<std::size_t>(n);
    FBytes.erase(0, sent);
    std::size_t marks = 0;
    while (marks < FMarks.size() && FMarks[marks].End <= sent)
        FDelivered += FMarks[marks++].Plain;
    FMarks.erase(FMarks.begin(), FMarks.begin() + static_cast<std::ptrdiff_t>(marks));
    for (TMark& mark : FMarks)
        mark.End -= sent;
    return true;
}

bool TOutgoing::Deliver(detail::SocketState& state, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int error = 0;
    while (!FBytes.empty()) {
        if (!Flush(state, 0, error) && error != WSAEWOULDBLOCK)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (FBytes.empty() || left <= 0)
            break;
        sys::Poll(state.Conn.Fd(), POLLOUT, static_cast<int>(left));
    }
    return FBytes.empty();
}

} // namespace ferro::tls
