// The interface's TLS calls (ext::): each finds the socket's TLS channel and
// asks it, and tells its failures in the interface's numbers and words.
#include "addresses.h"
#include "socket_state.h"
#include "winsock_errors.h"

#include <ferrolink/tls.h>

namespace ferro::winsock::ext {

using namespace detail;

namespace {

// A connection that broke under TLS, in words, its number after them
// ("the peer reset the connection (10054)").
std::string BrokenConnection(int error)
{
    const char* words = error == WSAECONNRESET ? "the peer reset the connection"
        : error == WSAECONNABORTED             ? "the connection was aborted"
        : error == WSAETIMEDOUT                ? "the connection timed out"
        : error == WSAESHUTDOWN                ? "the peer closed the connection"
        : error == WSAENETUNREACH || error == WSAEHOSTUNREACH ? "the peer can no longer be reached"
                                                              : "the connection broke";
    return std::string(words) + " (" + std::to_string(error) + ")";
}

} // namespace

int StartTls(SOCKET s, const std::shared_ptr<tls::TContext>& context, const std::string& peerName)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (state->Link.State != Phase::Connected || state->Tls)
        return Fail(WSAEINVAL);
    state->Tls = net::OpenTlsChannel(state->Plain, context, peerName, PeerAddressBytes(state->Conn.Fd()));
    return state->Tls ? 0 : Fail(WSAEINVAL);
}

int TlsHandshake(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (!state->Tls)
        return Fail(WSAEINVAL);
    const long result = state->Tls->Handshake();
    return result == 0 ? 0 : Fail(ErrorFromErrno(static_cast<int>(-result)));
}

bool TlsWantsWrite(SOCKET s)
{
    const SocketState* state = Find(s);
    return state && state->Tls && state->Tls->WantsWrite();
}

std::string TlsFailure(SOCKET s)
{
    const SocketState* state = Find(s);
    if (!state || !state->Tls || !state->Tls->BrokenBy())
        return {};
    const std::string& reason = state->Tls->Reason();
    return reason.empty() ? BrokenConnection(ErrorFromErrno(state->Tls->BrokenBy())) : reason;
}

std::string TlsDescription(SOCKET s)
{
    const SocketState* state = Find(s);
    return state && state->Tls ? state->Tls->Description() : std::string();
}

std::string TlsPinnedDatesNote(SOCKET s)
{
    const SocketState* state = Find(s);
    return state && state->Tls ? state->Tls->PinnedDatesNote() : std::string();
}

} // namespace ferro::winsock::ext
