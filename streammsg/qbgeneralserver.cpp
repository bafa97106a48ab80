#include "qbgeneralserver.h"

TQBGeneralServer::TQBGeneralServer(TComponent* owner) : TFerrolink(owner) {}

void TQBGeneralServer::Loaded()
{
    TFerrolink::Loaded();
    if (DesignMode())
        return;
    FAcceptHook = [this](TComponent* sender) { ServeClient(sender); };
    Listen(false);
}

void TQBGeneralServer::Connect() {}

void TQBGeneralServer::ServeClient(TComponent*)
{
    FAsyncDone = true;
    try {
        Accept();
    } catch (...) {
        // Nothing was taken: the listening socket is still in Handle.
        Listen(false);
        throw;
    }
    try {
        if (OnClientContact)
            OnClientContact(this);
    } catch (...) {
        // The client is let go without a reply and the next one is served
        // before anybody looks at the failure, which may take a while.
        EndService();
        throw;
    }
    EndService();
}

void TQBGeneralServer::EndService()
{
    Disconnect();
    // Disconnect put a fresh socket in place of the client's; the listening
    // socket is the only one a serving server keeps.
    if (FHandle != kNoSocket)
        winsock::closesocket(FHandle);
    FHandle = FListenHandle;
    Listen(false);
}
