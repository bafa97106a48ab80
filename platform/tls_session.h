// Internal to the stand-in: TLS on one connection (OpenSSL's SSL object),
// between the interface's send and recv, which the components call, and the
// stand-in's plain sends and receives (plain_io.h), which carry the records.
// Read-ahead, send batching, bounded waits and break memory therefore work
// on the records as they do on plain bytes; the notification rules are
// those of the system socket.
#pragma once

#include <ferrolink/tls.h>

#include "tls_context.h"
#include "tls_outgoing.h"

#include <memory>
#include <string>

namespace ferro::winsock::detail {
struct SocketState;
}

namespace ferro::tls {

// A connection that broke under TLS, in words, its number after them
// ("the peer reset the connection (10054)").
std::string BrokenConnection(int error);

class TSession {
public:
    // TLS on `state`'s connection, not yet shaken hands; a client checks
    // that the server's certificate names `peerName` (unless pinned).
    TSession(winsock::detail::SocketState& state, std::shared_ptr<TContext> context, const std::string& peerName);
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // The session that owns `ssl`, for OpenSSL's callbacks.
    static TSession* Of(const SSL* ssl);

    // A step of the handshake: 0 when it is done; otherwise SOCKET_ERROR
    // with would-block (it waits for the socket to be readable, or writable
    // when WantsWrite) or the failure (Failure() tells it).
    int Handshake();
    bool WantsWrite() const { return FWantsWrite; }
    // As the interface's send and recv, on the data inside TLS. A failure
    // of TLS itself is ext::WSAETLSFAILED (Failure() tells it); a broken
    // connection is the plain error it was (a reset: 10054).
    int Send(const char* buf, int len, int flags);
    int Receive(char* buf, int len, int flags);
    // Tells the peer the data has ended (close_notify), waiting up to `ms`
    // for room to hand the records still kept to the stand-in. Sends
    // nothing when the handshake did not finish or the session failed.
    void Close(int ms);

    // A client whose handshake is done: its server may still send records
    // unasked (session tickets), which its close must not answer with a reset.
    bool HearsUnasked() const { return FEstablished && !FBrokenBy && !FContext->Server(); }
    const std::string& Failure() const { return FFailure; }
    // "TLSv1.3 TLS_AES_256_GCM_SHA384", once the handshake is done, and
    // " (resumed)" after it when a ticket spared the full handshake.
    std::string Description() const;
    // Of a pinned peer whose certificate is outside its dates (a pin trusts
    // the key, not the dates): "the pinned certificate expired on
    // 2001-01-01"; empty otherwise.
    std::string PinnedDatesNote() const;
    // A ticket the server sent, for the next connection to it.
    void KeepTicket(SslSessionPtr ticket) { FContext->Tickets().Keep(FTicketPeer, std::move(ticket)); }
    // The verification found a certificate that is not pinned.
    void NotPinned(const TFingerprint& fingerprint) { FNotPinned = FingerprintText(fingerprint); }

    // The plain side, for the record BIO: records are gathered, and taken
    // from the stand-in's receives.
    void PlainWrite(const char* data, std::size_t length) { FOut.Append(data, length); }
    int PlainRead(char* into, int length);
    bool PlainEnded() const { return FPlainEnded; }

private:
    int Failed(int result, const char* step);
    // Hands gathered records on; false when the connection broke meanwhile.
    bool FlushRecords(int flags);
    // After a send met a break: the text of an alert the peer sent before
    // it, read from what the system still holds; empty when there is none.
    std::string AlertBeforeBreak();
    // One SSL_read of up to `count` bytes onto the end of `into`; its result.
    int ReadInto(std::string& into, std::size_t count);
    // Encrypts up to TOutgoing::kGather bytes of `buf`, a record's worth
    // at a time; how many, or -1 when OpenSSL failed.
    long Encrypt(const char* buf, std::size_t len);
    std::string FailureText(unsigned long error, const char* step) const;
    bool PinHolds();

    winsock::detail::SocketState& FState;
    std::shared_ptr<TContext> FContext;
    SslPtr FSsl;
    bool FEstablished = false;
    bool FWantsWrite = false;
    int FBrokenBy = 0;        // the failure every later call reports
    std::string FFailure;
    std::string FNotPinned;
    std::string FTicketPeer;  // a client's server, as its tickets are kept: the name asked for and the address
    bool FTicketDue = false;  // a server sends a ticket with its first data
    TOutgoing FOut;           // records made, not yet handed on
    std::string FPeeked;      // data a peek decrypted, for the next receive
    std::unique_ptr<char[]> FIn; // records received, not yet given to OpenSSL
    std::size_t FInStart = 0;
    std::size_t FInEnd = 0;
    int FReadFlags = 0;       // of the receive under way, for its first plain receive
    int FPlainError = 0;      // of the last failed plain call
    bool FPlainEnded = false; // the plain stream has ended
    bool FSalvaging = false;  // AlertBeforeBreak reads: what is held only, nothing sent
};

} // namespace ferro::tls
