#include <ferrolink/qbstrmserv.h>

#include <ferrolink/wireformat.h>

#include "message_pace.h"

#include <ferrolink/largeform.h>
#include <ferrolink/tempfilestream.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace ferro {

namespace {

constexpr int kDiscardMs = 2000; // after a refusal in mid-body, for the reply to reach the sender

} // namespace

TQBStrmServ::TQBStrmServ(TComponent* owner)
    : TQBGeneralServer(owner), FIdleTimer(std::make_unique<TTimer>(nullptr)),
      FDeadlineTimer(std::make_unique<TTimer>(nullptr)), FPace(std::make_unique<qbmsg::TMessagePace>())
{
    Port = qbmsg::kPort;
    OnClientContact = [this](TComponent* sender) { ReadMessage(sender); };
    for (TTimer* limit : {FIdleTimer.get(), FDeadlineTimer.get()})
        limit->SetEnabled(false);
    FIdleTimer->OnTimer = [this](TComponent*) {
        StopLimits();
        EndWaitAsTimedOut(); // ticks arrive only while a wait pumps: a read wait
    };
    FDeadlineTimer->OnTimer = [this](TComponent*) { DeadlineTick(); };
    FReceivedHook = [this](TComponent*) { DataArrived(); };
}

TQBStrmServ::~TQBStrmServ() = default;

void TQBStrmServ::ReadMessage(TComponent*)
{
    std::unique_ptr<TStream> body; // freed on every path
    std::string name;
    bool large = false;
    FLabel = {};
    StartLimits();
    try {
        const std::string first = ReadField();
        large = first == qbmsg::kLargeMagic;
        if (large) {
            body = ReadLarge(name);
        } else {
            name = ReadName(first);
            body = ReadBody();
        }
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        StopLimits();
        throw;
    }
    StopLimits();
    TimerOff(); // storing is no wait for the network: the reply's wait counts afresh
    body->SetPosition(0);
    Deliver(name, *body, large);
}

void TQBStrmServ::Deliver(const std::string& name, TStream& body, bool large)
{
    if (ReplyAfterHandler)
        RaiseIfBroken(); // a sender that gave up is not handed over, nor answered
    else
        Write(qbmsg::kReply);
    if (OnMSG) {
        const TLife life = Life();
        try {
            OnMSG(this, name, body);
        } catch (const EComponentDestroyed&) {
            throw;
        } catch (...) {
            // The large form says why there is no "OK"; the fixed form has
            // no word for it and answers nothing.
            if (*life && large && ReplyAfterHandler)
                TellSender(qbmsg::kNotStored);
            throw;
        }
        RaiseIfDestroyed(life);
    }
    if (ReplyAfterHandler)
        ReplyDespiteCancel();
}

void TQBStrmServ::TellSender(const std::string& reply)
{
    try {
        SendBytes(reply.data(), reply.size());
    } catch (const ESockError&) {
        // A sender that is gone cannot be told; the failure that made the
        // reply is the one to pass on.
    }
}

void TQBStrmServ::ReplyDespiteCancel()
{
    // The handler has done its work (stored the message): a reply withheld
    // by a cancel that comes before or during its wait would deny it.
    const auto held = CancelsHeld();
    Write(qbmsg::kReply);
}

void TQBStrmServ::StartLimits()
{
    FPace->Start(MessageDeadline, MinimumRate);
    FIdleTimer->SetInterval(IdleLimit);
    FIdleTimer->SetEnabled(IdleLimit > 0);
    ArmDeadline(MessageDeadline);
}

void TQBStrmServ::StopLimits()
{
    FIdleTimer->SetEnabled(false);
    FDeadlineTimer->SetEnabled(false);
}

void TQBStrmServ::ArmDeadline(std::int64_t ms)
{
    FDeadlineTimer->SetEnabled(false);
    FDeadlineTimer->SetInterval(static_cast<std::int32_t>(std::min<std::int64_t>(ms, std::numeric_limits<std::int32_t>::max())));
    FDeadlineTimer->SetEnabled(FPace->Limited());
}

