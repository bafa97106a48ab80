// What a TLS channel says in words: its version and cipher, why TLS failed
// (OpenSSL's reasons with ours where they do not say enough), and what a
// user should hear of a pinned peer's dates. A broken connection is told
// by its error, in the words of the layer above.
#include "openssl_channel.h"

#include <openssl/err.h>

#include <ctime>
#include <string>

namespace ferro::net {

namespace {

// What an OpenSSL reason means for a user, where its own words do not say.
const char* Meaning(int reason)
{
    switch (reason) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_UNKNOWN_PROTOCOL:
        return "the peer does not speak TLS";
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
        return "the peer admits only senders with a certificate it knows";
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
    case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        return "the peer does not admit our certificate";
    case SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE:
        return "the peer presented no certificate";
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        return "the peer speaks no TLS version from 1.2 on";
    default:
        return nullptr;
    }
}

} // namespace

std::string TOpenSslChannel::Description() const
{
    return std::string(SSL_get_version(FSsl.get())) + " " + SSL_get_cipher_name(FSsl.get()) +
           (SSL_session_reused(FSsl.get()) ? " (resumed)" : "");
}

std::string TOpenSslChannel::PinnedDatesNote() const
{
    const X509* cert = FEstablished && FContext->Pinned() ? SSL_get0_peer_certificate(FSsl.get()) : nullptr;
    if (!cert)
        return {};
    const auto day = [](const ASN1_TIME* time) {
        std::tm tm {};
        char text[16] = "?";
        if (ASN1_TIME_to_tm(time, &tm) == 1)
            std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
        return std::string(text);
    };
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
        return "the pinned certificate expired on " + day(X509_get0_notAfter(cert));
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
        return "the pinned certificate is valid only from " + day(X509_get0_notBefore(cert));
    return {};
}

std::string TOpenSslChannel::FailureText(unsigned long error, const char* step) const
{
    if (error == 0 && std::string(step) == "handshake" && !FContext->Server())
        return "the peer closed the connection (a receiver without TLS does so)";
    if (error == 0)
        return FPlainEnded || std::string(step) == "handshake" ? "the peer closed the connection" : "the connection failed";
    const int reason = ERR_GET_REASON(error);
    const char* words = ERR_reason_error_string(error);
    std::string text = words ? words : "error " + std::to_string(reason);
    if (ERR_GET_LIB(error) != ERR_LIB_SSL)
        return text;
    if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
        const long result = SSL_get_verify_result(FSsl.get());
        text += " (" + (FNotPinned.empty() ? std::string(X509_verify_cert_error_string(result)) : "not a pinned certificate: " + FNotPinned) + ")";
    } else if (const char* meaning = Meaning(reason)) {
        text += std::string(" (") + meaning + ")";
    }
    return text;
}

} // namespace ferro::net
