#include "renewal.h"

#include "system_socket.h"

namespace ferro::winsock::detail {

int Renew(SocketState& state, int family)
{
    const int result = sys::ReplaceStream(state.Conn.Fd(), family);
    if (result == 0) {
        state.Mode.Family = family;
        Renewed(state);
    }
    return -result;
}

} // namespace ferro::winsock::detail
