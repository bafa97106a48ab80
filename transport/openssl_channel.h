// The TLS channel on OpenSSL: its SSL object on a BIO of ours whose records
// go by the plain channel.
#pragma once

#include <ferrolink/tls.h>

#include "tls_channel.h"
#include "tls_context.h"
#include "tls_outgoing.h"

#include <memory>
#include <string>

namespace ferro::net {

using tls::SslPtr;
using tls::SslSessionPtr;
using tls::TContext;
using tls::FingerprintOf;

class TOpenSslChannel final : public TTlsChannel {
public:
    TOpenSslChannel(TChannel& plain, std::shared_ptr<TContext> context, const std::string& peerName,
                    const std::string& peerAddress);
    ~TOpenSslChannel() override;
    TOpenSslChannel(const TOpenSslChannel&) = delete;
    TOpenSslChannel& operator=(const TOpenSslChannel&) = delete;

    // The channel that owns `ssl`, for OpenSSL's callbacks.
    static TOpenSslChannel* Of(const SSL* ssl);

    long Handshake() override;
    bool WantsWrite() const override { return FWantsWrite; }
    long Send(const char* bytes, std::size_t length, int flags) override;
    long Receive(char* into, std::size_t length, int flags) override;
    void AwaitRoom(int ms) override { FPlain.AwaitRoom(ms); }
    void Close(int ms, bool drain) override;
    bool HearsUnasked() const override { return FEstablished && !FBrokenBy && !FContext->Server(); }
    int BrokenBy() const override { return FBrokenBy; }
    const std::string& Reason() const override { return FFailure; }
    std::string Description() const override;
    std::string PinnedDatesNote() const override;

    // A ticket the server sent, for the next connection to it.
    void KeepTicket(SslSessionPtr ticket) { FContext->Tickets().Keep(FTicketPeer, std::move(ticket)); }
    // The verification found a certificate that is not pinned.
    void NotPinned(const TFingerprint& fingerprint) { FNotPinned = FingerprintText(fingerprint); }

    // The plain side, for the record BIO: records are gathered, and taken
    // from the plain channel's receives.
    void PlainWrite(const char* data, std::size_t length) { FOut.Append(data, length); }
    long PlainRead(char* into, std::size_t length);
    bool PlainEnded() const { return FPlainEnded; }

private:
    long Failed(int result, const char* step);
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

    TChannel& FPlain;
    std::shared_ptr<TContext> FContext;
    SslPtr FSsl;
    bool FEstablished = false;
    bool FWantsWrite = false;
    int FBrokenBy = 0;        // the failure every later call reports
    std::string FFailure;     // a failure of TLS, in words
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

} // namespace ferro::net
