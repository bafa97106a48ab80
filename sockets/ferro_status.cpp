// Status texts by level, and the error check after a failed socket call.
#include <ferrolink/ferro.h>

#include "winsock.h"

namespace ferro {

void TFerrolink::StatusMessage(std::uint8_t level, const std::string& text)
{
    if (!Reports(level))
        return;
    FStatus = CutShort(text);
    if (FStatusHook)
        FStatusHook(this, FStatus);
    if (OnStatus)
        OnStatus(this, FStatus);
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
    Raise(LookUpErrorMessage(errorNo), errorNo);
}

void TFerrolink::Raise(const std::string& text, int errorNo)
{
    const auto number = static_cast<std::uint16_t>(errorNo);
    if (FErrorHook)
        FErrorHook(this, number, text);
    if (OnError)
        OnError(this, number, text);
    throw ESockError(text);
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
