// TFerrolink's machinery: life cycle, the hidden window and its dispatch, the
// time-out timer, the socket's renewal and the completion wait.
#include <ferrolink/ferro.h>

#include "winsock.h"

#include <utility>
#include <thread>

namespace ferro {

using namespace winsock;

namespace {

constexpr std::uint16_t kWinsockVersion = 0x0101;

// A socket number as the 16-bit handle: INVALID_SOCKET becomes the no-socket
// value; a number beyond 16 bits cannot be held and is closed again.
TSocketHandle ToHandle(SOCKET s, bool raiseWhenTooLarge)
{
    if (s == INVALID_SOCKET)
        return kNoSocket;
    if (s >= kNoSocket) {
        closesocket(s);
        if (raiseWhenTooLarge)
            throw ERangeError();
        return kNoSocket;
    }
    return static_cast<TSocketHandle>(s);
}

} // namespace

TFerrolink::TFerrolink(TComponent* owner) : TComponent(owner), FThread(std::this_thread::get_id())
{
    RequireEventLoop(); // before anything of Qt's is made
    FReady = false;
    FAddresses = std::make_unique<winsock::ADDRESSLIST>();
    FSendBuffer = std::make_unique<char[]>(kSendBufferSize);
    FTimer = std::make_unique<TTimer>(nullptr);
    FNotifyWindow = AllocateHWnd([this](TMessage& message) { WndProc(message); });
    TimeOut = 0;
    ReportLevel = 1;
    BeenCanceled = false;
    FTimer->SetEnabled(false);
    FTimer->OnTimer = [this](TComponent* sender) { TimerTriggered(sender); };
    FDestroying = false;
    FConnected = false;
    FListenHandle = 0;
    try {
        InitWinsock();
    } catch (...) {
        TearDown();
        throw;
    }
    FReady = true;
}

TFerrolink::~TFerrolink()
{
    // An operation under way (this may run inside one of its handlers)
    // sees this and ends without touching the component again.
    *FAlive = false;
    // The published events are the application's: what they capture may be
    // gone by now. The descendants' hooks still hear the last texts.
    OnStatus = nullptr;
    OnError = nullptr;
    // A destructor must not throw: a failing close is reported, not raised.
    try {
        TearDown();
    } catch (...) {
        HandleCurrentException();
    }
}

void TFerrolink::TearDown()
{
    FReady = false;
    FTimer.reset();
    FAddresses.reset();
    FSendBuffer.reset();
    DeallocateHWnd(FNotifyWindow);
    FNotifyWindow = 0;
    FDestroying = true;
    if (FLookupTask)
        WSACancelAsyncRequest(FLookupTask);
    try {
        RequestCloseSocket();
    } catch (...) {
        if (std::exchange(FWinsockStarted, false))
            WSACleanup();
        throw;
    }
    if (std::exchange(FWinsockStarted, false))
        WSACleanup();
}

void TFerrolink::InitWinsock()
{
    StatusMessage(kLevelTrace, "Initializing Winsock");
    if (WSAStartup(kWinsockVersion, &FWSAData) != 0) {
        // No socket: the handle says so, and nothing later works on socket 0.
        FHandle = kNoSocket;
        ErrorManager(kToleratedError);
        return;
    }
    FWinsockStarted = true;
    try {
        FHandle = ToHandle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), true);
        if (FHandle == kNoSocket)
            ErrorManager(kToleratedError);
    } catch (...) {
        FWinsockStarted = false;
        WSACleanup();
        throw;
    }
}

void TFerrolink::WndProc(TMessage& message)
{
    if (!FReady)
        return;
    const std::uint16_t event = WSAGETSELECTEVENT(message.LParam);
    FLastEventError = WSAGETSELECTERROR(message.LParam);
    FLastEventOk = FLastEventError == 0;
    // A lookup reply carries a length where the event code stands; it is
    // never a close, whatever that length is.
    const bool lookupReply = message.Msg == WM_SOCKETDONE && FLookupTask != 0 && message.WParam == FLookupTask;
    const TLife life = FAlive;
    if (event == FD_CLOSE && !lookupReply) {
        FConnected = false;
        if (OnDisconnect)
            OnDisconnect(this);
        if (!*life)
            return;
    }
    if (message.Msg == WM_SOCKETNOTIFY) {
        try {
            DispatchSocketEvent(event);
        } catch (const EComponentDestroyed&) {
            // A server destroyed in its own service: nothing to report.
        }
    } else if (message.Msg == WM_SOCKETDONE) {
        if (lookupReply)
            FLookupFilled = FLastEventOk && event > 0; // the event code holds the entry's length
        if (lookupReply)
            FLookupError = FLastEventOk && event == 0 ? WSAENOBUFS : FLastEventError;
        // While a lookup is awaited only its own reply completes the wait: a
        // completion left over from an earlier wait would end it before the
        // host entry is filled.
        if (FLookupTask == 0 || lookupReply)
            FAsyncDone = true;
    }
}

void TFerrolink::DispatchSocketEvent(std::uint16_t event)
{
    StatusMessage(kLevelTrace, "Socket Opperation Triggered");
    const TNotifyEvent* hook = nullptr;
    switch (event) {
    case FD_READ: hook = &FReadHook; break;
    case FD_WRITE: hook = &FWriteHook; break;
    case FD_OOB: hook = &FOOBHook; break;
    case FD_ACCEPT: hook = &FAcceptHook; break;
    case FD_CONNECT: hook = &FConnectHook; break;
    case FD_CLOSE: hook = &FCloseHook; break;
    default: return;
    }
    if (*hook)
        (*hook)(this);
}

