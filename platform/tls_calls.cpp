// The interface's TLS calls (ext::): each finds the socket's session and
// asks it.
#include "tls_session.h"

#include "socket_state.h"
#include "winsock_errors.h"

#include <ferrolink/tls.h>

namespace ferro::winsock::ext {

using namespace detail;

std::shared_ptr<tls::TContext> MakeTlsContext(const TTlsSettings& settings, bool server, std::string& failure)
{
    return tls::TContext::Make(settings, server, failure);
}

int StartTls(SOCKET s, const std::shared_ptr<tls::TContext>& context, const std::string& peerName)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    if (state->Link.State != Phase::Connected || state->Tls)
        return Fail(WSAEINVAL);
    state->Tls.reset(new tls::TSession(*state, context, peerName));
    return 0;
}

int TlsHandshake(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return Fail(WSAENOTSOCK);
    return state->Tls ? state->Tls->Handshake() : Fail(WSAEINVAL);
}

bool TlsWantsWrite(SOCKET s)
{
    const SocketState* state = Find(s);
    return state && state->Tls && state->Tls->WantsWrite();
}

std::string TlsFailure(SOCKET s)
{
    const SocketState* state = Find(s);
    return state && state->Tls ? state->Tls->Failure() : std::string();
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
