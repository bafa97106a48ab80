// TQBStrm: sends a stream with the sender's name as one stream message.
#pragma once

#include <ferrolink/ferro.h>

namespace ferro {

class TQBStrm : public TFerrolink {
public:
    explicit TQBStrm(TComponent* owner);

    // The sender's name put into every message.
    std::string FromName;

    // Connects to Host and Port, sends FromName and the whole stream (from its
    // first byte; it is left at its end), reads the receiver's reply and
    // disconnects on every path after a successful connect. Returns the reply,
    // shorter or empty when the receiver closed without one. A name or body
    // that has no valid encoding is refused with ESockError before connecting.
    // The stream stays the caller's.
    std::string PostIt(TStream& stream);
};

} // namespace ferro
