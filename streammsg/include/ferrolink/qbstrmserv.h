/// @file
/// TQBStrmServ: the receiving end of stream messages.
#pragma once

#include <ferrolink/qbgeneralserver.h>

namespace ferro {

namespace qbmsg {
class TMessagePace;
class TBodyCheck;
}

/// A received message: the receiver, the sender's name (at most 255
/// characters, empty when the message has none) and the body, a stream
/// holding exactly the body's bytes at position 0: a TMemoryStream for the
/// fixed form, a TTempFileStream (a nameless file in BodyFolder) for the
/// large form. The stream is the receiver's and is gone when the handler
/// returns: copy what is needed, or keep the large form's file under a name
/// (TTempFileStream::Keep) without copying it.
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
    /// no limit. Beyond it the message fails with "Read Timed Out", whatever
    /// still arrives, except a large body that keeps to MinimumRate.
    std::int32_t MessageDeadline = 0;
    /// When true, the reply goes out only after OnMSG has returned without
    /// raising, so that "OK" can mean the handler stored the message; a
    /// handler that raises means no reply. A cancel set while the handler
    /// runs (a stop request) does not withhold that reply: what the handler
    /// did is answered. False by default: the reply comes first.
    bool ReplyAfterHandler = false;
    /// The largest body taken, in bytes (the fixed form's and the large
    /// form's): a larger one is refused when its length arrives, before any
    /// of it is read (the large form answers "TOOLARGE" and the limit). 256
    /// MiB by default: a picture of 8 000 x 8 000 pixels, and no more disk
    /// than a stranger should fill with one message. 0 or less: only empty
    /// bodies.
    std::int64_t MaxSize = 256LL * 1024 * 1024;
    /// The slowest a large body may arrive, in bytes per second, once
    /// MessageDeadline has passed: counted from the go-ahead, each byte that
    /// has arrived earns 1/MinimumRate seconds, and a body behind that fails
    /// at once with "Message body too slow (<arrived> of <declared> bytes in
    /// <seconds> s, at least <MinimumRate> bytes a second)". What a header
    /// declares earns nothing, so a client that sends less than the rate is
    /// let go at MessageDeadline. 64 KiB/s by default; 0 or less: a large
    /// body, too, must be whole within MessageDeadline. Without a
    /// MessageDeadline there is no limit.
    std::int64_t MinimumRate = 64 * 1024;
    /// The folder a large body is written to as it arrives (a file with no
    /// name, gone when the handler returns unless kept); empty (the default)
    /// for the system's temporary folder. The body never sits whole in
    /// memory.
    std::string BodyFolder;
    /// Makes the stream a large body is written to as it arrives, instead
    /// of a TTempFileStream in BodyFolder: for an application that keeps
    /// bodies where it opened its folder (qbmsg keeps them in the folder it
    /// opened at its start, whatever the folder's path names later). An
    /// exception it raises refuses the message with "NOT STORED" and the
    /// exception's text. Empty by default.
    std::function<std::unique_ptr<TStream>()> BodyFile;

    /// What a sender that names its file (the large form's version 2, as
    /// qbmsg send does) says of it: the sender's name, the file's path as it
    /// came (unchecked: making it a safe name is the application's work)
    /// and the body's size.
    struct TFileLabel {
        std::string From;       ///< the sender's name
        std::string Path;       ///< the file's path, as the sender sent it
        std::uint64_t Size = 0; ///< the whole body's size
    };
    /// The file's label of the message being handed to OnMSG; an empty Path
    /// for a message that names no file (the fixed form, version 1).
    const TFileLabel& FileLabel() const { return FLabel; }
    /// The part of a named file that the application kept from an earlier
    /// send that was cut off (see OnBodyCut), asked for each named file: a
    /// stream holding that part, or null. A part of 1 to Size bytes is
    /// offered to the sender with its check; a sender whose file begins with
    /// it sends the rest, which is written at the stream's end, and the
    /// stream is the body then; any other sender sends the whole body to a
    /// new BodyFile. An exception it raises means no part. Empty by default:
    /// nothing is resumed.
    std::function<std::unique_ptr<TStream>(const TFileLabel&)> KeptBody;
    /// Called when the body of a named file is cut off (the sender closed,
    /// reset or was let go by the limits, or the receiver was canceled),
    /// with the stream that holds what arrived (a part from KeptBody and what
    /// followed it, or a new BodyFile), for the application to keep for
    /// KeptBody. Not called for a body that could not be written or whose
    /// check failed. What it raises is dropped. Empty by default.
    std::function<void(const TFileLabel&, std::unique_ptr<TStream> arrived)> OnBodyCut;

