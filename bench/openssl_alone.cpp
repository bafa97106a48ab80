#include "openssl_alone.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

SSL_SESSION* gTicket = nullptr;

int KeepTicket(SSL*, SSL_SESSION* session)
{
    SSL_SESSION_free(gTicket);
    gTicket = session;
    return 1;
}

void Exchange(SSL_CTX* clientContext, SSL_CTX* serverContext, const std::vector<char>& message, bool resumed)
{
    SSL* client = SSL_new(clientContext);
    SSL* server = SSL_new(serverContext);
    BIO* clientEnd = nullptr;
    BIO* serverEnd = nullptr;
    BIO_new_bio_pair(&clientEnd, 0, &serverEnd, 0);
    SSL_set_bio(client, clientEnd, clientEnd);
    SSL_set_bio(server, serverEnd, serverEnd);
    SSL_set_connect_state(client);
    SSL_set_accept_state(server);
    const bool offered = resumed && gTicket;
    if (offered)
        SSL_set_session(client, gTicket);
    for (int step = 0; step < 4 && (!SSL_is_init_finished(client) || !SSL_is_init_finished(server)); ++step) {
        SSL_do_handshake(client);
        SSL_do_handshake(server);
    }
    std::vector<char> into(message.size() + 64);
    std::size_t n = 0;
    const char* failed = nullptr;
    if (SSL_write_ex(client, message.data(), message.size(), &n) != 1 || SSL_read_ex(server, into.data(), into.size(), &n) != 1)
        failed = "the message";
    else if (SSL_new_session_ticket(server) != 1 || SSL_write_ex(server, "OK              ", 16, &n) != 1 ||
             SSL_read_ex(client, into.data(), into.size(), &n) != 1)
        failed = "the reply";
    else if (offered && !SSL_session_reused(client))
        failed = "the resumption";
    if (failed) {
        std::fprintf(stderr, "OpenSSL alone: %s failed\n", failed);
        std::abort();
    }
    SSL_shutdown(client);
    SSL_shutdown(server);
    SSL_free(client);
    SSL_free(server);
}

} // namespace

double OpenSslMicrosecondsPerExchange(const std::string& certFile, const std::string& keyFile, std::size_t size, bool resumed,
                                      int count)
{
    SSL_CTX* server = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(server, certFile.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(server, keyFile.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_set_num_tickets(server, 0);
    SSL_CTX_set_session_cache_mode(server, SSL_SESS_CACHE_OFF);
    static const unsigned char kContext[] = "bench";
    SSL_CTX_set_session_id_context(server, kContext, sizeof kContext - 1); // a server without one resumes nothing
    SSL_CTX* client = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(client, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; }); // the certificate is checked, its issuer not
    SSL_CTX_set_session_cache_mode(client, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(client, KeepTicket);
    const std::vector<char> message(size + 18, 'b'); // with the header of a ten-letter name
    Exchange(client, server, message, resumed);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        Exchange(client, server, message, resumed);
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / count;
    SSL_SESSION_free(gTicket);
    gTicket = nullptr;
    SSL_CTX_free(client);
    SSL_CTX_free(server);
    return us;
}
