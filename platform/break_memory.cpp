#include "break_memory.h"

#include <cerrno>

namespace ferro::winsock::detail {

namespace {

// Errors after which the connection can carry nothing more.
bool BreaksConnection(int error)
{
    switch (error) {
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EPIPE:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return true;
    default:
        return false;
    }
}

} // namespace

int KeepBreak(SocketState& state, int error)
{
    if (BreaksConnection(error) && !state.Link.BrokenBy)
        state.Link.BrokenBy = ErrorFromErrno(error);
    return ErrorFromErrno(error);
}

} // namespace ferro::winsock::detail
