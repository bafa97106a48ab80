#include "openssl_channel.h"

#include "system_socket.h"

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ferro::net {

namespace {

constexpr int kDrainReads = 16; // at the close: what a peer may say unasked, not a transfer
constexpr std::size_t kIncoming = 256 * 1024;

// The records travel by the plain channel's sends and receives: a BIO of
// our own whose data is the TLS channel.
int BioWrite(BIO* bio, const char* data, size_t length, size_t* written)
{
    BIO_clear_retry_flags(bio);
    static_cast<TOpenSslChannel*>(BIO_get_data(bio))->PlainWrite(data, length);
    *written = length;
    return 1;
}

int BioRead(BIO* bio, char* into, size_t length, size_t* read)
{
    auto* channel = static_cast<TOpenSslChannel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const long n = channel->PlainRead(into, length);
    if (n <= 0) {
        if (n == -EAGAIN)
            BIO_set_retry_read(bio);
        return 0;
    }
    *read = static_cast<size_t>(n);
    return 1;
}

long BioControl(BIO* bio, int command, long, void*)
{
    switch (command) {
    case BIO_CTRL_FLUSH: return 1; // every write is gathered for the plain channel
    case BIO_CTRL_EOF: return static_cast<TOpenSslChannel*>(BIO_get_data(bio))->PlainEnded() ? 1 : 0;
    default: return 0;
    }
}

BIO_METHOD* RecordBio()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ferrolink records");
        BIO_meth_set_write_ex(m, BioWrite);
        BIO_meth_set_read_ex(m, BioRead);
        BIO_meth_set_ctrl(m, BioControl);
        return m;
    }();
    return method;
}

int SessionIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

bool IsAddress(const std::string& host)
{
    sys::TEndpoint parsed;
    return sys::ParseIp(host.c_str(), parsed);
}

} // namespace

TOpenSslChannel::TOpenSslChannel(TChannel& plain, std::shared_ptr<TContext> context, const std::string& peerName,
                         const std::string& peerAddress)
    : FPlain(plain), FContext(std::move(context)), FSsl(SSL_new(FContext->Native()))
{
    SSL* ssl = FSsl.get();
    SSL_set_ex_data(ssl, SessionIndex(), this);
    BIO* bio = BIO_new(RecordBio());
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    if (FContext->Server()) {
        SSL_set_accept_state(ssl);
        FTicketDue = true;
        return;
    }
    SSL_set_connect_state(ssl);
    FTicketPeer = peerName + '\0' + peerAddress;
    if (const SslSessionPtr ticket = FContext->Tickets().Take(FTicketPeer))
        SSL_set_session(ssl, ticket.get()); // the SSL object holds its own reference
    // The name the server is asked for, and the one its certificate must
    // carry unless it is pinned.
    if (IsAddress(peerName)) {
        if (!FContext->Pinned())
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), peerName.c_str());
    } else if (!peerName.empty()) {
        SSL_set_tlsext_host_name(ssl, peerName.c_str());
        if (!FContext->Pinned())
            SSL_set1_host(ssl, peerName.c_str());
    }
}

TOpenSslChannel::~TOpenSslChannel() = default;

std::unique_ptr<TTlsChannel> OpenTlsChannel(TChannel& plain, std::shared_ptr<tls::TContext> context,
                                            const std::string& peerName, const std::string& peerAddress)
{
    return std::make_unique<TOpenSslChannel>(plain, std::move(context), peerName, peerAddress);
}

TOpenSslChannel* TOpenSslChannel::Of(const SSL* ssl)
{
    return ssl ? static_cast<TOpenSslChannel*>(SSL_get_ex_data(ssl, SessionIndex())) : nullptr;
}

long TOpenSslChannel::Handshake()
{
    if (FBrokenBy)
        return -FBrokenBy;
    if (!FlushRecords(0))
        return -FBrokenBy;
    if (!FOut.Empty()) {
        FWantsWrite = true;
        return -EAGAIN;
    }
    if (FEstablished)
        return 0;
    ERR_clear_error();
    // The answer is mostly a moment away, as for a receive about to wait.
    FReadFlags = kWaitMoment;
    const int r = SSL_do_handshake(FSsl.get());
    FReadFlags = 0;
    if (!FlushRecords(0))
        return -FBrokenBy;
    if (r == 1 && !FOut.Empty()) {
        // Done, once its last flight has left.
        FEstablished = PinHolds();
        FWantsWrite = true;
        return FEstablished ? -EAGAIN : -FBrokenBy;
    }
    if (r == 1) {
        if (!PinHolds())
            return -FBrokenBy;
        FEstablished = true;
        return 0;
    }
    return Failed(r, "handshake");
}

