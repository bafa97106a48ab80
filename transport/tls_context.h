// Internal to the TLS unit: what a component's settings make of OpenSSL's
// context (SSL_CTX): its certificate, what verifies the peer, the versions
// and the pins. Made once and shared by the connections of one component.
#pragma once

#include <ferrolink/tls.h>

#include "tls_errors.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace ferro::tls {

using SslSessionPtr = std::unique_ptr<SSL_SESSION, Deleter<SSL_SESSION, SSL_SESSION_free>>;

// The session tickets a client was given, to resume a session with the
// same server instead of shaking hands in full: the latest one of each
// server, at most kKept servers (the oldest go first). A ticket is used
// once: a resumed handshake still agrees on fresh keys (psk_dhe_ke), and
// the server sends a new ticket with it.
class TTickets {
public:
    static constexpr std::size_t kKept = 64;
    // Keeps `session` (owned from now on) as `peer`'s ticket.
    void Keep(const std::string& peer, SslSessionPtr session);
    // `peer`'s ticket, taken out of the store; null when there is none.
    SslSessionPtr Take(const std::string& peer);

private:
    struct TKept {
        std::string Peer;
        SslSessionPtr Session;
    };
    std::mutex FLock;
    std::deque<TKept> FKept; // oldest first
};

class TContext {
public:
    // The context for one side of a connection; null, with the reason in
    // `failure`, when the settings cannot be used (a file that cannot be
    // read, a key that is not the certificate's, a server without one).
    static std::shared_ptr<TContext> Make(const TTlsSettings& settings, bool server, std::string& failure);

    SSL_CTX* Native() const { return FContext.get(); }
    bool Server() const { return FServer; }
    // The peer is verified by its fingerprint alone.
    bool Pinned() const { return !FSettings.Pins.empty(); }
    bool Admits(const TFingerprint& fingerprint) const;
    // A client's tickets, for the connections made with this context: the
    // settings that verified a server are the ones its ticket is used with.
    TTickets& Tickets() { return FTickets; }

private:
    TContext(const TTlsSettings& settings, bool server) : FSettings(settings), FServer(server) {}
    bool UseCertificate(std::string& failure);
    bool VerifyPeer(std::string& failure);

    TTlsSettings FSettings;
    bool FServer;
    SslCtxPtr FContext;
    TTickets FTickets;
};

// The context of the SSL object a verification is made for.
const TContext* ContextOf(const SSL* ssl);

} // namespace ferro::tls
