// OpenSSL alone, as the floor under our TLS figures: a client and a server
// in one thread joined by a memory BIO pair, shaking hands and exchanging
// a message and its reply, as a sender and a receiver of ours do.
#pragma once

#include <cstddef>
#include <string>

// Microseconds per exchange of a `size`-byte message and a 16-byte reply
// over `count` connections, each with a full TLS 1.3 handshake or, with
// `resumed`, resuming the session of the one before (psk_dhe_ke: fresh
// keys all the same); the server's identity is in `certFile` and `keyFile`.
double OpenSslMicrosecondsPerExchange(const std::string& certFile, const std::string& keyFile, std::size_t size, bool resumed,
                                      int count);