void TFerrolink::CheckThread() const
{
    if (std::this_thread::get_id() != FThread)
        throw EThreadError("A Ferrolink component was used on a thread other than the one that made it");
}

void TFerrolink::CheckTimeOut() const
{
    if (TimeOut < 0)
        throw ERangeError();
}

void TFerrolink::TimerOn(std::int32_t limitMs)
{
    StatusMessage(kLevelTrace, "Timer On");
    CheckTimeOut();
    FBeenTimedOut = false;
    FTimedOutText.clear();
    FTimer->SetEnabled(true);
    FTimer->SetInterval(limitMs > 0 ? limitMs : TimeOut);
}

void TFerrolink::TimerOff()
{
    StatusMessage(kLevelTrace, "Timer Off");
    FTimer->SetEnabled(false);
}

void TFerrolink::TimerTriggered(TComponent*)
{
    TimerOff();
    FBeenTimedOut = true;
    StatusMessage(kLevelTrace, "Timer Triggered");
}

void TFerrolink::RequestCloseSocket(bool renew)
{
    StatusMessage(kLevelSocketStep, "Request Close Socket");
    FConnected = false;
    if (FHandle == kNoSocket)
        return;
    if (closesocket(FHandle) != 0) {
        ErrorManager(kToleratedError);
        return;
    }
    if (FDestroying || !renew)
        FHandle = kNoSocket;
    else // of the family last connected to: a sender that posts again to ::1 needs no family renewal
        FHandle = ToHandle(socket(FSockAddr.ss_family == kFamilyInet6 ? kFamilyInet6 : AF_INET, SOCK_STREAM, 0), false);
}

std::unique_ptr<TStringList> TFerrolink::GetWSAInfo() const
{
    auto list = std::make_unique<TStringList>();
    const auto version = [](std::uint16_t v) { return std::to_string(v & 0xFF) + "." + std::to_string(v >> 8); };
    list->Add("Version: " + version(FWSAData.wVersion));
    list->Add("High Version: " + version(FWSAData.wHighVersion));
    list->Add("Description: " + ZeroTerminated(FWSAData.szDescription, sizeof FWSAData.szDescription));
    list->Add("System Status: " + ZeroTerminated(FWSAData.szSystemStatus, sizeof FWSAData.szSystemStatus));
    return list;
}

void TFerrolink::Deselect()
{
    WSAAsyncSelect(FHandle, FNotifyWindow, 0, 0);
}

TFerrolink::TWait::TWait(TFerrolink& component)
    : FComponent(component), FQuits(QuitRequests()), FLife(component.FAlive)
{
}

bool TFerrolink::TWait::Over()
{
    // The application is ending: a wait must not keep it alive.
    if (QuitRequests() != FQuits)
        FComponent.BeenCanceled = true;
    return FComponent.FBeenTimedOut || (FComponent.BeenCanceled && FComponent.FCancelHeld == 0);
}

void TFerrolink::TWait::Pass()
{
    ProcessMessages();
    RaiseIfDestroyed(FLife);
}

void TFerrolink::TWait::Sleep()
{
    WaitAndProcessMessages();
    RaiseIfDestroyed(FLife);
}

void TFerrolink::TWait::SleepOrReadable()
{
    ext::AwaitReadableOrMessages(FComponent.FHandle);
    RaiseIfDestroyed(FLife);
}

TFerrolink::TWaitEnd TFerrolink::TWait::End() const
{
    return FComponent.FBeenTimedOut ? TWaitEnd::TimedOut : TWaitEnd::Canceled;
}

void TFerrolink::PumpUntilDone()
{
    TWait wait(*this);
    wait.Pass();
    while (!FAsyncDone && !wait.Over())
        wait.Sleep();
}

TFerrolink::TWaitEnd TFerrolink::AwaitCompletion(long event, const std::function<void()>& request, std::int32_t limitMs)
{
    CheckThread();
    CheckTimeOut();
    FAsyncDone = false;
    WSAAsyncSelect(FHandle, FNotifyWindow, WM_SOCKETDONE, event);
    if (request)
        request();
    TimerOn(limitMs);
    PumpUntilDone();
    TimerOff();
    Deselect();
    FFailureCause = 0;
    if (FBeenTimedOut)
        return TWaitEnd::TimedOut;
    if (BeenCanceled && FCancelHeld == 0)
        return TWaitEnd::Canceled;
    FFailureCause = FLastEventOk ? 0 : FLastEventError;
    return FLastEventOk ? TWaitEnd::Done : TWaitEnd::Failed;
}

void TFerrolink::RaiseUnlessDone(TWaitEnd end, const TWaitTexts& texts)
{
    switch (end) {
    case TWaitEnd::Done: return;
    case TWaitEnd::TimedOut: Raise(texts.TimedOut, 0);
    case TWaitEnd::Canceled: Raise(texts.Canceled, 0);
    case TWaitEnd::Failed: Raise(texts.Failed, FFailureCause);
    }
}

} // namespace ferro
