// A connection: one system socket and what carries its bytes there and
// back: the read-ahead with its receive-through, the send batch, and the
// break memory. Its errors are the system's own (errno values); it knows
// nothing of the socket interface above it, which translates them and
// tells of what happened.
#pragma once

#include "read_ahead.h"
#include "send_batch.h"

#include <cstddef>

namespace ferro::net {

class TConnection {
public:
    explicit TConnection(int fd) : FFd(fd) {}
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    int Fd() const { return FFd; }

    // Break memory: the system tells a reset (an abort, a time-out) once and
    // then reports a plain end; the connection reports the break at every
    // later receive and send instead. 0 while nothing broke it.
    int BrokenBy() const { return FBrokenBy; }
    // Keeps `error` as the break when it is one after which nothing more can
    // pass and nothing broke the connection before; returns `error`.
    int Keep(int error);
    // Keeps `error`, whatever it is, unless the connection broke before: a
    // failure seen while looking for data is the connection's end.
    void Broke(int error);

    // Bytes received ahead, waiting for a receive.
    std::size_t Buffered() const { return FAhead.Buffered(); }
    // The peer's end was read, behind what is buffered.
    bool EndOfStream() const { return FAhead.EndOfStream(); }
    // Up to `length` bytes: what is buffered, else what the system holds,
    // through the read-ahead (one call for many small receives) or, for a
    // receive as large as it, straight into `into`; a peek leaves them.
    // Bytes kept by the send batch leave first (a reply never waits for
    // them). With `wait`, a receive that finds nothing waits as long as the
    // system socket's time-outs let it. The count, 0 for the end, or minus
    // the error (-EAGAIN: nothing came).
    long Receive(char* into, std::size_t length, bool peek, bool wait);
    // What the peer sent before the connection broke, which the system
    // still holds after telling the break: up to `length` bytes, without
    // waiting; 0 when there is none.
    long ReceiveLeftovers(char* into, std::size_t length);
    // Whether a receive would find something now, without waiting or taking
    // anything: 1 for data, 0 for the end or a break (kept), or minus the
    // error when nothing is there yet.
    long Look();

    // Sends `length` bytes; with `more`, they may wait in the send batch for
    // the next send (never more than the system surely takes).
    // `sendBlocked`: a send found the buffer full since room was last
    // seen. `flags` are sys::kDontWait or none. The count
    // taken, or minus the error (-EAGAIN: the buffer is full).
    long Send(const char* bytes, std::size_t length, bool more, bool sendBlocked, int flags);
    // Bytes wait in the send batch.
    bool Holds() const { return FBatch.Holds(); }
    // Hands what the batch keeps to the system: 0, or minus the error.
    long PushHeld(int flags);
    // As PushHeld without waiting; true when nothing is kept.
    bool Flush() { return FBatch.Flush(FFd); }
    // As Flush, waiting up to `ms` for room; true when all has left.
    bool Deliver(int ms) { return FBatch.Deliver(FFd, ms); }
    // A reset drops what the batch keeps: the peer learns of the loss by it.
    void DropHeld() { FBatch.Drop(); }

    // Bounded waits (the transport's "moments"): a connect, an accept and a
    // receive that may wait do so in the system call itself, bounded by
    // receive and send time-outs of one tick of the system's clock
    // (SO_RCVTIMEO, SO_SNDTIMEO), instead of a poll before the call: what
    // they wait for is mostly that close on this machine or a near one, and
    // one call costs less than a turn of the event loop. Set once.
    void BoundWaits();
    bool WaitsBounded() const { return FWaitsBounded; }
    // A connection accepted by a listener with bounded waits has them too.
    void InheritBoundedWaits(bool bounded) { FWaitsBounded = bounded; }

    // TCP_NODELAY, set before a connection's second send (the first the
    // system could hold back), or at once for a listener's connections.
    void NoDelay() { FBatch.NoDelay(FFd); }
    bool NoDelaySet() const { return FBatch.NoDelaySet(); }
    void InheritNoDelay(bool set) { FBatch.InheritNoDelay(set); }

    // A fresh system socket under the same number: nothing received ahead,
    // kept, sent or broken, and the system's default time-outs.
    void Restart();

private:
    int FFd;
    TReadAhead FAhead;
    TSendBatch FBatch;
    int FBrokenBy = 0;
    bool FWaitsBounded = false;
};

} // namespace ferro::net
