// Status texts by level, and the error check after a failed socket call.
#include <ferrolink/ferro.h>

#include "winsock.h"

namespace ferro {

void TFerrolink::StatusMessage(std::uint8_t level, const std::string& text)
{
    if (!Reports(level))
        return;
    FStatus = CutShort(text);
    const TLife life = FAlive;
    const bool alive = *life; // texts of the destructor itself go on
    if (FStatusHook)
        FStatusHook(this, FStatus);
    if (*life && OnStatus)
        OnStatus(this, FStatus);
    if (alive)
        RaiseIfDestroyed(life);
}

void TFerrolink::ErrorManager(std::uint16_t tolerated)
{
    StatusMessage(kLevelErrorCheck, "Checking Error In Error Manager");
    FLastErrorNo = winsock::WSAGetLastError();
    // A bit test, not a comparison: every error number carrying all of the
    // tolerated code's bits passes.
    if ((tolerated & FLastErrorNo) == tolerated)
        return;
    const auto errorNo = static_cast<std::uint16_t>(FLastErrorNo);
    // TLS's failures have words of their own; the interface's number says
    // only that it was TLS.
    if (FLastErrorNo == winsock::ext::WSAETLSFAILED)
        Raise("TLS Failed: " + winsock::ext::TlsFailure(FHandle), errorNo);
    Raise(LookUpErrorMessage(errorNo), errorNo);
}

void TFerrolink::Raise(const std::string& text, int errorNo)
{
    const auto number = static_cast<std::uint16_t>(errorNo);
    const TLife life = FAlive;
    const bool alive = *life;
    const std::string failure = text; // `text` may be the component's own
    if (FErrorHook)
        FErrorHook(this, number, failure);
    if (*life && OnError)
        OnError(this, number, failure);
    if (alive)
        RaiseIfDestroyed(life);
    throw ESockError(failure);
}

std::string TFerrolink::LookUpErrorMessage(std::uint16_t errorNo)
{
    std::string text;
    if (errorNo != 0)
        text = "Unknown Error No. " + std::to_string(errorNo);
    StatusMessage(kLevelTrace, "Looking Up Error Message" + text);
    return text;
}

std::int32_t TFerrolink::GetLastErrorNo()
{
    StatusMessage(kLevelTrace, "Getting LastError Number");
    return FLastErrorNo;
}

void TFerrolink::SetLastErrorNo(std::int32_t value)
{
    StatusMessage(kLevelTrace, "Setting LastError Number");
    FLastErrorNo = value;
}

} // namespace ferro
