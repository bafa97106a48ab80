// Unit Ferro: TFerrolink, the socket component on which every network
// component of the system is built, and ESockError, the socket layer's one
// exception.
//
// Each TFerrolink owns one TCP socket, a hidden window that receives the
// socket library's notifications, a time-out timer and a cancel flag. Its
// blocking operations never block the thread: they issue an asynchronous
// request and pump the message queue until the notification, the time-out
// (TimeOut milliseconds, 0 for none) or BeenCanceled ends the wait. Handlers
// of other events therefore run in the middle of a wait.
//
// Everything here runs on the UI thread. Failures raise ESockError with fixed
// texts; progress is reported through StatusMessage at levels (ReportLevel).
#pragma once

#include <ferrolink/classes.h>
#include <ferrolink/messages.h>
#include <ferrolink/timer.h>
#include <ferrolink/winsock_records.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace ferro {

class ESockError : public Exception {
public:
    using Exception::Exception;
};

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TSockStatusEvent = std::function<void(TComponent* sender, const std::string& status)>;
using TSockErrorEvent = std::function<void(TComponent* sender, std::uint16_t errorNo, const std::string& text)>;

// The socket handle is 16 bits wide; all ones means "no socket".
using TSocketHandle = std::uint16_t;
constexpr TSocketHandle kNoSocket = 0xFFFF;

constexpr unsigned WM_SOCKETNOTIFY = WM_USER + 101; // dispatched to the per-event hooks
constexpr unsigned WM_SOCKETDONE = WM_USER + 102;   // completes an asynchronous request

// Status levels.
constexpr std::uint8_t kLevelReply = 1;
constexpr std::uint8_t kLevelOperation = 2;
constexpr std::uint8_t kLevelSocketStep = 4;
constexpr std::uint8_t kLevelTrace = 8;
constexpr std::uint8_t kLevelErrorCheck = 16;

// Every caller of ErrorManager tolerates would-block.
constexpr std::uint16_t kToleratedError = 10035; // WSAEWOULDBLOCK

class TFerrolink : public TComponent {
public:
    // Starts the socket library and creates the socket; raises ESockError when
    // either fails (unless the error passes ErrorManager's tolerance test).
    explicit TFerrolink(TComponent* owner);
    // Closes the socket for good and stops the socket library. Does not fire
    // OnDisconnect. Must not run while one of the component's waits runs.
    ~TFerrolink() override;

    // Published read-write properties.
    std::string Host;
    std::int32_t Port = 0;
    std::int32_t TimeOut = 0; // milliseconds; 0 = no limit; negative: ERangeError when a wait starts
    bool BeenCanceled = false;
    std::int32_t ReportLevel = 1;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnDisconnect;
    // Every status text that is reported (level at most ReportLevel), right
    // after the status hook of descendants.
    TSockStatusEvent OnStatus;
    // Every socket error ErrorManager raises, right after the error hook and
    // before the exception; and a port that Listen cannot have.
    TSockErrorEvent OnError;
    std::int32_t GetLastErrorNo();
    void SetLastErrorNo(std::int32_t value);

    // Published read-only properties.
    TSocketHandle Handle() const { return FHandle; }
    const std::string& Status() const { return FStatus; }
    const std::string& TransactionReply() const { return FTransactionReply; }
    std::int16_t ReplyCode() const { return FReplyCode; }
    std::int32_t BytesTotal() const { return FBytesTotal; }
    std::int32_t BytesSent() const { return FBytesSent; }
    std::int32_t BytesRecvd() const { return FBytesRecvd; }
    bool BeenTimedOut() const { return FBeenTimedOut; }
    bool GetConnected() const { return FConnected; }
    // A new list on every call; the caller owns it.
    std::unique_ptr<TStringList> GetWSAInfo() const;

    // Client side.
    virtual void Connect();
    virtual void Disconnect();

    // Server side: bind to every local address on Port and listen with a
    // backlog of 1; notifications as WM_SOCKETNOTIFY (dispatched to the
    // hooks) or, when `synchronous`, as WM_SOCKETDONE for a following Accept.
    void Listen(bool synchronous);
    // Waits for a pending connection and takes it onto Handle, keeping the
    // listening socket in FListenHandle.
    virtual void Accept();

