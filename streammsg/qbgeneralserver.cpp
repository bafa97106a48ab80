#include <ferrolink/qbgeneralserver.h>

#include "winsock.h"

#include <exception>

namespace ferro {

namespace {

// How long the server stops accepting when the system has no descriptor (or
// memory) for a new connection: the client waits in the backlog meanwhile.
constexpr int kAcceptRetryMs = 100;

bool ShortOfResources(int error)
{
    return error == winsock::WSAEMFILE || error == winsock::WSAENOBUFS;
}

} // namespace

TQBGeneralServer::TQBGeneralServer(TComponent* owner) : TFerrolink(owner), FAcceptRetry(std::make_unique<TTimer>(nullptr))
{
    FAcceptRetry->SetEnabled(false);
    FAcceptRetry->SetInterval(kAcceptRetryMs);
    FAcceptRetry->OnTimer = [this](TComponent*) { ResumeAccepting(); };
}

TQBGeneralServer::~TQBGeneralServer() = default;

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
    // Each client has the whole time-out: a countdown that the last client's
    // reads left running ends here, without a status text.
    FTimer->SetEnabled(false);
    try {
        Accept();
    } catch (...) {
        // Nothing was taken: the listening socket is still in Handle.
        if (!ShortOfResources(FAcceptFailure)) {
            Listen(false);
            throw;
        }
        // Accepting again at once would fail again at once: pause, and
        // report the shortage once, not at every retry.
        FAcceptRetry->SetEnabled(true);
        if (std::exchange(FShortOfResources, true))
            return;
        throw;
    }
    FShortOfResources = false;
    try {
        if (OnClientContact)
            OnClientContact(this);
    } catch (...) {
        // The client is let go without a reply and the next one is served
        // before anybody looks at the failure, which may take a while.
        try {
            EndService();
        } catch (...) {
            // The service's own failure is the one to report.
        }
        throw;
    }
    EndService();
}

void TQBGeneralServer::EndService()
{
    std::exception_ptr failure;
    // The fresh socket Disconnect would put in place of the client's is
    // never made: the listening socket is the only one a serving server
    // keeps.
    FNoRenewal = true;
    try {
        Disconnect();
    } catch (...) {
        failure = std::current_exception();
    }
    FNoRenewal = false;
    // A close that failed left the client's socket.
    if (FHandle != kNoSocket && FHandle != FListenHandle)
        winsock::closesocket(FHandle);
    FHandle = FListenHandle;
    // The next client is often a moment away (a sender posting one message
    // after another): a short look at the listening socket lets the new
    // selection announce it at once, without a turn of the event loop.
    winsock::LookForConnection(FHandle);
    Listen(false);
    if (failure)
        std::rethrow_exception(failure);
}

void TQBGeneralServer::ResumeAccepting()
{
    FAcceptRetry->SetEnabled(false);
    // As Listen would, without its status text at every retry.
    winsock::WSAAsyncSelect(FHandle, FNotifyWindow, WM_SOCKETNOTIFY, winsock::FD_ALL_EVENTS);
}

} // namespace ferro
