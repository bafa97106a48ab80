// Internal to the TLS unit: owning pointers of OpenSSL's objects, and its
// errors as the texts our failures carry.
#pragma once

#include <ferrolink/tls.h>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace ferro::tls {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using EvpKeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Deleter<SSL, SSL_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

// The reason of the earliest error on this thread's OpenSSL error queue
// ("certificate verify failed"), which it empties; "unknown" when empty.
std::string LastErrorText();
// The SHA-256 fingerprint of a certificate.
TFingerprint FingerprintOf(const X509* cert);

} // namespace ferro::tls