    // Data transfer on the connected socket. Texts are at most 255 bytes.
    void WaitForWrite();
    void WaitForData();
    // Sends `length` bytes of `text` (0: up to its terminator). Raises
    // ESockError, before anything is sent, when the length exceeds 255 or the
    // text before its terminator.
    void SendBuffer(const char* text, std::uint16_t length);
    void Write(const std::string& text);
    void WriteLn(const std::string& text);
    // Sends the whole stream from its first byte in chunks of at most 255
    // bytes, firing OnPacketRecvd after each. The stream stays the caller's.
    void SendFile(TStream& stream);
    // Receives `count` bytes (at most 255; 0: one receive of what is waiting).
    // Returns early with what has arrived when the peer closes.
    std::string Read(std::uint16_t count);
    std::string ReadLn();
    virtual void Transaction(const std::string& command, std::string& reply);

protected:
    // Hooks, assigned directly by descendants.
    TNotifyEvent FReadHook;
    TNotifyEvent FWriteHook;
    TNotifyEvent FCloseHook;
    TNotifyEvent FConnectHook;
    TNotifyEvent FOOBHook;
    TNotifyEvent FAcceptHook;
    TSockErrorEvent FErrorHook;
    TNotifyEvent FHostResolvedHook;
    TSockStatusEvent FStatusHook;

    // Reporting.
    void StatusMessage(std::uint8_t level, const std::string& text);
    void ErrorManager(std::uint16_t tolerated);
    std::string LookUpErrorMessage(std::uint16_t errorNo);

    // Machinery.
    void InitWinsock();
    // The destructor's steps, also run when the constructor fails.
    void TearDown();
    void WndProc(TMessage& message);
    void DispatchSocketEvent(std::uint16_t event);
    void TimerOn();
    void TimerOff();
    void TimerTriggered(TComponent* sender);
    void RequestCloseSocket();
    void ResolveHost();

    // The completion wait: clears FAsyncDone, selects `event` for
    // WM_SOCKETDONE, runs `request`, arms the timer, pumps until the
    // notification, the time-out or a cancel, disarms and deselects.
    enum class TWaitEnd { Done, TimedOut, Canceled, Failed };
    TWaitEnd AwaitCompletion(long event, const std::function<void()>& request = {});
    // Pumps the queue at least once, then until FAsyncDone, BeenTimedOut or
    // BeenCanceled is set, sleeping in the event loop between events.
    void PumpUntilDone();
    struct TWaitTexts {
        const char* TimedOut;
        const char* Canceled;
        const char* Failed;
    };
    // Raises the text of `end` unless the wait ended by its notification.
    static void RaiseUnlessDone(TWaitEnd end, const TWaitTexts& texts);
    // Selects no notifications for Handle.
    void Deselect();
    // As Disconnect, but the connection is reset instead of ended, and bytes
    // not yet delivered are dropped: for a transfer that failed half way.
    void AbortConnection();
    // A negative TimeOut raises ERangeError before a wait issues anything.
    void CheckTimeOut() const;
    // Raises EThreadError on any thread but the component's own.
    void CheckThread() const;
    // One send of SendFile: the bytes the system took, 0 for a full buffer;
    // raises through ErrorManager for any other failure.
    int SendChunk(const char* chunk, int length, int flags);
    // Hands chunks held back for the next one to the system.
    void PushHeldChunks();
    // ReadLn's answer to a failed receive: empty for would-block, raises
    // through ErrorManager for anything else.
    std::string NothingUnlessBroken();

    // Fields.
    TSocketHandle FListenHandle = 0;
    bool FLastEventOk = false;
    std::int32_t FBytesSent = 0;
    std::int32_t FBytesRecvd = 0;
    bool FReady = false;
    bool FBeenTimedOut = false;
    bool FDestroying = false;
    std::int32_t FLastErrorNo = 0;
    std::string FStatus;
    std::unique_ptr<char[]> FSendBuffer; // 16385 bytes: zero-terminated text for SendBuffer
    std::unique_ptr<TTimer> FTimer;
    std::int32_t FBytesTotal = 0;
    bool FAsyncDone = false;
    winsock::WSADATA FWSAData {};
    winsock::sockaddr_in FSockAddr {};
    std::unique_ptr<char[]> FHostEntBuffer; // receives the host entry of a lookup
    std::string FTransactionReply;
    std::int16_t FReplyCode = 0;
    HWND FNotifyWindow = 0;
    bool FConnected = false;
    TSocketHandle FHandle = 0;
    // The lookup whose reply is awaited; its reply is no close notification,
    // and a lookup abandoned by time-out or cancel is cancelled.
    winsock::HANDLE FLookupTask = 0;
    bool FLookupFilled = false; // the lookup's reply said the host entry is filled
    int FAcceptFailure = 0;     // the socket error of the last failed accept, 0 after one that worked
    bool FWinsockStarted = false; // so that a failed start-up is never cleaned up
    std::thread::id FThread;      // the thread that made the component, the only one that may use it
};

// Sizes of the component's buffers.
constexpr int kSendBufferSize = 16385;
constexpr int kHostEntBufferSize = 1024; // MAXGETHOSTSTRUCT

} // namespace ferro
