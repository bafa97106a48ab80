#include <ferrolink/qbstrmserv.h>

#include <ferrolink/wireformat.h>

#include <algorithm>

namespace ferro {

TQBStrmServ::TQBStrmServ(TComponent* owner)
    : TQBGeneralServer(owner), FIdleTimer(std::make_unique<TTimer>(nullptr)),
      FDeadlineTimer(std::make_unique<TTimer>(nullptr))
{
    Port = qbmsg::kPort;
    OnClientContact = [this](TComponent* sender) { ReadMessage(sender); };
    for (TTimer* limit : {FIdleTimer.get(), FDeadlineTimer.get()}) {
        limit->SetEnabled(false);
        limit->OnTimer = [this](TComponent*) { LimitReached(); };
    }
    FReceivedHook = [this](TComponent*) {
        if (FIdleTimer->Enabled()) { // a byte came: the idle countdown starts again
            FIdleTimer->SetEnabled(false);
            FIdleTimer->SetEnabled(true);
        }
    };
}

TQBStrmServ::~TQBStrmServ() = default;

void TQBStrmServ::ReadMessage(TComponent*)
{
    TMemoryStream body; // freed on every path
    StartLimits();
    std::string name;
    try {
        name = ReadName();
        ReadBody(body);
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        StopLimits();
        throw;
    }
    StopLimits();
    TimerOff(); // storing is no wait for the network: the reply's wait counts afresh
    body.SetPosition(0);
    if (ReplyAfterHandler)
        RaiseIfBroken(); // a sender that gave up is not handed over, nor answered
    else
        Write(qbmsg::kReply);
    if (OnMSG) {
        const TLife life = Life();
        OnMSG(this, name, body);
        RaiseIfDestroyed(life);
    }
    if (ReplyAfterHandler)
        ReplyDespiteCancel();
}

void TQBStrmServ::ReplyDespiteCancel()
{
    // The handler has done its work (stored the message): a reply withheld
    // by a cancel that comes before or during its wait would deny it.
    HoldCancels();
    try {
        Write(qbmsg::kReply);
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        ReleaseCancels();
        throw;
    }
    ReleaseCancels();
}

void TQBStrmServ::StartLimits()
{
    FIdleTimer->SetInterval(IdleLimit);
    FIdleTimer->SetEnabled(IdleLimit > 0);
    FDeadlineTimer->SetInterval(MessageDeadline);
    FDeadlineTimer->SetEnabled(MessageDeadline > 0);
}

void TQBStrmServ::StopLimits()
{
    FIdleTimer->SetEnabled(false);
    FDeadlineTimer->SetEnabled(false);
}

void TQBStrmServ::LimitReached()
{
    // Ticks arrive only while a wait pumps, and every wait of a message is a
    // read wait: it ends as by its own time-out.
    StopLimits();
    EndWaitAsTimedOut();
}

std::int32_t TQBStrmServ::ReadLength()
{
    const std::string field = Read(qbmsg::kLengthFieldSize);
    // A field cut short by the sender's close is a missing field, whatever
    // it holds ("0" of "0005", or nothing at all).
    if (field.size() < qbmsg::kLengthFieldSize)
        Raise("Read Failed", 0);
    return qbmsg::ParseLength(field);
}

std::string TQBStrmServ::ReadName()
{
    const std::int32_t length = ReadLength();
    if (length < 0 || length > qbmsg::kMaxNameField)
        Raise("Invalid name length (" + std::to_string(length) + ", at most 255)", 0);
    std::string name = length > 0 ? Read(static_cast<std::uint16_t>(length)) : std::string();
    if (name.size() < static_cast<std::size_t>(length))
        Raise("Read Failed", 0); // the sender closed inside the name
    return name;
}

void TQBStrmServ::ReadBody(TMemoryStream& body)
{
    const std::int32_t length = ReadLength();
    // No sender writes a sign: a negative length is no count.
    if (length < 0)
        Raise("Invalid body length (" + std::to_string(length) + ")", 0);
    body.Reserve(length);
    // Never more than is missing, so surplus bytes stay out of the body.
    char part[255];
    while (body.Size() < length) {
        const auto missing = static_cast<std::uint16_t>(std::min<std::int64_t>(sizeof part, length - body.Size()));
        const int received = ReadInto(part, missing);
        if (received == 0)
            Raise("Read Failed", 0); // the sender closed before the body was whole
        body.WriteBuffer(part, received);
    }
}

} // namespace ferro
