/// @file
/// TQBGeneralServer: a TFerrolink that listens instead of connecting.
#pragma once

#include <ferrolink/ferro.h>

namespace ferro {

/// A listening server that serves one connection at a time on its own
/// socket handle.
///
/// Once loaded (Loaded(), which a component made in code calls itself after
/// setting Port) it listens on Port on every local address with a backlog
/// of 1. Each incoming connection is taken onto the component: during
/// OnClientContact, Handle() is the client's connection and the transfer
/// operations (Read, ReadLn, Write, WriteLn, SendFile) talk to it; when the
/// handler returns the connection is closed and the server listens again.
/// Other clients wait in the system's backlog meanwhile.
///
/// A failed service (the handler raised, the client reset, a time-out) is
/// passed to the application's exception handler (SetApplicationExceptionHandler)
/// after the server listens again; it never stops the server.
class TQBGeneralServer : public TFerrolink {
public:
    /// A server on Port 0 that does not listen until Loaded().
    explicit TQBGeneralServer(TComponent* owner);
    ~TQBGeneralServer() override;

    /// Called once per accepted connection, with the server as sender; the
    /// connection is closed as soon as it returns. Connected is false
    /// meanwhile. With no handler, each connection is closed at once.
    TNotifyEvent OnClientContact;

    /// Starts listening (unless in design mode). A port that cannot be had
    /// raises nothing: it is told through OnError and at status level 2.
    /// @throws ERangeError when Port lies outside 0 to 65535.
    void Loaded() override;
    /// A server makes no connections: does nothing at all.
    void Connect() override;
    /// Stops taking connections for good: the listening socket is closed,
    /// and connections waiting in the system's backlog are reset, so that
    /// their senders are told they failed. A service under way finishes
    /// first (the socket closes when it ends). For a program that stops (a
    /// termination signal) or has served enough.
    void StopListening();

protected:
    /// Serves one connection: accepts it, shakes hands when Tls.Enabled (a
    /// client that fails the handshake, or does not finish it within
    /// Tls.HandshakeTimeOut, is let go, and OnClientContact is not called),
    /// runs OnClientContact, closes it and listens again. Whatever fails, the server listens again before the
    /// failure is passed on, and the first failure is the one passed on. A
    /// service starts with the time-out timer disarmed, so each client has
    /// the whole TimeOut. When the system has no descriptor for a new
    /// connection, the server stops accepting for 100 ms at a time instead,
    /// and passes that on once until a connection is taken again.
    void ServeClient(TComponent* sender);

private:
    /// Takes the announced connection; false when none was taken and the
    /// shortage of descriptors was reported before (a pause follows).
    bool TakeConnection();
    /// Closes the client's connection, restores the listening socket and
    /// listens again, then raises what the close raised.
    void EndService();
    /// Selects the listening socket's notifications again after a pause.
    void ResumeAccepting();
    /// Closes the listening socket (Handle becomes kNoSocket).
    void CloseListening();

    std::unique_ptr<TTimer> FAcceptRetry; ///< ends a pause of accepting
    bool FShortOfResources = false;       ///< an accept failed for want of descriptors; reported once
    bool FServing = false;                ///< a client's connection is in Handle, the listening socket aside
    bool FStopped = false;                ///< StopListening was called: no connection is taken any more
};

} // namespace ferro
