#include "tls_context.h"

#include "openssl_channel.h"

#include <openssl/err.h>

#include <algorithm>

namespace ferro::tls {

namespace {

// With pins, the pin is the whole trust: a pinned certificate passes
// whoever issued it and whatever it names (a self-signed identity is the
// usual case); any other fails, whatever CA issued it. The verdict is given
// at the peer's own certificate (depth 0); what is said of its issuers
// waits for it.
int VerifyByPins(int preverified, X509_STORE_CTX* store)
{
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const TContext* context = ContextOf(ssl);
    if (!context || !context->Pinned())
        return preverified;
    if (X509_STORE_CTX_get_error_depth(store) > 0)
        return 1;
    const TFingerprint fingerprint = FingerprintOf(X509_STORE_CTX_get_current_cert(store));
    if (context->Admits(fingerprint)) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    if (net::TOpenSslChannel* channel = net::TOpenSslChannel::Of(ssl))
        channel->NotPinned(fingerprint);
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

// A ticket a server sent: kept for its session's next connection to the
// same server. Only TLS 1.3's: resuming a TLS 1.2 session would reuse its
// keys, losing forward secrecy.
int KeepTicket(SSL* ssl, SSL_SESSION* session)
{
    net::TOpenSslChannel* owner = net::TOpenSslChannel::Of(ssl);
    if (!owner || SSL_SESSION_get_protocol_version(session) != TLS1_3_VERSION || !SSL_SESSION_is_resumable(session))
        return 0;
    owner->KeepTicket(SslSessionPtr(session));
    return 1; // ours now
}

} // namespace

void TTickets::Keep(const std::string& peer, SslSessionPtr session)
{
    const std::lock_guard<std::mutex> lock(FLock);
    std::erase_if(FKept, [&](const TKept& kept) { return kept.Peer == peer; });
    if (FKept.size() >= kKept)
        FKept.pop_front();
    FKept.push_back({peer, std::move(session)});
}

SslSessionPtr TTickets::Take(const std::string& peer)
{
    const std::lock_guard<std::mutex> lock(FLock);
    const auto found = std::find_if(FKept.begin(), FKept.end(), [&](const TKept& kept) { return kept.Peer == peer; });
    if (found == FKept.end())
        return nullptr;
    SslSessionPtr session = std::move(found->Session);
    FKept.erase(found);
    return session;
}

std::shared_ptr<TContext> TContext::Make(const TTlsSettings& settings, bool server, std::string& failure)
{
    std::shared_ptr<TContext> context(new TContext(settings, server));
    context->FContext.reset(SSL_CTX_new(server ? TLS_server_method() : TLS_client_method()));
    SSL_CTX* ctx = context->Native();
    if (!ctx) {
        failure = LastErrorText();
        return nullptr;
    }
    SSL_CTX_set_app_data(ctx, context.get());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // A peer that closes without close_notify ends the stream as a plain
    // close does: the messages carry their own lengths, so a cut message is
    // told by them, as it is without TLS.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    // A send that would block is offered again with the same bytes, not
    // always from the same place.
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // AES-128 first: as safe for our use, and the fastest with AES
    // instructions; the peer's preference decides only if it insists.
    SSL_CTX_set_ciphersuites(ctx, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
    if (server) {
        // A ticket goes with the first data a server sends (TOpenSslChannel::Send),
        // in the same records, instead of on its own after the handshake:
        // no client waits for it, nor wakes for it alone. Tickets are
        // stateless (sealed with a key of this context's), so the server
        // keeps no session.
        SSL_CTX_set_num_tickets(ctx, 0);
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
        static const unsigned char kSessionContext[] = "ferrolink";
        SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
    } else {
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx, KeepTicket);
    }
    if (!context->UseCertificate(failure) || !context->VerifyPeer(failure))
        return nullptr;
    return context;
}

bool TContext::UseCertificate(std::string& failure)
{
    const std::string& cert = FSettings.CertificateFile;
    if (cert.empty()) {
        if (FServer)
            failure = "a TLS server needs a certificate and its key";
        return !FServer;
    }
    const std::string& key = FSettings.KeyFile.empty() ? cert : FSettings.KeyFile;
    if (SSL_CTX_use_certificate_chain_file(FContext.get(), cert.c_str()) != 1) {
        failure = "cannot use certificate " + cert + " (" + LastErrorText() + ")";
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(FContext.get(), key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(FContext.get()) != 1) {
        failure = "cannot use key " + key + " (" + LastErrorText() + ")";
        return false;
    }
    return true;
}

bool TContext::VerifyPeer(std::string& failure)
{
    SSL_CTX* ctx = FContext.get();
    const std::string& ca = FSettings.CAFile;
    if (!ca.empty() && SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr) != 1) {
        failure = "cannot use CA file " + ca + " (" + LastErrorText() + ")";
        return false;
    }
    if (!FServer) {
        if (ca.empty() && !Pinned())
            SSL_CTX_set_default_verify_paths(ctx);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyByPins);
        return true;
    }
    // A server asks for a client's certificate only when it admits some
    // clients and not others.
    if (!Pinned() && ca.empty())
        return true;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, VerifyByPins);
    if (!ca.empty())
        SSL_CTX_set_client_CA_list(ctx, SSL_load_client_CA_file(ca.c_str()));
    return true;
}

bool TContext::Admits(const TFingerprint& fingerprint) const
{
    return std::find(FSettings.Pins.begin(), FSettings.Pins.end(), fingerprint) != FSettings.Pins.end();
}

const TContext* ContextOf(const SSL* ssl)
{
    return ssl ? static_cast<const TContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
}

std::string LastErrorText()
{
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    const char* reason = error ? ERR_reason_error_string(error) : nullptr;
    return reason ? reason : error ? "error " + std::to_string(ERR_GET_REASON(error)) : "unknown";
}

TFingerprint FingerprintOf(const X509* cert)
{
    TFingerprint fingerprint {};
    unsigned length = 0;
    X509_digest(cert, EVP_sha256(), fingerprint.data(), &length);
    return fingerprint;
}

} // namespace ferro::tls
