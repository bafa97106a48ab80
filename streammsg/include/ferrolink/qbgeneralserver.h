// TQBGeneralServer: a TFerrolink that listens instead of connecting.
//
// Once its owner has loaded it (Loaded, at run time only) it listens on Port
// on every local address with a backlog of 1. Each incoming connection is
// taken onto the component itself: OnClientContact talks to the client with
// the ordinary transfer operations, then the connection is closed and the
// component listens again. One client at a time, on the UI thread.
#pragma once

#include <ferrolink/ferro.h>

namespace ferro {

class TQBGeneralServer : public TFerrolink {
public:
    explicit TQBGeneralServer(TComponent* owner);
    ~TQBGeneralServer() override;

    // Called once per accepted connection, with the server as sender; Handle
    // is the client's connection meanwhile. The handler must not keep it.
    TNotifyEvent OnClientContact;

    void Loaded() override;
    // A server makes no connections: does nothing at all.
    void Connect() override;

protected:
    // Serves one connection. Whatever fails, the client's connection is closed
    // and the server listens again before the failure is passed on; the
    // first failure is the one passed on. When the system has no descriptor
    // for a new connection, the server stops accepting for a moment instead,
    // and passes that on once until a connection is taken again.
    void ServeClient(TComponent* sender);

private:
    // Closes the client's connection, restores the listening socket and
    // listens again, then raises what Disconnect raised.
    void EndService();
    void ResumeAccepting();

    std::unique_ptr<TTimer> FAcceptRetry;
    bool FShortOfResources = false; // an accept failed for want of descriptors; reported once
};

} // namespace ferro
