// A channel: what a connection's data travels by. A plain channel carries
// it as it is, on the connection's system socket (read-ahead, send batch,
// bounded waits, break memory: connection.h); a TLS channel wraps a plain
// one and carries the data inside records (tls_channel.h). Results are the
// system's: a count, or minus an errno value, with kTlsFailed for a failure
// of TLS itself.
#pragma once

#include <cstddef>

namespace ferro::net {

// A failure of TLS (a refused certificate, a peer that speaks no TLS, a
// forged record), beside the system's errors; the channel tells why.
constexpr int kTlsFailed = 0x10000;

// How a send or a receive goes, beside the system's own flags.
constexpr int kPeek = 0x2;          // a receive leaves what it finds
constexpr int kMore = 0x8000;       // more follows at once: the bytes may wait in the send batch for it
constexpr int kWaitMoment = 0x4000; // a receive that finds nothing waits a moment (bounded waits)

class TChannel {
public:
    virtual ~TChannel() = default;
    // Sends up to `length` bytes: the count taken, or minus the error
    // (-EAGAIN: no room now).
    virtual long Send(const char* bytes, std::size_t length, int flags) = 0;
    // Receives up to `length` bytes (kPeek leaves them): the count, 0 for
    // the end, or minus the error (-EAGAIN: nothing came).
    virtual long Receive(char* into, std::size_t length, int flags) = 0;
    // What the peer sent before the connection broke, which the system still
    // holds after telling the break: up to `length` bytes, without waiting;
    // 0 when there is none.
    virtual long ReceiveLeftovers(char* into, std::size_t length) = 0;
    // Waits up to `ms` for room to send.
    virtual void AwaitRoom(int ms) = 0;
};

} // namespace ferro::net
