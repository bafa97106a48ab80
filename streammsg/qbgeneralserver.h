// TQBGeneralServer: a TFerrolink that listens instead of connecting.
//
// Once its owner has loaded it (Loaded, at run time only) it listens on Port
// on every local address with a backlog of 1. Each incoming connection is
// taken onto the component itself: OnClientContact talks to the client with
// the ordinary transfer operations, then the connection is closed and the
// component listens again. One client at a time, on the UI thread.
#pragma once

#include "ferro.h"

class TQBGeneralServer : public TFerrolink {
public:
    explicit TQBGeneralServer(TComponent* owner);

    // Called once per accepted connection, with the server as sender; Handle
    // is the client's connection meanwhile. The handler must not keep it.
    TNotifyEvent OnClientContact;

    void Loaded() override;
    // A server makes no connections: does nothing at all.
    void Connect() override;

protected:
    // Serves one connection. Whatever fails, the client's connection is closed
    // and the server listens again before the failure is passed on.
    void ServeClient(TComponent* sender);

private:
    void EndService();
};
