#include <ferrolink/qbgeneralserver.h>

#include <exception>

namespace ferro {

namespace {

// How long the server stops accepting when the system has no descriptor (or
// memory) for a new connection: the client waits in the backlog meanwhile.
constexpr int kAcceptRetryMs = 100;

} // namespace

TQBGeneralServer::TQBGeneralServer(TComponent* owner) : TFerrolink(owner), FAcceptRetry(std::make_unique<TTimer>(nullptr))
{
    FAcceptRetry->SetEnabled(false);
    FAcceptRetry->SetInterval(kAcceptRetryMs);
    FAcceptRetry->OnTimer = [this](TComponent*) { ResumeAccepting(); };
}

TQBGeneralServer::~TQBGeneralServer()
{
    // Destroyed during a service: the base closes the client's connection,
    // the listening socket kept aside goes here.
    if (FServing)
        CloseListeningSocket();
}

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
    if (FStopped)
        return; // an announcement that was on its way when listening stopped
    // Each client has the whole time-out: a countdown that the last client's
    // reads left running ends here, without a status text.
    DisarmTimer();
    if (!TakeConnection())
        return;
    FServing = true;
    try {
        if (Tls.Enabled)
            SecureConnection(true, {});
        if (OnClientContact)
            OnClientContact(this);
    } catch (const EComponentDestroyed&) {
        throw;
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

bool TQBGeneralServer::TakeConnection()
{
    try {
        TakePendingConnection();
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        // Nothing was taken: the listening socket is still in Handle.
        if (!AcceptShortOfResources()) {
            Listen(false);
            throw;
        }
        // Accepting again at once would fail again at once: pause, and
        // report the shortage once, not at every retry.
        FAcceptRetry->SetEnabled(true);
        if (std::exchange(FShortOfResources, true))
            return false;
        throw;
    }
    FShortOfResources = false;
    return true;
}

void TQBGeneralServer::EndService()
{
    std::exception_ptr failure;
    // The fresh socket Disconnect would put in place of the client's is
    // never made: the listening socket is the only one a serving server
    // keeps.
    try {
        StatusMessage(kLevelOperation, "Disconnecting");
        CloseSocketForGood();
    } catch (...) {
        failure = std::current_exception();
    }
    RestoreListeningSocket();
    FServing = false;
    if (FStopped) {
        CloseListening();
    } else {
        // The next client is often a moment away (a sender posting one
        // message after another): a short look at the listening socket lets
        // the new selection announce it at once, without a turn of the
        // event loop.
        LookForNextConnection();
        Listen(false);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TQBGeneralServer::StopListening()
{
    CheckThread();
    FStopped = true;
    FAcceptRetry->SetEnabled(false);
    if (!FServing)
        CloseListening();
}

void TQBGeneralServer::CloseListening()
{
    if (Handle() == kNoSocket)
        return;
    Deselect();
    // The system resets the connections still waiting in the backlog.
    CloseSocketForGood();
}

void TQBGeneralServer::ResumeAccepting()
{
    FAcceptRetry->SetEnabled(false);
    ResumeListening(); // as Listen would, without its status text at every retry
}

} // namespace ferro
