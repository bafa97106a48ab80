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
    /// @return the reply ("OK" and 14 blanks from a TQBStrmServ); shorter or
    ///   empty when the receiver closed without one, which raises nothing.
    /// @throws ESockError before connecting: "Message body too large (N
    ///   bytes, at most 9999)", "Sender name too long (N characters, at most
    ///   251)", "Sender name holds a NUL character"; Connect's failures,
    ///   after which nothing was sent; after connecting, the transfer's
    ///   failures ("Write Timed Out", "Read Timed Out", "Read Canceled",
    ///   "Unknown Error No. 10054", ...). A post that fails after connecting
    ///   resets its connection, so that the receiver never takes what it got
    ///   for a whole message.
    std::string PostIt(TStream& stream);

private:
    bool FPosting = false; ///< PostIt is under way
};

} // namespace ferro
