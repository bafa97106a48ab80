/// @file
/// TQBStrm: sends a stream with the sender's name as one stream message.
#pragma once

#include <ferrolink/ferro.h>

namespace ferro {

/// The sending end of stream messages (see wireformat.h), on port 6711 by
/// default.
class TQBStrm : public TFerrolink {
public:
    /// A sender with Port 6711 and no name.
    explicit TQBStrm(TComponent* owner);
    /// Destroyed during PostIt (by a handler), the connection is reset, so
    /// that the receiver never takes what it got for a whole message.
    ~TQBStrm() override;

    /// The sender's name put into every message: at most 251 characters, no
    /// NUL.
    std::string FromName;

    /// Posts the whole stream (from its first byte, whatever its position) as
    /// one message to Host and Port: connects, sends FromName and the body,
    /// reads the receiver's 16-byte reply and disconnects. The stream stays
    /// the caller's, positioned at its end after a successful post.
    ///
    /// A body of at most 9 999 bytes goes in the fixed form (wireformat.h),
    /// in 255-byte chunks. A larger one goes in the large form (largeform.h):
    /// the header first, then, once the receiver has said it takes the
    /// size, the body in large chunks (OnPacketRecvd at most every 50 ms,
    /// BytesRecvd() and BytesTotal() for a progress bar) and its check. The
    /// body is read from the stream as it goes: a file stream is never held
    /// in memory.
    /// @return the reply ("OK" and 14 blanks from a TQBStrmServ); shorter or
    ///   empty when the receiver closed without one, which raises nothing.
    /// @throws ESockError before connecting: "Sender name too long (N
    ///   characters, at most 251)", "Sender name holds a NUL character";
    ///   Connect's failures, after which nothing was sent. For the large
    ///   form, before any body byte is sent: "The receiver does not take
    ///   messages over 9999 bytes" (it knows only the fixed form), "Message
    ///   body too large for the receiver (N bytes, at most M)"; after the
    ///   body: "The message arrived damaged (the receiver's check failed); it
    ///   was not stored", "The receiver could not store the message". For
    ///   either form, Connect's failures,
    ///   after which nothing was sent; after connecting, the transfer's
    ///   failures ("Write Timed Out", "Read Timed Out", "Read Canceled",
    ///   "Unknown Error No. 10054", ...). A post that fails after connecting
    ///   resets its connection, so that the receiver never takes what it got
    ///   for a whole message.
    std::string PostIt(TStream& stream);

private:
    /// The fixed form: fields and body, then the reply.
    std::string PostFixed(TStream& stream, std::int64_t size);
    /// The large form: header, go-ahead, body and check, then the reply.
    std::string PostLarge(TStream& stream, std::int64_t size);
    /// Reads the receiver's answer to a large header; raises unless it is
    /// the go-ahead.
    void AwaitGoAhead(std::int64_t size);

    bool FPosting = false; ///< PostIt is under way
};

} // namespace ferro
