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
    ~TQBStrmServ() override;

    /// Called once for each message read whole and answered; the reply has
    /// gone out before (unless ReplyAfterHandler), so the sender may be done
    /// before the handler runs. An exception it raises is passed on like a
    /// failed message.
    TStrmEvent OnMSG;

    /// The longest a sender may send no byte, in milliseconds, from the
    /// connection's acceptance to the body's last byte; 0 (the default) for
    /// no limit. Beyond it the message fails with "Read Timed Out".
    std::int32_t IdleLimit = 0;
    /// The longest a whole message may take, in milliseconds, from the
    /// connection's acceptance to the body's last byte; 0 (the default) for
    /// no limit. Beyond it the message fails with "Read Timed Out".
    std::int32_t MessageDeadline = 0;
    /// When true, the reply goes out only after OnMSG has returned without
    /// raising, so that "OK" can mean the handler stored the message; a
    /// handler that raises means no reply. A cancel set while the handler
    /// runs (a stop request) does not withhold that reply: what the handler
    /// did is answered. False by default: the reply comes first.
    bool ReplyAfterHandler = false;

    /// Reads one message from the connection being served, answers it and
    /// raises OnMSG (the component's OnClientContact), within IdleLimit and
    /// MessageDeadline. Never reads beyond the declared body.
    /// The time-out limits each wait for the network: its countdown stops
    /// when the body is whole, so a slow OnMSG (storing on a slow disk) never
    /// counts against the reply.
    /// @throws EConvertError "'<text>' is not a valid integer value" for a
    ///   length field that is no number.
    /// @throws ESockError "Invalid name length (N, at most 255)" (a negative
    ///   one too), "Invalid body length (N)" for a negative one; "Read
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
    /// Arms the limits of a message that begins now.
    void StartLimits();
    /// Disarms them.
    void StopLimits();
    /// A limit was reached: the wait under way ends with its time-out.
    void LimitReached();
    /// Writes the reply after the handler, even when canceled meanwhile.
    void ReplyDespiteCancel();

    std::unique_ptr<TTimer> FIdleTimer;     ///< IdleLimit's countdown, restarted by every byte
    std::unique_ptr<TTimer> FDeadlineTimer; ///< MessageDeadline's countdown
};

} // namespace ferro
