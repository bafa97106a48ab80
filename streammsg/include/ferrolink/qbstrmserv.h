/// @file
/// TQBStrmServ: the receiving end of stream messages.
#pragma once

#include <ferrolink/qbgeneralserver.h>

namespace ferro {

/// A received message: the receiver, the sender's name (at most 255
/// characters, empty when the message has none) and the body, a memory
/// stream holding exactly the body's bytes at position 0. The stream is the
/// receiver's and is gone when the handler returns: copy what is needed.
using TStrmEvent = std::function<void(TComponent* sender, const std::string& sFrom, TStream& strm)>;

/// A listening server on port 6711 by default that reads one stream message
/// from each connection (see wireformat.h), answers it with "OK" and 14
/// blanks, then raises OnMSG.
///
/// A message that fails (see ReadMessage) is not answered and OnMSG is not
/// called; the failure goes to the application's exception handler and the
/// server listens again. With TimeOut 0 (the default) a client that connects
/// and sends nothing, or stops half way without closing, holds the receiver
/// for as long as it likes: set TimeOut.
class TQBStrmServ : public TQBGeneralServer {
public:
    /// A receiver with Port 6711 whose OnClientContact is ReadMessage.
    explicit TQBStrmServ(TComponent* owner);

    /// Called once for each message read whole and answered; the reply has
    /// gone out before, so the sender may be done before the handler runs.
    /// An exception it raises is passed on like a failed message.
    TStrmEvent OnMSG;

    /// Reads one message from the connection being served, answers it and
    /// raises OnMSG (the component's OnClientContact). Never reads beyond the
    /// declared body.
    /// @throws EConvertError "'<text>' is not a valid integer value" for a
    ///   length field that is no number.
    /// @throws ESockError "Invalid name length (N, at most 255)"; "Read
    ///   Failed" when the sender closed before the message was whole (a
    ///   length field cut short included); "Read Timed Out", "Read Canceled",
    ///   "Unknown Error No. N" (10054: the sender reset); the reply's write
    ///   failures.
    void ReadMessage(TComponent* sender);

private:
    /// One length field, which must arrive whole.
    std::int32_t ReadLength();
    /// The name-length field and the name.
    std::string ReadName();
    /// The body-length field and the body.
    void ReadBody(TMemoryStream& body);
};

} // namespace ferro
