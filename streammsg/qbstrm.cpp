#include <ferrolink/qbstrm.h>

#include <ferrolink/largeform.h>
#include <ferrolink/wireformat.h>

#include "stream_tail.h"

#include <chrono>
#include <cstring>
#include <memory>

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
    const std::string receiver = Host + " " + std::to_string(Port);
    const bool named = !FileName.empty() && FNamesUnknownAt != receiver;
    // The large form carries any size: only the name can keep it from going.
    if (std::string problem = qbmsg::EncodingProblem(FromName, large || named ? 0 : size); !problem.empty())
        Raise(problem, 0);
    if (std::string problem = qbmsg::PathProblem(FileName); !problem.empty())
        Raise(problem, 0);
    FNameTaken = false;
    FResumedAt = 0;
    if (named) {
        if (auto reply = Posting([&] { return PostNamed(stream, size); }))
            return *reply;
        // A receiver of today's forms: the same message in the form it knows.
        FNamesUnknownAt = receiver;
        if (std::string problem = qbmsg::EncodingProblem(FromName, large ? 0 : size); !problem.empty())
            Raise(problem, 0);
    }
    return *Posting([&] { return large ? PostLarge(stream, size) : PostFixed(stream, size); });
}

std::optional<std::string> TQBStrm::Posting(const std::function<std::optional<std::string>()>& post)
{
    Connect();
    std::optional<std::string> reply;
    try {
        const TScoped<bool> posting(Life(), FPosting, true);
        reply = post();
    } catch (const EComponentDestroyed&) {
        throw; // the destructor has reset the connection
    } catch (...) {
        // The receiver must not take what it got for a whole message: a post
        // reported as failed is never delivered later.
        try {
            AbortConnection();
        } catch (const ESockError&) {
            // The first failure is the one the caller needs to see.
        }
        throw;
    }
    Disconnect();
    return reply;
}

std::string TQBStrm::PostFixed(TStream& stream, std::int64_t size)
{
    // The two fields travel with the body; the body's last chunk hands them
    // over, a failure resets the connection.
    {
        const auto held = WritesHeld();
        Write(qbmsg::EncodeHeader(FromName));
        Write(qbmsg::EncodeBodyLength(size));
    }
    SendFile(stream);
    return Read(qbmsg::kReplySize);
}

std::string TQBStrm::PostLarge(TStream& stream, std::int64_t size)
{
    const std::string header = qbmsg::EncodeLargeHeader(FromName, static_cast<std::uint64_t>(size));
    SendBytes(header.data(), header.size());
    const std::string reply = ReadAnswer();
    if (reply != qbmsg::kGoAhead)
        RaiseRefusal(reply, size);
    qbmsg::TBodyCheck check;
    return SendLargeBody(stream, 0, check);
}

std::optional<std::string> TQBStrm::PostNamed(TStream& stream, std::int64_t size)
{
    const std::string header = qbmsg::EncodeNamedHeader(FromName, static_cast<std::uint64_t>(size), FileName);
    SendBytes(header.data(), header.size());
    const std::string reply = ReadAnswer();
    // Closed at once (a receiver of the fixed form, or of version 1 from
    // before it answered versions), or told the versions it knows.
    if (reply.size() < qbmsg::kReplySize || qbmsg::ParseUnknownVersion(reply))
        return std::nullopt;
    FNameTaken = true;
    qbmsg::TBodyCheck check;
    std::int64_t from = 0;
    if (const auto kept = qbmsg::ParseResumeOffer(reply))
        from = AnswerOffer(stream, size, *kept, check);
    else if (reply != qbmsg::kGoAhead)
        RaiseRefusal(reply, size);
    FResumedAt = from;
    return SendLargeBody(stream, from, check);
}

std::int64_t TQBStrm::AnswerOffer(TStream& stream, std::int64_t size, std::uint64_t kept, qbmsg::TBodyCheck& check)
{
    char offered[qbmsg::kCheckSize];
    if (ReadBytes(offered, sizeof offered) < sizeof offered)
        Raise("Read Failed", 0);
    // The part is this file's only when this file begins with it: a file
    // that changed meanwhile goes whole.
    bool same = kept <= static_cast<std::uint64_t>(size);
    if (same) {
        constexpr std::int64_t kPiece = 256 * 1024;
        const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
        stream.SetPosition(0);
        for (auto left = static_cast<std::int64_t>(kept); left > 0 && same;) {
            const std::int64_t piece = std::min(left, kPiece);
            same = stream.Read(buffer.get(), piece) == piece;
            check.Add(buffer.get(), static_cast<std::size_t>(piece));
            left -= piece;
        }
        same = same && std::memcmp(check.Value().data(), offered, sizeof offered) == 0;
    }
    const std::int64_t from = same ? static_cast<std::int64_t>(kept) : 0;
    if (!same)
        check.Reset();
    const std::string answer = qbmsg::EncodeOffset(static_cast<std::uint64_t>(from));
    SendBytes(answer.data(), answer.size());
    return from;
}

std::string TQBStrm::SendLargeBody(TStream& stream, std::int64_t from, qbmsg::TBodyCheck& check)
{
    qbmsg::TStreamTail tail(stream, from);
    // A receiver that cannot store the body says so before it has all of
    // it: the reply is read then, instead of sending on into a reset. A look
    // every few milliseconds is soon enough (the receiver waits 2 s for it)
    // and costs nothing: a look hands on what send batching holds.
    struct TEarlyReply {};
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastLook = Clock::now();
    try {
        SendStream(tail, [&](const char* bytes, std::size_t count) {
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
    if (BytesRecvd() == tail.Size()) {
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

std::string TQBStrm::ReadAnswer()
{
    // A receiver of the fixed form fails on the header's first field and
    // closes, resetting what it left unread: either means "not taken".
    std::string reply(qbmsg::kReplySize, '\0');
    const auto resetEnds = ResetEndsReads();
    reply.resize(ReadBytes(reply.data(), reply.size()));
    return reply;
}

void TQBStrm::RaiseRefusal(const std::string& reply, std::int64_t size)
{
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
