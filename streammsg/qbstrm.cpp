#include <ferrolink/qbstrm.h>

#include <ferrolink/largeform.h>
#include <ferrolink/wireformat.h>

#include <chrono>

namespace ferro {

namespace {

constexpr std::chrono::milliseconds kEarlyReplyLook(20); // between looks for an answer while a body goes out

} // namespace

TQBStrm::TQBStrm(TComponent* owner) : TFerrolink(owner)
{
    Port = qbmsg::kPort;
}

TQBStrm::~TQBStrm()
{
    if (FPosting)
        ResetOnClose();
}

std::string TQBStrm::PostIt(TStream& stream)
{
    const std::int64_t size = stream.Size();
    const bool large = size > qbmsg::kMaxBodySize;
    // The large form carries any size: only the name can keep it from going.
    if (std::string problem = qbmsg::EncodingProblem(FromName, large ? 0 : size); !problem.empty())
        Raise(problem, 0);
    Connect();
    std::string reply;
    FPosting = true;
    try {
        reply = large ? PostLarge(stream, size) : PostFixed(stream, size);
    } catch (const EComponentDestroyed&) {
        throw; // the destructor has reset the connection
    } catch (...) {
        FPosting = false;
        HoldWrites(false);
        // The receiver must not take what it got for a whole message: a post
        // reported as failed is never delivered later.
        try {
            AbortConnection();
        } catch (const ESockError&) {
            // The first failure is the one the caller needs to see.
        }
        throw;
    }
    FPosting = false;
    Disconnect();
    return reply;
}

std::string TQBStrm::PostFixed(TStream& stream, std::int64_t size)
{
    // The two fields travel with the body; the body's last chunk hands them
    // over, a failure resets the connection.
    HoldWrites(true);
    Write(qbmsg::EncodeHeader(FromName));
    Write(qbmsg::EncodeBodyLength(size));
    HoldWrites(false);
    SendFile(stream);
    return Read(qbmsg::kReplySize);
}

std::string TQBStrm::PostLarge(TStream& stream, std::int64_t size)
{
    const std::string header = qbmsg::EncodeLargeHeader(FromName, static_cast<std::uint64_t>(size));
    SendBytes(header.data(), header.size());
    AwaitGoAhead(size);
    qbmsg::TBodyCheck check;
    // A receiver that cannot store the body says so before it has all of
    // it: the reply is read then, instead of sending on into a reset. A look
    // every few milliseconds is soon enough (the receiver waits 2 s for it)
    // and costs nothing: a look hands on what send batching holds.
    struct TEarlyReply {};
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastLook = Clock::now();
    try {
        SendStream(stream, [&](const char* bytes, std::size_t count) {
            check.Add(bytes, count);
            if (const auto now = Clock::now(); now - lastLook >= kEarlyReplyLook) {
                lastLook = now;
                if (PeerHasSpoken())
                    throw TEarlyReply();
            }
        });
    } catch (const TEarlyReply&) {
        std::string early(qbmsg::kReplySize, '\0');
        early.resize(ReadBytes(early.data(), early.size()));
        Raise(early == qbmsg::kNotStored ? qbmsg::kNotStoredText : qbmsg::UnknownReplyText(early), 0);
    }
    // A body stopped by a cancel in OnPacketRecvd gets no check: the reply's
    // wait then fails as canceled, and the connection is reset.
    if (BytesRecvd() == size) {
        const auto value = check.Value();
        SendBytes(value.data(), value.size());
    }
    std::string reply(qbmsg::kReplySize, '\0');
    reply.resize(ReadBytes(reply.data(), reply.size()));
    if (reply == qbmsg::kBadCheck)
        Raise(qbmsg::kCheckFailed, 0);
    if (reply == qbmsg::kNotStored)
        Raise(qbmsg::kNotStoredText, 0);
    return reply;
}

void TQBStrm::AwaitGoAhead(std::int64_t size)
{
    // A receiver of the fixed form fails on the header's first field and
    // closes, resetting what it left unread: either means "not taken".
    std::string reply(qbmsg::kReplySize, '\0');
    FResetEndsRead = true;
    try {
        reply.resize(ReadBytes(reply.data(), reply.size()));
    } catch (...) {
        FResetEndsRead = false;
        throw;
    }
    FResetEndsRead = false;
    if (reply == qbmsg::kGoAhead)
        return;
    if (reply == qbmsg::kNotStored)
        Raise(qbmsg::kNotStoredText, 0);
    if (const auto limit = qbmsg::ParseTooLarge(reply))
        Raise("Message body too large for the receiver (" + std::to_string(size) + " bytes, at most " + std::to_string(*limit) + ")", 0);
    if (const auto known = qbmsg::ParseUnknownVersion(reply))
        Raise("The receiver does not know this form's version " + std::to_string(qbmsg::kLargeVersion) + " (it knows up to " +
                  std::to_string(*known) + ")", 0);
    // Closed or reset at once: a receiver of the fixed form alone.
    if (reply.size() < qbmsg::kReplySize)
        Raise(qbmsg::kNoLargeForm, 0);
    Raise(qbmsg::UnknownReplyText(reply), 0);
}

} // namespace ferro
