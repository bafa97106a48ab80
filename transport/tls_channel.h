// A TLS channel: the data inside records, the records carried by a plain
// channel (channel.h). Read-ahead, send batching, bounded waits and break
// memory therefore work on the records as they do on plain bytes, and
// whoever watches the plain channel's socket sees the records come and go.
// One backend stands behind it on each platform (OpenSSL on Linux:
// openssl_channel.h); callers see only this.
#pragma once

#include "channel.h"

#include <memory>
#include <string>

namespace ferro::tls {
class TContext;
}

namespace ferro::net {

class TTlsChannel : public TChannel {
public:
    // A step of the handshake: 0 when it is done; -EAGAIN while it waits
    // for the socket to be readable (or writable when WantsWrite); else
    // minus the failure.
    virtual long Handshake() = 0;
    virtual bool WantsWrite() const = 0;
    // Send and Receive carry the data inside TLS, as a plain channel's. A
    // failure of TLS itself is kTlsFailed (Reason() tells it); a broken
    // connection is the plain error it was (a reset: ECONNRESET). A failure
    // is told again by every later call.

    // A TLS peer's records before a break are read by the channel itself.
    long ReceiveLeftovers(char*, std::size_t) override { return 0; }
    // Tells the peer the data has ended (close_notify), waiting up to `ms`
    // for room to hand the records still kept to the plain channel; with
    // `drain`, reads first what came unasked (the plain channel must not
    // wait then). Sends nothing when the handshake did not finish or the
    // channel failed.
    virtual void Close(int ms, bool drain) = 0;
    // A client whose handshake is done: its server may still send records
    // unasked (session tickets), which its close must not answer with a reset.
    virtual bool HearsUnasked() const = 0;
    // The failure every call reports since the channel failed; 0 before.
    virtual int BrokenBy() const = 0;
    // Why TLS failed, in the backend's words and ours ("certificate verify
    // failed (self-signed certificate)"); empty for a broken connection,
    // which its error tells.
    virtual const std::string& Reason() const = 0;
    // "TLSv1.3 TLS_AES_256_GCM_SHA384", once the handshake is done, and
    // " (resumed)" after it when a ticket spared the full handshake.
    virtual std::string Description() const = 0;
    // Of a pinned peer whose certificate is outside its dates (a pin trusts
    // the key, not the dates): "the pinned certificate expired on
    // 2001-01-01"; empty otherwise.
    virtual std::string PinnedDatesNote() const = 0;
};

// TLS over `plain` as the side `context` is for, not yet shaken hands; a
// client checks that the server's certificate names `peerName` (unless
// pinned) and keeps its tickets under that name and `peerAddress` (the
// address's bytes).
std::unique_ptr<TTlsChannel> OpenTlsChannel(TChannel& plain, std::shared_ptr<tls::TContext> context,
                                            const std::string& peerName, const std::string& peerAddress);

} // namespace ferro::net
