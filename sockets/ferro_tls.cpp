// TLS on the component's connection: the handshake, a wait of its own
// inside Connect and the server's accept path, with its own deadline.
#include <ferrolink/ferro.h>

#include "winsock.h"

namespace ferro {

using namespace winsock;

const std::shared_ptr<tls::TContext>& TFerrolink::TlsContext(bool server, std::string& failure)
{
    // Reading the certificate and the CAs costs more than a handshake: the
    // connections of one component share them until the settings change.
    if (!FTlsContext || FTlsContextServer != server || FTlsContextSettings != Tls) {
        FTlsContext = ext::MakeTlsContext(Tls, server, failure);
        FTlsContextServer = server;
        FTlsContextSettings = Tls;
    }
    return FTlsContext;
}

void TFerrolink::PrepareTls(bool server)
{
    std::string failure;
    if (!TlsContext(server, failure)) {
        FTlsContext.reset(); // a file fixed meanwhile is read again next time
        Raise("TLS Setup Failed: " + failure, 0);
    }
}

void TFerrolink::SecureConnection(bool server, const std::string& peerName)
{
    StatusMessage(kLevelSocketStep, "TLS Handshake");
    PrepareTls(server);
    if (ext::StartTls(FHandle, FTlsContext, peerName) != 0) {
        const int error = WSAGetLastError();
        Raise("TLS Setup Failed: " + LookUpErrorMessage(static_cast<std::uint16_t>(error)), error);
    }
    FTlsPeerNote.clear();
    RaiseUnlessDone(AwaitHandshake(server), {"TLS Handshake Timed Out", "TLS Handshake Canceled", nullptr});
    FTlsPeerNote = ext::TlsPinnedDatesNote(FHandle);
    if (Reports(kLevelSocketStep))
        StatusMessage(kLevelSocketStep, "TLS Established: " + ext::TlsDescription(FHandle));
}

TFerrolink::TWaitEnd TFerrolink::AwaitHandshake(bool server)
{
    // A server's handshake has its own deadline, unless TimeOut is shorter:
    // an unknown client must not hold a one-at-a-time server for long. A
    // client's has TimeOut alone: a server busy with another sender takes
    // its connection late, and the client was told it may wait that long.
    const std::int32_t own = server ? Tls.HandshakeTimeOut : 0;
    TimerOn(own > 0 && (TimeOut <= 0 || own < TimeOut) ? own : 0);
    TWait wait(*this);
    int result = 0;
    while ((result = ext::TlsHandshake(FHandle)) != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (wait.Over())
            break;
        if (ext::TlsWantsWrite(FHandle))
            AwaitWritable();
        else
            wait.SleepOrReadable();
    }
    const int error = result == 0 ? 0 : WSAGetLastError();
    TimerOff();
    if (result == 0)
        return TWaitEnd::Done;
    if (error != WSAEWOULDBLOCK) {
        FFailureCause = error;
        Raise("TLS Handshake Failed: " + ext::TlsFailure(FHandle), error);
    }
    return wait.End();
}

void TFerrolink::AwaitWritable()
{
    FAsyncDone = false;
    WSAAsyncSelect(FHandle, FNotifyWindow, WM_SOCKETDONE, FD_WRITE);
    PumpUntilDone();
    Deselect();
}

std::string TFerrolink::TlsDescription() const
{
    return ext::TlsDescription(FHandle);
}

} // namespace ferro