bool TOpenSslChannel::PinHolds()
{
    // The verification decided already; this makes sure it was asked.
    if (!FContext->Pinned())
        return true;
    const X509* cert = SSL_get0_peer_certificate(FSsl.get());
    if (cert && FContext->Admits(FingerprintOf(cert)))
        return true;
    FBrokenBy = kTlsFailed;
    FFailure = cert ? "certificate verify failed (not a pinned certificate: " + FingerprintText(FingerprintOf(cert)) + ")"
                    : "the peer presented no certificate";
    return false;
}

long TOpenSslChannel::Send(const char* buf, std::size_t len, int flags)
{
    if (FBrokenBy)
        return -FBrokenBy;
    if (len == 0) // hands over what send batching keeps, as a plain send of nothing does
        return FPlain.Send(buf, 0, flags);
    const int more = flags & kMore;
    if (FTicketDue) {
        FTicketDue = false;
        if (SSL_version(FSsl.get()) == TLS1_3_VERSION)
            SSL_new_session_ticket(FSsl.get()); // written by the next SSL_write, before its data
    }
    // Records of an earlier send that could not all leave carry the bytes
    // offered again now: they leave first, and are what this send counts.
    // So do records that a receive's flush sent on meanwhile: encrypting
    // those bytes again would send them twice.
    if (FOut.Empty() && !FOut.Uncounted()) {
        const long encrypted = Encrypt(buf, len);
        if (encrypted < 0)
            return -FBrokenBy;
        if (!FlushRecords(static_cast<std::size_t>(encrypted) == len ? more : 0))
            return -FBrokenBy;
    } else if (!FOut.Empty() && !FlushRecords(0)) {
        return -FBrokenBy;
    }
    const std::size_t counted = FOut.TakeDelivered();
    if (counted == 0)
        return -EAGAIN; // the plain channel found no room: its watcher learns when there is
    return static_cast<long>(std::min(counted, len));
}

long TOpenSslChannel::Encrypt(const char* buf, std::size_t len)
{
    ERR_clear_error();
    std::size_t done = 0;
    while (done < len && FOut.Size() < TOutgoing::kGather) {
        const std::size_t piece = std::min<std::size_t>(len - done, SSL3_RT_MAX_PLAIN_LENGTH);
        std::size_t written = 0;
        const int r = SSL_write_ex(FSsl.get(), buf + done, piece, &written);
        if (r != 1) {
            Failed(r, "send");
            if (FBrokenBy)
                return -1;
            break; // cannot be while every record is taken; the rest goes next time
        }
        FOut.Mark(written);
        done += written;
    }
    return static_cast<long>(done);
}

bool TOpenSslChannel::FlushRecords(int flags)
{
    int error = 0;
    if (FOut.Flush(FPlain, flags, error) || error == EAGAIN)
        return true;
    FFailure = AlertBeforeBreak();
    FBrokenBy = FFailure.empty() ? error : kTlsFailed;
    return false;
}

std::string TOpenSslChannel::AlertBeforeBreak()
{
    // A peer that refuses us sends an alert and closes, unread records of
    // ours making its close a reset; a send meets that reset first. The
    // alert it sent before is the reason to tell.
    if (!FIn)
        FIn = std::make_unique_for_overwrite<char[]>(kIncoming);
    if (FInStart == FInEnd) {
        const long n = FPlain.ReceiveLeftovers(FIn.get(), kIncoming);
        if (n <= 0)
            return {};
        FInStart = 0;
        FInEnd = static_cast<std::size_t>(n);
    }
    FSalvaging = true;
    ERR_clear_error();
    char byte;
    const int r = SSL_peek(FSsl.get(), &byte, 1);
    FSalvaging = false;
    const unsigned long first = r > 0 ? 0 : ERR_peek_error();
    ERR_clear_error();
    return first ? FailureText(first, "receive") : std::string();
}

