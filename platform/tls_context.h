// Internal to the TLS unit: what a component's settings make of OpenSSL's
// context (SSL_CTX): its certificate, what verifies the peer, the versions
// and the pins. Made once and shared by the connections of one component.
#pragma once

#include <ferrolink/tls.h>

#include "tls_errors.h"

#include <memory>
#include <string>

namespace ferro::tls {

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

private:
    TContext(const TTlsSettings& settings, bool server) : FSettings(settings), FServer(server) {}
    bool UseCertificate(std::string& failure);
    bool VerifyPeer(std::string& failure);

    TTlsSettings FSettings;
    bool FServer;
    SslCtxPtr FContext;
};

// The context of the SSL object a verification is made for.
const TContext* ContextOf(const SSL* ssl);

} // namespace ferro::tls