void TQBStrmServ::DataArrived()
{
    if (FIdleTimer->Enabled()) { // a byte came: the idle countdown starts again
        FIdleTimer->SetEnabled(false);
        FIdleTimer->SetEnabled(true);
    }
    // Data that keeps coming leaves no wait for the timers' ticks: the
    // deadline is looked at as it comes too, so that dripping bytes never
    // outlast it.
    if (!FDeadlineTimer->Enabled())
        return;
    const auto now = qbmsg::TMessagePace::Clock::now();
    if (FPace->MsLeft(ReceivedTotal(), now) > 0)
        return;
    StopLimits();
    Raise(FPace->Failure(ReceivedTotal(), now), 0);
}

void TQBStrmServ::DeadlineTick()
{
    // Armed for the deadline; a large body may have earned more by now.
    const auto now = qbmsg::TMessagePace::Clock::now();
    if (const std::int64_t left = FPace->MsLeft(ReceivedTotal(), now); left > 0) {
        ArmDeadline(left);
        return;
    }
    StopLimits();
    EndWaitAsTimedOut(FPace->Failure(ReceivedTotal(), now)); // the read wait under way raises it
}

std::string TQBStrmServ::ReadField()
{
    const std::string field = Read(qbmsg::kLengthFieldSize);
    // A field cut short by the sender's close is a missing field, whatever
    // it holds ("0" of "0005", or nothing at all).
    if (field.size() < qbmsg::kLengthFieldSize)
        Raise("Read Failed", 0);
    return field;
}

std::string TQBStrmServ::ReadName(const std::string& field)
{
    // Said as what it is: its bytes are no length either way, and the
    // sender, waiting for the handshake's answer, learns nothing more.
    if (qbmsg::StartsTlsHandshake(field))
        Raise("Invalid name length (a TLS handshake: the sender uses TLS, this receiver does not)", 0);
    const std::int32_t length = qbmsg::ParseLength(field);
    if (length < 0 || length > qbmsg::kMaxNameField)
        Raise("Invalid name length (" + std::to_string(length) + ", at most 255)", 0);
    std::string name = length > 0 ? Read(static_cast<std::uint16_t>(length)) : std::string();
    if (name.size() < static_cast<std::size_t>(length))
        Raise("Read Failed", 0); // the sender closed inside the name
    return name;
}

std::unique_ptr<TStream> TQBStrmServ::ReadBody()
{
    const std::int32_t length = qbmsg::ParseLength(ReadField());
    // No sender writes a sign: a negative length is no count.
    if (length < 0)
        Raise("Invalid body length (" + std::to_string(length) + ")", 0);
    if (length > Limit())
        Raise(qbmsg::TooLargeText(static_cast<std::uint64_t>(length), static_cast<std::uint64_t>(Limit())), 0);
    auto body = std::make_unique<TMemoryStream>();
    body->Reserve(length);
    // Never more than is missing, so surplus bytes stay out of the body.
    char part[255];
    while (body->Size() < length) {
        const auto missing = static_cast<std::uint16_t>(std::min<std::int64_t>(sizeof part, length - body->Size()));
        const int received = ReadInto(part, missing);
        if (received == 0)
            Raise("Read Failed", 0); // the sender closed before the body was whole
        body->WriteBuffer(part, received);
    }
    return body;
}

void TQBStrmServ::ReadExactly(char* into, std::size_t count)
{
    if (ReadBytes(into, count) < count)
        Raise("Read Failed", 0); // the sender closed before the field was whole
}