    /// Reads one message from the connection being served, answers it and
    /// raises OnMSG (the component's OnClientContact), within IdleLimit and
    /// MessageDeadline. Never reads beyond the declared body. Takes either
    /// form, told apart by the first four bytes ("QBIG" for the large form);
    /// a large body is answered "OK" only when its check matches, and with
    /// ReplyAfterHandler a handler that raises is answered "NOT STORED".
    /// The time-out limits each wait for the network: its countdown stops
    /// when the body is whole, so a slow OnMSG (storing on a slow disk) never
    /// counts against the reply.
    /// @throws EConvertError "'<text>' is not a valid integer value" for a
    ///   length field that is no number.
    /// @throws ESockError "Invalid name length (N, at most 255)" (a negative
    ///   one too), "Invalid name length (a TLS handshake: the sender uses
    ///   TLS, this receiver does not)", "Invalid body length (N)" for a negative one; "Read
    ///   Failed" when the sender closed before the message was whole (a
    ///   length field cut short included); "Read Timed Out", "Message body
    ///   too slow (...)" (see MinimumRate), "Read Canceled",
    ///   "Unknown Error No. N" (10054: the sender reset); the reply's write
    ///   failures.
    void ReadMessage(TComponent* sender);

private:
    /// The next four bytes, which must arrive whole.
    std::string ReadField();
    /// The name of a fixed-form message whose name-length field is `field`.
    std::string ReadName(const std::string& field);
    /// The fixed form's body-length field and body.
    std::unique_ptr<TStream> ReadBody();
    /// Exactly `count` bytes; "Read Failed" when the sender closes first.
    void ReadExactly(char* into, std::size_t count);
    /// The rest of a large message's header, the go-ahead (or the
    /// refusal), the body and its check; the body in a nameless file.
    std::unique_ptr<TStream> ReadLarge(std::string& name);
    /// Version 2's path field.
    std::string ReadPath();
    /// A new body stream; a failure answers "NOT STORED" and raises.
    std::unique_ptr<TStream> NewBody();
    /// KeptBody's part for the file in FLabel, when there is one to offer.
    std::unique_ptr<TStream> KeptPart();
    /// Offers the kept part (its check computed into `check`) and reads the
    /// offset the sender sends from: the part's size, or 0.
    std::uint64_t OfferResume(TStream& kept, qbmsg::TBodyCheck& check);
    /// ReadLargeBody, and what arrived of a named file handed to OnBodyCut
    /// when it is cut off.
    void ReadBodyKeepingCut(std::unique_ptr<TStream>& body, std::uint64_t left, qbmsg::TBodyCheck& check);
    /// The `left` bytes still to come of a large body into `body`, added to
    /// `check`, then the check that follows them compared.
    void ReadLargeBody(TStream& body, std::uint64_t left, qbmsg::TBodyCheck& check);
    /// Answers the message, runs OnMSG, in the order ReplyAfterHandler says.
    void Deliver(const std::string& name, TStream& body, bool large);
    /// Sends a reply that explains a failure, as far as the connection
    /// still takes it.
    void TellSender(const std::string& reply);
    /// After a reply sent before the body is whole: drops what still comes
    /// until the sender closes, briefly, so that no reset overtakes it.
    void DiscardWhileSent();
    /// MaxSize, never negative.
    std::int64_t Limit() const;
    /// Arms the limits of a message that begins now.
    void StartLimits();
    /// Disarms them.
    void StopLimits();
    /// Arms the deadline's countdown for `ms` milliseconds.
    void ArmDeadline(std::int64_t ms);
    /// After each receive: the idle countdown starts again, and a message
    /// past its time fails now.
    void DataArrived();
    /// The deadline's countdown ran out: the message fails unless its body
    /// has earned more time meanwhile.
    void DeadlineTick();
    /// Writes the reply after the handler, even when canceled meanwhile.
    void ReplyDespiteCancel();

    std::unique_ptr<TTimer> FIdleTimer;     ///< IdleLimit's countdown, restarted by every byte
    std::unique_ptr<TTimer> FDeadlineTimer; ///< MessageDeadline's countdown, and a large body's
    std::unique_ptr<qbmsg::TMessagePace> FPace; ///< how long the message in hand may take
    TFileLabel FLabel;                          ///< the named file in hand
    bool FCutKeepable = false;                  ///< a cut now leaves a part worth keeping
};

} // namespace ferro
