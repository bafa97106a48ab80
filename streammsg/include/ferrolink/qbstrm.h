/// @file
/// TQBStrm: sends a stream with the sender's name as one stream message.
#pragma once

#include <ferrolink/ferro.h>

#include <functional>
#include <optional>

namespace ferro::qbmsg {
class TBodyCheck;
}

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
    /// The file's path for the receiver to store the body under: relative,
    /// "/" between folders, at most 4095 bytes, no NUL. Empty (the default):
    /// no name, and the message goes as it always did. With a path, the body
    /// goes in the large form's version 2 (largeform.h), whatever its size;
    /// a receiver that does not know that version (it answers "VERSION" or
    /// closes on the header) is sent the message again at once in the form
    /// it knows, without the path, and so is every later message to the
    /// same Host and Port from this sender.
    std::string FileName;

    /// Whether the last post's receiver was given FileName (false when it
    /// does not know names, or there was none).
    bool NameTaken() const { return FNameTaken; }
    /// Where the last post's body began: the bytes of it that the receiver
    /// had kept from an earlier send of the same file that was cut off, and
    /// that it checked this file begins with; 0 when the body went whole.
    /// BytesRecvd() and BytesTotal() count from there.
    std::int64_t ResumedAt() const { return FResumedAt; }

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
    ///   characters, at most 251)", "Sender name holds a NUL character",
    ///   "File name too long (N bytes, at most 4095)", "File name holds a
    ///   NUL character";
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
    /// Connects and runs `post`; resets the connection when it fails.
    /// Empty when `post` found that the receiver does not know names.
    std::optional<std::string> Posting(const std::function<std::optional<std::string>()>& post);
    /// Version 2: header, go-ahead or offer to resume, body and check, then
    /// the reply; empty when the receiver does not know that version.
    std::optional<std::string> PostNamed(TStream& stream, std::int64_t size);
    /// Answers an offer to resume from the length `kept` whose check
    /// follows: the offset sent from, the check of the body so far in `check`.
    std::int64_t AnswerOffer(TStream& stream, std::int64_t size, std::uint64_t kept, qbmsg::TBodyCheck& check);
    /// The body from `from`, the check (`check` holds what comes before
    /// `from`) and the final reply.
    std::string SendLargeBody(TStream& stream, std::int64_t from, qbmsg::TBodyCheck& check);
    /// The fixed form: fields and body, then the reply.
    std::string PostFixed(TStream& stream, std::int64_t size);
    /// The large form: header, go-ahead, body and check, then the reply.
    std::string PostLarge(TStream& stream, std::int64_t size);
    /// Reads the receiver's answer to a large header, the 16 bytes or fewer
    /// when it closed or reset.
    std::string ReadAnswer();
    /// Raises the failure a refusal of the header means.
    [[noreturn]] void RaiseRefusal(const std::string& reply, std::int64_t size);

    bool FPosting = false;     ///< PostIt is under way
    bool FNameTaken = false;   ///< the last receiver was given FileName
    std::int64_t FResumedAt = 0;
    std::string FNamesUnknownAt; ///< "host port" of a receiver that does not know names
};

} // namespace ferro