std::unique_ptr<TStream> TQBStrmServ::ReadLarge(std::string& name)
{
    char lead[2]; // version, name-length
    ReadExactly(lead, sizeof lead);
    const auto version = static_cast<std::uint8_t>(lead[0]);
    if (version != qbmsg::kLargeVersion && version != qbmsg::kNamedVersion) {
        TellSender(qbmsg::EncodeUnknownVersion()); // a newer sender learns what this one knows
        Raise("Unknown message version (" + std::to_string(version) + ")", 0);
    }
    name.resize(static_cast<std::uint8_t>(lead[1]));
    ReadExactly(name.data(), name.size());
    char field[qbmsg::kLargeLengthSize];
    ReadExactly(field, sizeof field);
    const std::uint64_t size = qbmsg::ReadBigEndian(field, sizeof field);
    if (version == qbmsg::kNamedVersion)
        FLabel = {name, ReadPath(), size};
    const auto limit = static_cast<std::uint64_t>(Limit());
    if (size > limit) {
        TellSender(qbmsg::EncodeTooLarge(limit));
        Raise(qbmsg::TooLargeText(size, limit), 0);
    }
    qbmsg::TBodyCheck check;
    std::unique_ptr<TStream> body = KeptPart();
    const std::uint64_t from = body ? OfferResume(*body, check) : 0;
    if (from == 0) {
        const bool offered = body != nullptr;
        check.Reset();
        body = NewBody();
        if (!offered)
            SendBytes(qbmsg::kGoAhead.data(), qbmsg::kGoAhead.size());
    }
    FPace->StartBody(size - from, ReceivedTotal());
    ReadBodyKeepingCut(body, size - from, check);
    return body;
}

std::unique_ptr<TStream> TQBStrmServ::NewBody()
{
    try {
        return BodyFile ? BodyFile() : std::make_unique<TTempFileStream>(BodyFolder);
    } catch (const std::exception& e) {
        TellSender(qbmsg::kNotStored);
        const auto* own = dynamic_cast<const Exception*>(&e);
        const int cause = own ? own->SystemError() : 0;
        Raise((own ? own->Message() : std::string(e.what())) + (cause ? " (" + std::string(std::strerror(cause)) + ")" : ""), 0);
    }
}

void TQBStrmServ::ReadLargeBody(TStream& body, std::uint64_t left, qbmsg::TBodyCheck& check)
{
    constexpr std::size_t kPiece = 256 * 1024; // large receives, little memory
    const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
    while (left > 0) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
        const std::size_t arrived = ReadBytes(buffer.get(), wanted);
        try {
            body.WriteBuffer(buffer.get(), static_cast<std::int64_t>(arrived));
        } catch (const Exception& e) {
            FCutKeepable = false; // a full disk: what it holds helps no one
            TellSender(qbmsg::kNotStored);
            DiscardWhileSent();
            const int cause = e.SystemError();
            Raise("Cannot hold the message body (" + std::string(cause ? std::strerror(cause) : e.Message()) + ")", 0);
        }
        check.Add(buffer.get(), arrived);
        if (arrived < wanted)
            Raise("Read Failed", 0); // the sender closed before the body was whole
        left -= wanted;
    }
    char sent[qbmsg::kCheckSize];
    ReadExactly(sent, sizeof sent);
    const auto value = check.Value();
    if (std::memcmp(sent, value.data(), sizeof sent) != 0) {
        FCutKeepable = false;
        TellSender(qbmsg::kBadCheck);
        Raise("Message check failed: the body arrived damaged", 0);
    }
}

void TQBStrmServ::DiscardWhileSent()
{
    // Closed with bytes unread, the connection would be reset, and the
    // reset could overtake the reply. What the sender still sends is read
    // and dropped until it closes (it does once it has read the reply), for
    // a moment at most and within the message's limits.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDiscardMs);
    char dropped[64 * 1024];
    const TLife life = Life();
    const auto resetEnds = ResetEndsReads(); // the sender's reset ends it as its close does
    try {
        while (std::chrono::steady_clock::now() < until && ReceiveUpTo(dropped, sizeof dropped, true) > 0) {
        }
    } catch (const ESockError&) {
        // Gone, out of time, or the component destroyed meanwhile; the reply
        // has had its chance.
    }
    RaiseIfDestroyed(life);
}

std::int64_t TQBStrmServ::Limit() const
{
    return std::max<std::int64_t>(MaxSize, 0);
}

} // namespace ferro
