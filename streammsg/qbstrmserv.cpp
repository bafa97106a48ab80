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
    } catch (...) {
        StopLimits();
        throw;
    }
    StopLimits();
    body.SetPosition(0);
    if (ReplyAfterHandler)
        RaiseIfBroken(); // a sender that gave up is not handed over, nor answered
    else
        Write(qbmsg::kReply);
    if (OnMSG)
        OnMSG(this, name, body);
    if (ReplyAfterHandler)
        Write(qbmsg::kReply);
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
    FBeenTimedOut = true;
}

std::int32_t TQBStrmServ::ReadLength()
{
    const std::string field = Read(qbmsg::kLengthFieldSize);
    const std::int32_t length = qbmsg::ParseLength(field);
    // A field cut short by the sender's close can still read as a number
    // ("0" of "0005"): only a whole field counts.
    if (field.size() < qbmsg::kLengthFieldSize)
        Raise("Read Failed", 0);
    return length;
}

std::string TQBStrmServ::ReadName()
{
    const std::int32_t length = ReadLength();
    if (length > qbmsg::kMaxNameField)
        Raise("Invalid name length (" + std::to_string(length) + ", at most 255)", 0);
    return length > 0 ? Read(static_cast<std::uint16_t>(length)) : std::string();
}

void TQBStrmServ::ReadBody(TMemoryStream& body)
{
    const std::int32_t length = ReadLength();
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