long TOpenSslChannel::Receive(char* buf, std::size_t wanted, int flags)
{
    if (FBrokenBy)
        return -FBrokenBy;
    if (wanted == 0)
        return 0;
    ERR_clear_error();
    FReadFlags = flags & kWaitMoment;
    int r = 1;
    std::size_t total = 0;
    if (flags & kPeek) {
        // A peek sees everything that has arrived, across records, as the
        // plain read-ahead's does: what it decrypts waits in FPeeked.
        while (FPeeked.size() < wanted && (r = ReadInto(FPeeked, wanted - FPeeked.size())) == 1) {
        }
        total = std::min(wanted, FPeeked.size());
        std::copy_n(FPeeked.data(), total, buf);
    } else {
        total = std::min(wanted, FPeeked.size());
        std::copy_n(FPeeked.data(), total, buf);
        FPeeked.erase(0, total);
        // As many records as have arrived, up to `len`.
        while (total < wanted) {
            std::size_t got = 0;
            r = SSL_read_ex(FSsl.get(), buf + total, wanted - total, &got);
            FReadFlags = 0;
            if (r != 1)
                break;
            total += got;
        }
    }
    FReadFlags = 0;
    // What reading wrote (an alert, an answer to a key update) leaves now.
    FlushRecords(0);
    if (total > 0) {
        // What stopped the reading shows again at the next receive.
        ERR_clear_error();
        return static_cast<long>(total);
    }
    if (SSL_get_error(FSsl.get(), r) == SSL_ERROR_ZERO_RETURN)
        return 0; // close_notify, or the plain end of the stream
    return Failed(r, "receive");
}

int TOpenSslChannel::ReadInto(std::string& into, std::size_t count)
{
    const std::size_t at = into.size();
    into.resize(at + count);
    std::size_t got = 0;
    const int r = SSL_read_ex(FSsl.get(), into.data() + at, count, &got);
    FReadFlags = 0;
    into.resize(at + got);
    return r;
}

void TOpenSslChannel::Close(int ms, bool drain)
{
    if (!FEstablished || FBrokenBy)
        return;
    ERR_clear_error();
    // Records that came and were never read (a server's session tickets, to
    // a client that only sends) would make the system reset the connection
    // at the close, and the peer lose what is still on its way to it.
    if (drain) {
        char scratch[16384];
        std::size_t got = 0;
        for (int reads = 0; reads < kDrainReads && SSL_read_ex(FSsl.get(), scratch, sizeof scratch, &got) == 1; ++reads) {
        }
        ERR_clear_error();
    }
    SSL_shutdown(FSsl.get()); // close_notify; the peer's is not waited for
    ERR_clear_error();
    FOut.Deliver(FPlain, ms);
}

long TOpenSslChannel::PlainRead(char* into, std::size_t length)
{
    // What was written leaves before anything is awaited: the peer may be
    // waiting for it (a handshake's flight).
    if (FSalvaging && FInStart == FInEnd)
        return 0; // nothing more came before the break
    if (!FSalvaging && !FlushRecords(0)) {
        FPlainError = FBrokenBy;
        return -FBrokenBy;
    }
    // Records are read as many at a time as have arrived (up to 256 KiB, in
    // one system call, straight into FIn) and handed to OpenSSL as it asks:
    // its header, then its body. A record at a time, OpenSSL never moves
    // what it holds of the next ones, which with its own read-ahead it did
    // for every record.
    if (FInStart == FInEnd) {
        if (!FIn)
            FIn = std::make_unique_for_overwrite<char[]>(kIncoming);
        const long n = FPlain.Receive(FIn.get(), kIncoming, FReadFlags);
        FPlainError = n < 0 ? static_cast<int>(-n) : 0;
        FPlainEnded = n == 0;
        if (n <= 0)
            return n;
        FInStart = 0;
        FInEnd = static_cast<std::size_t>(n);
    }
    const std::size_t given = std::min(length, FInEnd - FInStart);
    std::memcpy(into, FIn.get() + FInStart, given);
    FInStart += given;
    return static_cast<long>(given);
}

long TOpenSslChannel::Failed(int result, const char* step)
{
    const int error = SSL_get_error(FSsl.get(), result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        FWantsWrite = error == SSL_ERROR_WANT_WRITE;
        return -EAGAIN;
    }
    if (FBrokenBy) { // a flush of records met the break first: that is the one to tell
        ERR_clear_error();
        return -FBrokenBy;
    }
    // A broken connection is the plain error it was; anything else is TLS's.
    const bool plain = error == SSL_ERROR_SYSCALL && FPlainError != 0 && FPlainError != EAGAIN;
    FBrokenBy = plain ? FPlainError : kTlsFailed;
    const unsigned long first = ERR_peek_error();
    FFailure = plain ? std::string() : FailureText(first, step);
    ERR_clear_error();
    return -FBrokenBy;
}

} // namespace ferro::net
