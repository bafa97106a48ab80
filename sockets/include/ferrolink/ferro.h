/// @file
/// Unit Ferro: TFerrolink, the socket component on which every network
/// component is built, and ESockError, the socket layer's one exception.
///
/// Each TFerrolink owns one TCP socket (IPv4 or IPv6, plain or TLS), a hidden window that
/// receives the socket library's notifications, a time-out timer and a
/// cancel flag. Its operations read like blocking calls but never block the
/// thread: each issues an asynchronous request and pumps the thread's Qt
/// event loop until the notification, the time-out (TimeOut milliseconds, 0
/// for none) or BeenCanceled ends the wait. Other handlers of the program
/// (a button, a timer, another component) therefore run in the middle of a
/// wait, and may set BeenCanceled to end it.
///
/// A component lives on the thread that made it, which must run a Qt event
/// loop (the application's thread, or a QThread); using it from another
/// thread raises EThreadError. Failures raise ESockError with fixed texts;
/// progress is reported as status texts at levels (see ReportLevel).
#pragma once

#include <ferrolink/classes.h>
#include <ferrolink/messages.h>
#include <ferrolink/timer.h>
#include <ferrolink/tls.h>
#include <ferrolink/winsock_records.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace ferro {

namespace tls {
class TContext;
}

/// The exception of the socket layer: a fixed text that names the step and
/// the cause ("Connection Failed", "Read Timed Out", ...), or "Unknown Error
/// No. N" after a failed call into the socket library (N is the Windows
/// Sockets error number; the guide has a table).
class ESockError : public Exception {
public:
    using Exception::Exception;
};

/// Raised by an operation whose component was destroyed while it ran: by a
/// handler it called (OnStatus, OnPacketRecvd, OnError, a server's OnMSG) or
/// by any handler that ran during one of its waits. The operation ends as a
/// cancel and touches nothing of the component after the destruction; a
/// server destroyed in its own service just stops. Text: "Operation
/// Canceled: Component Destroyed".
class EComponentDestroyed : public ESockError {
public:
    EComponentDestroyed() : ESockError("Operation Canceled: Component Destroyed") {}
};

/// An event that passes the component alone.
using TNotifyEvent = std::function<void(TComponent* sender)>;
/// A status text as it is reported.
using TSockStatusEvent = std::function<void(TComponent* sender, const std::string& status)>;
/// A socket error: its number and its text.
using TSockErrorEvent = std::function<void(TComponent* sender, std::uint16_t errorNo, const std::string& text)>;

/// A socket handle, 16 bits wide.
using TSocketHandle = std::uint16_t;
/// The handle that names no socket.
constexpr TSocketHandle kNoSocket = 0xFFFF;

/// The notification dispatched to the per-event hooks (a listening server's).
constexpr unsigned WM_SOCKETNOTIFY = WM_USER + 101;
/// The notification that completes an asynchronous request (every wait's).
constexpr unsigned WM_SOCKETDONE = WM_USER + 102;

/// Status level of the reply line of a Transaction.
constexpr std::uint8_t kLevelReply = 1;
/// Status level of the start of an operation a caller asked for ("Connecting").
constexpr std::uint8_t kLevelOperation = 2;
/// Status level of a socket step of an operation ("Accepting").
constexpr std::uint8_t kLevelSocketStep = 4;
/// Status level of the tracing of the component's machinery ("Timer On").
constexpr std::uint8_t kLevelTrace = 8;
/// Status level of the error check ("Checking Error In Error Manager").
constexpr std::uint8_t kLevelErrorCheck = 16;

/// The error every caller of ErrorManager tolerates: 10035, would-block.
constexpr std::uint16_t kToleratedError = 10035;

/// Size of the component's staging buffer for texts.
constexpr int kSendBufferSize = 16385;
/// Size of the component's buffer for a host entry.
constexpr int kHostEntBufferSize = 1024;

/// A socket component: one TCP socket, its notifications, its time-out and
/// its cancel flag, with name lookup, connection, line and stream transfer,
/// and the listening operations of a server.
///
/// Properties are plain members (Host, Port, TimeOut, ...) or const readers
/// (Handle(), Status(), ...). Every wait is ended by its notification, by
/// the time-out, or by BeenCanceled; when more than one holds, a time-out
/// wins over a cancel and a cancel over a failure.
class TFerrolink : public TComponent {
public:
    /// Starts the socket library and creates the socket.
    /// @param owner the component that destroys this one with itself, or null.
    /// @throws EThreadError when no QCoreApplication exists or the thread runs
    ///         no Qt event loop.
    /// @throws ESockError when the socket library cannot start or the socket
    ///         cannot be made (unless the error passes ErrorManager's test,
    ///         in which case Handle() is kNoSocket).
    explicit TFerrolink(TComponent* owner);
    /// Closes the socket for good and stops the socket library. Fires neither
    /// OnDisconnect nor the published OnStatus and OnError. Must run on the
    /// component's thread. May run inside one of the component's own
    /// handlers or during one of its waits: the operation under way then
    /// raises EComponentDestroyed without touching the component again.
    ~TFerrolink() override;

    /// The peer: a dotted IPv4 address ("127.0.0.1"), an IPv6 address, bare
    /// or in brackets as in URLs ("::1", "[::1]"), or a host name of at most
    /// 253 characters (a final dot aside) in labels of at most 63, of
    /// letters, digits, hyphens and underscores. Read by Connect, which
    /// refuses anything else before it looks anything up.
    std::string Host;
    /// Which addresses a host name is looked up for, by Connect and Listen:
    /// 0 (the default) both IPv4 and IPv6, 4 IPv4 only, 6 IPv6 only. An
    /// address written out is used as it is.
    std::int32_t IPVersion = 0;
    /// The local address Listen binds to: an IPv4 or IPv6 address (brackets
    /// allowed) or a host name (its first address); empty (the default) for
    /// every local address of both families (IPv4 alone where the system has
    /// no IPv6).
    std::string BindAddress;
    /// The peer's TCP port for Connect, or the port Listen listens on: 0 to
    /// 65535 (either raises ERangeError for any other value).
    std::int32_t Port = 0;
    /// The longest any single wait may last, in milliseconds; 0 for no limit.
    /// A negative value makes the next wait raise ERangeError.
    std::int32_t TimeOut = 0;
    /// Set to true (by a handler that runs during a wait, for example a
    /// Cancel button) to end the wait with its "... Canceled" failure. Stays
    /// true until the next Connect clears it: every wait fails at once
    /// meanwhile (a server, which never connects, stays canceled). A wait
    /// under way when the application is asked to quit (QCoreApplication::
    /// quit(), or its last window closed) sets it too and ends as canceled,
    /// so a closing program never waits for the network.
    bool BeenCanceled = false;
    /// How many connections the system may hold waiting for Accept while one
    /// is served (Listen's backlog); 1 by default. With many senders at once,
    /// a larger one keeps them from waiting in the system's connection
    /// retries (a second, then three more, ...).
    std::int32_t Backlog = 1;
    /// Which status texts are reported: those whose level is at most this
    /// (1 transaction replies, 2 operations, 4 socket steps, 8 tracing, 16
    /// the error check). 0 or less reports none.
    std::int32_t ReportLevel = 1;
    /// TLS for the connections (ferrolink/tls.h): with Tls.Enabled, Connect
    /// and a server's accept path end with a TLS handshake, a wait of its
    /// own (limited by TimeOut, and a server's by Tls.HandshakeTimeOut as
    /// well), and every
    /// transfer then carries the same bytes inside TLS. Read at each
    /// Connect or accept; the certificate and CA files are read again when
    /// the settings change. Disabled by default: nothing changes on the wire.
    /// A failure of TLS after the handshake (an alert, a damaged record)
    /// raises "TLS Failed: <reason>" from the transfer that meets it, for
    /// example "TLS Failed: tlsv13 alert certificate required (the peer
    /// admits only senders with a certificate it knows)" when a server that
    /// admits only known clients refused this one's certificate (TLS 1.3
    /// tells a client so only after its handshake).
    TTlsSettings Tls;
    /// Fired by SendFile after each chunk, and by SendStream after its last
    /// chunk and at most every 50 ms before; BytesRecvd() and BytesTotal()
    /// tell the progress. A handler may set BeenCanceled to stop the transfer.
    TNotifyEvent OnPacketRecvd;
    /// Fired when the peer closes or resets the connection (FD_CLOSE). Not
    /// fired by Disconnect or by the destructor.
    TNotifyEvent OnDisconnect;
    /// Fired for every status text that is reported (its level at most
    /// ReportLevel), with the text, after the descendants' status hook. Not
    /// fired during destruction.
    TSockStatusEvent OnStatus;
    /// Fired once for every ESockError the component raises, just before
    /// the exception, with the failure's text and the socket error number
    /// that caused it (FailureCause(), the failed call's error, or 0 when
    /// none did: a time-out, a cancel, a refused argument). Also fired by
    /// Listen for a port it cannot have ("Cannot Listen On Port 6711 (Unknown
    /// Error No. 10048)"), which raises nothing. An exception that is not an
    /// ESockError (ERangeError, EThreadError) does not fire it. Not fired
    /// during destruction.
    TSockErrorEvent OnError;
    /// LastErrorNo: the last socket error number that ErrorManager read
    /// (tolerated or not), or the last value set; no operation clears it.
    /// Reports "Getting LastError Number" at level 8.
    std::int32_t GetLastErrorNo();
    /// Sets LastErrorNo; reports "Setting LastError Number" at level 8.
    void SetLastErrorNo(std::int32_t value);

    /// The component's current socket: the connection while connected, the
    /// listening socket of an idle server, the client's during a service.
    TSocketHandle Handle() const { return FHandle; }
    /// The peer's address and port as text, "127.0.0.1:41234" or
    /// "[::1]:41234": the client's during a server's service (in
    /// OnClientContact, in a TQBStrmServ's OnMSG), the address connected to
    /// after Connect. Empty before either.
    std::string PeerAddress() const;
    /// The last status text reported (see ReportLevel), at most 255 bytes.
    const std::string& Status() const { return FStatus; }
    /// The reply line of the last Transaction, line end included.
    const std::string& TransactionReply() const { return FTransactionReply; }
    /// The number the last Transaction's reply starts with (0 for none).
    std::int16_t ReplyCode() const { return FReplyCode; }
    /// The size of the stream of the last SendFile or SendStream.
    std::int64_t BytesTotal() const { return FBytesTotal; }
    /// Always 0: SendFile counts in BytesRecvd().
    std::int32_t BytesSent() const { return FBytesSent; }
    /// The bytes the last SendFile or SendStream has handed to the system so far.
    std::int64_t BytesRecvd() const { return FBytesRecvd; }
    /// True when the last wait ended by its time-out.
    bool BeenTimedOut() const { return FBeenTimedOut; }
    /// Why the last failed name lookup, connection attempt or write wait
    /// failed, as the socket library's notification told it: a Windows
    /// Sockets error number (10061 refused, 10051 network unreachable,
    /// 11001 host not found, ...; see the guide). 0 after a success, a
    /// time-out or a cancel. The failure's own text stays fixed. After a
    /// failed TLS handshake: 10200 (a failure of TLS; the text says which)
    /// or the error that broke the connection.
    int FailureCause() const { return FFailureCause; }
    /// Reads the files of Tls now, for a server or a client, instead of at
    /// the first connection, so that a file that cannot be used is told at
    /// once. The next connections use what was read.
    /// @throws ESockError "TLS Setup Failed: <reason>".
    void PrepareTls(bool server);
    /// The TLS version and cipher of the connection ("TLSv1.3
    /// TLS_AES_256_GCM_SHA384"); empty for a plain one.
    std::string TlsDescription() const;
    /// What the user should hear of the last TLS handshake's peer though
    /// the handshake succeeded: that its pinned certificate is outside its
    /// dates ("the pinned certificate expired on 2001-01-01"), which a pin
    /// does not look at, as it trusts the key and not the dates. Empty
    /// otherwise; kept until the next handshake.
    const std::string& TlsPeerNote() const { return FTlsPeerNote; }
    /// Connected: true from a successful Connect until Disconnect, the
    /// destructor, or the peer's close. Looks at nothing else.
    bool GetConnected() const { return FConnected; }
    /// WSAInfo: what the socket library tells of itself, one field a line.
    /// @return a new list on every call, owned by the caller.
    std::unique_ptr<TStringList> GetWSAInfo() const;

    /// Connects to Host and Port. An address written out is used at once; a
    /// host name is looked up first (IPv4 and IPv6, as IPVersion says), and
    /// its first 16 addresses are tried in the resolver's order, the next after a
    /// refusal, an unreachable network or the attempt's own time-out, all
    /// within the one TimeOut (each of several addresses gets an equal share
    /// of what is left of it, the last all of it; with TimeOut 0, 5 seconds
    /// each but the last). The failure raised is the last address's, with
    /// its cause (FailureCause()). Clears BeenCanceled first. Reports
    /// "Connecting" at level 2 and "Trying <address>" at level 4.
    /// @throws ESockError "Already connected" (the connection is untouched),
    ///   "Invalid Host Name (<why>)" (Host can be neither an address nor a
    ///   name: "a blank at character 10", "260 characters, at most 253"),
    ///   "Null Remote Address" (Host is "0.0.0.0"), "Host Lookup Timed Out",
    ///   "Host Lookup Canceled", "Host Lookup Failed", "Connection Timed Out",
    ///   "Connection Canceled", "Connection Failed" (refused or unreachable).
    ///   After a failure the component is unconnected, the system's attempt
    ///   is given up (a late answer connects nothing), and the next Connect
    ///   starts afresh to the Host and Port it is given.
    /// @throws ESockError with Tls.Enabled, after the connection is made:
    ///   "TLS Setup Failed: <reason>" (a certificate, key or CA file that
    ///   cannot be used), "TLS Handshake Timed Out", "TLS Handshake
    ///   Canceled", "TLS Handshake Failed: <reason>" in OpenSSL's words and
    ///   ours, for example "certificate verify failed (self-signed
    ///   certificate)", "certificate verify failed (not a pinned
    ///   certificate: AB:CD:...)", "wrong version number (the peer does not
    ///   speak TLS)", "the peer closed the connection". The connection is
    ///   closed then; nothing was sent in the clear. Reports "TLS Handshake"
    ///   and "TLS Established: <version> <cipher>" at level 4.
    /// @throws ERangeError when Port lies outside 0 to 65535, before anything
    ///   is looked up or sent.
    virtual void Connect();
    /// Closes the socket, whether or not a connection stands, and puts a
    /// fresh one in its place; counted bytes are delivered first. Reports
    /// "Disconnecting" (2) and "Request Close Socket" (4). Fires no event.
    /// @throws ESockError "Unknown Error No. N" when the close fails;
    ///   Connected is false then and the handle unchanged.
    virtual void Disconnect();

    /// Binds to BindAddress (or every local address of both families) on
    /// Port and listens (with Backlog); a name in BindAddress is looked up
    /// first, and its failure is told as a port that cannot be had. With
    /// `synchronous` false the notifications go to the hooks (an incoming
    /// connection calls FAcceptHook); with true they only complete a
    /// following Accept. Reports "Listening" at level 2. A port that cannot
    /// be had raises nothing: it is reported at level 2 and through OnError.
    /// @throws ERangeError when Port lies outside 0 to 65535.
    void Listen(bool synchronous);
    /// Waits for a pending connection and takes it onto Handle(), keeping the
    /// listening socket aside for the server to restore. Reports "Accepting"
    /// at level 4. Has no time-out.
    /// @throws ESockError "Error creating Data Connection" when the
    ///   notification carried an error, "Unknown Error No. N" when accept
    ///   fails (10024: no descriptor left).
    /// @throws ERangeError when the connection went before it was taken, or
    ///   its socket number does not fit 16 bits.
    /// @throws ESockError with Tls.Enabled, the TLS failures of Connect; the
    ///   client's connection is closed then and the listening socket is
    ///   back in Handle().
    virtual void Accept();

    /// Waits until the socket can take data.
    /// @throws ESockError "Write Timed Out", "Write Canceled", "Write Failed".
    void WaitForWrite();
    /// Waits until data, the end of the stream or an error is waiting. May
    /// return with the time-out timer still running, so that a later wait
    /// of the same operation sequence counts from an earlier start.
    /// @throws ESockError "Read Timed Out", "Read Canceled".
    void WaitForData();
    /// Sends `length` bytes of the zero-terminated `text` (0: up to its
    /// terminator), each part after WaitForWrite; a short send is completed.
    /// Reports "Sending Buffer" at level 4.
    /// @throws ESockError "Send Buffer Too Long (N, at most 255 bytes)" or
    ///   "Send Buffer Beyond Its Text (N, text holds M)" before anything is
    ///   sent; the waits' failures; "Unknown Error No. N" for a failed send.
    void SendBuffer(const char* text, std::uint16_t length);
    /// Sends the text as it is, up to a NUL character. Reports "Write" at
    /// level 2.
    /// @throws ESockError "Text Too Long (N bytes, at most 255)" for a text
    ///   of more than 255 bytes (before its NUL), before anything is sent;
    ///   otherwise as SendBuffer.
    void Write(const std::string& text);
    /// Sends the text with CR and LF, all within 255 bytes (254 characters go
    /// out with CR only, 255 with no line end). Reports "WriteLn" at level 2.
    /// @throws ESockError as Write.
    void WriteLn(const std::string& text);
    /// Sends the whole stream, from its first byte whatever its position, in
    /// chunks of at most 255 bytes, each after WaitForWrite, firing
    /// OnPacketRecvd after each. A full buffer is waited out. A cancel set by
    /// OnPacketRecvd ends it after that chunk without an exception; a cancel
    /// or time-out during a wait raises that wait's failure. On every way out, each byte counted in BytesRecvd() has
    /// been handed to the system. Reports "Send File" at level 2. The stream
    /// stays the caller's, its position after the last byte sent.
    /// @throws ESockError the waits' failures; "Unknown Error No. N" for a
    ///   failed send (10054: the peer reset the connection).
    void SendFile(TStream& stream);
    /// What SendStream hands over: each run of bytes the system took, in
    /// order (for a check computed over exactly what left).
    using TSentBytesEvent = std::function<void(const char* bytes, std::size_t count)>;
    /// As SendFile, for streams of any size: chunks of up to 256 KiB, and
    /// OnPacketRecvd after the last chunk and at most every 50 ms before it
    /// (a progress bar, not a per-chunk hook). `sent`, when given, sees every
    /// byte counted in BytesRecvd(), once and in order. Reports "Send
    /// Stream" at level 2. Leaves the stream and the counts as SendFile does.
    /// @throws ESockError as SendFile.
    void SendStream(TStream& stream, const TSentBytesEvent& sent = {});
    /// Sends `length` bytes as they are, NUL bytes included and of any
    /// length (the binary fields of a protocol), each part after
    /// WaitForWrite; a short send is completed. Reports "Sending Bytes" at
    /// level 4.
    /// @throws ESockError the waits' failures; "Unknown Error No. N" for a
    ///   failed send (10054: the peer reset the connection).
    void SendBytes(const void* data, std::size_t length);
    /// Receives `count` bytes into `into`, any count; returns early, with
    /// how many came, when the peer closes. Large counts are received in
    /// large system calls. Reports "Read( N )" at level 8.
    /// @throws ESockError as Read (there is no count limit).
    std::size_t ReadBytes(void* into, std::size_t count);
    /// Receives `count` bytes (at most 255); 0 receives once whatever is
    /// waiting, up to 255 bytes. Returns early, with what has arrived, when
    /// the peer closes. Reports "Read( N )" at level 8.
    /// @throws ESockError "Read Count Too Large (N, at most 255)", the wait's
    ///   failures, "Unknown Error No. N" for a broken connection (10054 for a
    ///   reset, on this receive and every later one).
    std::string Read(std::uint16_t count);
    /// As Read, into `into` (room for `count` bytes, 255 for 0) instead of
    /// a string; returns how many bytes came.
    int ReadInto(char* into, std::uint16_t count);
    /// Receives one line, line end (LF, and a CR before it) included. A line
    /// longer than 255 bytes comes in pieces of 255; a line whose end has not
    /// come after 100 quick passes (not a span of time) comes as far as it
    /// has arrived. Empty when the peer has closed or nothing is waiting yet.
    /// @throws ESockError the wait's failures; "Unknown Error No. N" for a
    ///   broken connection.
    std::string ReadLn();
    /// Sends `command` with WriteLn, reads the reply with ReadLn into
    /// `reply` and TransactionReply(), reports a non-empty reply at level 1
    /// and takes its leading number into ReplyCode().
    /// @throws ESockError as WriteLn and ReadLn.
    /// @throws ERangeError when the leading number lies between 32768 and
    ///   2147483647 (TransactionReply() holds the reply; `reply` is not set).
    virtual void Transaction(const std::string& command, std::string& reply);

protected:
    /// Called for FD_READ notifications of a listening server.
    TNotifyEvent FReadHook;
    /// Called for FD_WRITE notifications of a listening server.
    TNotifyEvent FWriteHook;
    /// Called for FD_CLOSE notifications of a listening server.
    TNotifyEvent FCloseHook;
    /// Called for FD_CONNECT notifications of a listening server.
    TNotifyEvent FConnectHook;
    /// Called for FD_OOB notifications of a listening server.
    TNotifyEvent FOOBHook;
    /// Called for FD_ACCEPT notifications: a server serves the connection.
    TNotifyEvent FAcceptHook;
    /// Called before every ESockError the component raises (see Raise).
    TSockErrorEvent FErrorHook;
    /// Called after a successful name lookup.
    TNotifyEvent FHostResolvedHook;
    /// Called for every status text reported, also during destruction.
    TSockStatusEvent FStatusHook;
    /// Called by Read, ReadInto and ReadBytes after each receive that
    /// brought bytes (counted in ReceivedTotal() by then). An exception it
    /// raises ends the read: a descendant's limit that is checked as data
    /// arrives, when no wait runs the timers.
    TNotifyEvent FReceivedHook;

    /// Sets a member of the component for a scope and restores its value on
    /// every way out, unless the component was destroyed meanwhile (then
    /// nothing of it is touched).
    template <class T>
    class TScoped {
    public:
        /// Puts `value` into `place`, a member of the component whose life
        /// is `life`, until the guard's end.
        TScoped(std::shared_ptr<const bool> life, T& place, T value)
            : FLife(std::move(life)), FPlace(place), FOld(std::exchange(place, std::move(value))) {}
        /// Restores the value `place` had, unless the component is gone.
        ~TScoped()
        {
            if (*FLife)
                FPlace = std::move(FOld);
        }
        TScoped(const TScoped&) = delete;
        TScoped& operator=(const TScoped&) = delete;

    private:
        std::shared_ptr<const bool> FLife;
        T& FPlace;
        T FOld;
    };
    /// For the guard's life, a reset connection ends ReadBytes as the peer's
    /// close does (it returns what came) instead of raising: for a protocol
    /// step where either means "the peer did not take this".
    [[nodiscard]] TScoped<bool> ResetEndsReads() { return {FAlive, FResetEndsRead, true}; }
    /// For the guard's life, Write and WriteLn may keep their texts to
    /// travel with what follows: for a descendant that sends more at once
    /// and hands them over (SendFile's last chunk, a plain send) or resets
    /// the connection before it returns.
    [[nodiscard]] TScoped<bool> WritesHeld() { return {FAlive, FHoldWrites, true}; }
    /// For the guard's life (guards nest), a cancel (BeenCanceled, or the
    /// application's quit) ends no wait; BeenCanceled stays set for what
    /// follows. For a step that must finish once begun: the reply to a
    /// message already stored.
    [[nodiscard]] TScoped<int> CancelsHeld() { return {FAlive, FCancelHeld, FCancelHeld + 1}; }

    /// Reports `text` when `level` is at most ReportLevel: it becomes
    /// Status(), then goes to FStatusHook and OnStatus.
    void StatusMessage(std::uint8_t level, const std::string& text);
    /// As above, for a fixed text: nothing is made of it unless reported.
    void StatusMessage(std::uint8_t level, const char* text)
    {
        if (Reports(level))
            StatusMessage(level, std::string(text));
    }
    /// Whether a text at `level` is reported: a text that takes work to
    /// make is made only then.
    bool Reports(std::uint8_t level) const { return level <= ReportLevel; }
    /// After a failed socket call: reads the error into LastErrorNo; returns
    /// when it carries all bits of `tolerated`; otherwise raises its text
    /// with Raise.
    void ErrorManager(std::uint16_t tolerated);
    /// The one way a component fails: calls FErrorHook and OnError with
    /// `errorNo` (the socket error that caused the failure, 0 for none) and
    /// `text`, then raises ESockError with `text`. Descendants raise their
    /// own failures through it too, so OnError hears every one once.
    [[noreturn]] void Raise(const std::string& text, int errorNo);
    /// "Unknown Error No. " and the number; empty for 0. Reports it at level 8.
    std::string LookUpErrorMessage(std::uint16_t errorNo);

    /// Starts the socket library and creates the socket (the constructor's).
    void InitWinsock();
    /// The destructor's steps, also run when the constructor fails.
    void TearDown();
    /// The hidden window's procedure: turns notifications into flags and hooks.
    void WndProc(TMessage& message);
    /// Calls the hook of a WM_SOCKETNOTIFY event code.
    void DispatchSocketEvent(std::uint16_t event);
    /// Arms the time-out timer for TimeOut, or for `limitMs` when that is
    /// positive (a step's own limit); it keeps counting when already armed
    /// alike.
    void TimerOn(std::int32_t limitMs = 0);
    /// Disarms the time-out timer.
    void TimerOff();
    /// The timer's tick: sets BeenTimedOut and disarms.
    void TimerTriggered(TComponent* sender);
    /// Closes the socket and, when `renew` and not destroying, makes a
    /// fresh one (else Handle() becomes kNoSocket).
    void RequestCloseSocket(bool renew = true);
    /// Puts the addresses of Host into FAddresses (one for an address
    /// written out, the resolver's list for a name), looking it up if needed.
    /// @throws ESockError "Host Lookup Timed Out", "Host Lookup Canceled",
    ///   "Host Lookup Failed".
    void ResolveHost();
    /// The addresses of `host` into FAddresses, without raising: 0 when
    /// found, else the failure's text in `failure` and the cause returned
    /// (or -1 when there is none).
    int LookUpAddresses(const std::string& host, std::string& failure);
    /// Binds the listening socket to BindAddress (or both families' any
    /// address) and `port`; the bind's error, 0 for none.
    int BindForListening(std::uint16_t port);

    /// How a completion wait ended.
    enum class TWaitEnd {
        Done,     ///< by its notification, without an error
        TimedOut, ///< by the time-out
        Canceled, ///< by BeenCanceled
        Failed    ///< by its notification, carrying an error
    };
    /// The completion wait: selects `event` for WM_SOCKETDONE, runs
    /// `request`, arms the timer (for `limitMs` when positive, else
    /// TimeOut), pumps until the notification, the time-out or a cancel,
    /// disarms and deselects.
    TWaitEnd AwaitCompletion(long event, const std::function<void()>& request = {}, std::int32_t limitMs = 0);
    /// What every wait of the component watches besides its own condition:
    /// the time-out, a cancel (BeenCanceled, set too when the application
    /// has been asked to quit since the wait began; not while cancels are
    /// held) and the component's life. Its sleeps raise EComponentDestroyed
    /// when the component was destroyed meanwhile.
    class TWait {
    public:
        /// Begins a wait of `component`, whose timer the caller has armed.
        explicit TWait(TFerrolink& component);
        /// Whether the time-out or a cancel has ended the wait.
        bool Over();
        /// Handles what is waiting in the event loop, without sleeping.
        void Pass();
        /// Sleeps in the event loop until an event has been handled.
        void Sleep();
        /// As Sleep, or until Handle() turns readable.
        void SleepOrReadable();
        /// How a wait that is Over ended: TimedOut or Canceled.
        TWaitEnd End() const;

    private:
        TFerrolink& FComponent;
        unsigned FQuits;
        std::shared_ptr<const bool> FLife;
    };
    /// Pumps the queue at least once, then until FAsyncDone is set or the
    /// wait is over, sleeping in the event loop between events.
    void PumpUntilDone();
    /// The failure texts of one wait.
    struct TWaitTexts {
        const char* TimedOut; ///< raised for TWaitEnd::TimedOut
        const char* Canceled; ///< raised for TWaitEnd::Canceled
        const char* Failed;   ///< raised for TWaitEnd::Failed
    };
    /// Raises the text of `end` unless the wait ended by its notification.
    void RaiseUnlessDone(TWaitEnd end, const TWaitTexts& texts);
    /// One connection attempt to FSockAddr, its wait limited to `limitMs`
    /// (0: TimeOut alone).
    TWaitEnd AttemptConnection(std::int32_t limitMs);
    /// Selects no notifications for Handle().
    void Deselect();
    /// As Disconnect, but the connection is reset instead of ended, and bytes
    /// not yet delivered are dropped: for a transfer that failed half way.
    void AbortConnection();
    /// Makes the next close of the socket a reset instead of an orderly end.
    void ResetOnClose();
    /// Whether the component still exists, readable after it is destroyed:
    /// an operation keeps a copy before it calls out (a handler, a pump).
    using TLife = std::shared_ptr<const bool>;
    /// The component's life, for an operation to keep.
    TLife Life() const { return FAlive; }
    /// Raises EComponentDestroyed when `life` has ended; touches nothing else.
    static void RaiseIfDestroyed(const TLife& life)
    {
        if (!*life)
            throw EComponentDestroyed();
    }
    /// A negative TimeOut raises ERangeError before a wait issues anything.
    void CheckTimeOut() const;
    /// Raises EThreadError on any thread but the component's own.
    void CheckThread() const;
    /// Receives up to `count` bytes until they are all there, the peer
    /// closes, or (with `once`) after the first receive that brought any.
    std::size_t ReceiveUpTo(char* into, std::size_t count, bool once);
    /// SendFile's and SendStream's loop: `chunk` bytes at a time from
    /// `buffer`, OnPacketRecvd at most every `progressMs` (0: every chunk).
    void SendChunks(TStream& stream, char* buffer, int chunk, int progressMs, const TSentBytesEvent& sent);
    /// One send of SendFile: the bytes the system took, 0 for a full buffer;
    /// raises through ErrorManager for any other failure.
    int SendChunk(const char* chunk, int length, int flags);
    /// Hands chunks held back for the next one to the system.
    void PushHeldChunks();
    /// ReadLn's answer to a failed receive: empty for would-block, raises
    /// through ErrorManager for anything else.
    std::string NothingUnlessBroken();
    /// Raises "Text Too Long (N bytes, at most 255)" for a text that Write
    /// or WriteLn cannot send whole.
    void RaiseIfTextTooLong(const std::string& text);
    /// Whether the peer has sent something that waits to be received,
    /// without waiting: for a protocol whose peer may answer before it has
    /// been sent everything. A close or a reset is no answer (false).
    bool PeerHasSpoken();
    /// Raises through ErrorManager when the connection is known broken (the
    /// peer reset it), without waiting; a peer that only closed its sending
    /// side passes.
    void RaiseIfBroken();

    // Operations a descendant builds on instead of the fields below.

    /// Takes the connection the listening socket announced (FD_ACCEPT) onto
    /// Handle(), without waiting, keeping the listening socket aside; as
    /// Accept after its wait, with its failures.
    void TakePendingConnection();
    /// After serving a connection: closes it if a failed close left it, and
    /// puts the listening socket back into Handle().
    void RestoreListeningSocket();
    /// Closes the listening socket kept aside during a service (for a server
    /// destroyed in the middle of one).
    void CloseListeningSocket();
    /// Closes Handle() without making a fresh socket (Handle() becomes
    /// kNoSocket): for a server, whose socket a close ends for good.
    void CloseSocketForGood();
    /// The TLS handshake on Handle()'s connection, as a server or as the
    /// client of `peerName`, with the failures Connect documents.
    void SecureConnection(bool server, const std::string& peerName);
    /// As SecureConnection; when it fails, the connection is closed first
    /// (a server's listening socket put back into Handle()).
    void SecureOrClose(bool server, const std::string& peerName);
    /// Looks a moment for the next connection, so that the next selection
    /// announces it at once.
    void LookForNextConnection();
    /// Selects the listening socket's notifications again, without the
    /// status text of Listen (after a pause of accepting).
    void ResumeListening();
    /// Whether the last failed accept failed for want of descriptors or
    /// memory: accepting again at once would fail the same way.
    bool AcceptShortOfResources() const;
    /// Disarms the time-out timer without a status text: each client of a
    /// server has the whole TimeOut.
    void DisarmTimer() { FTimer->SetEnabled(false); }
    /// Ends the wait under way as by its time-out (a server's own limits);
    /// a read wait then raises `text` ("Read Timed Out" when empty).
    void EndWaitAsTimedOut(std::string text = {})
    {
        FBeenTimedOut = true;
        FTimedOutText = std::move(text);
    }
    /// The bytes Read, ReadInto and ReadBytes have delivered, on every
    /// connection the component had: a descendant measures a peer's pace
    /// with it.
    std::uint64_t ReceivedTotal() const { return FReceivedTotal; }

    // State a descendant may read and the tests' probes look into.
    TSocketHandle FListenHandle = 0; ///< the listening socket while a client is served
    bool FLastEventOk = false;       ///< the last notification carried no error
    std::unique_ptr<TTimer> FTimer;  ///< the time-out timer
    bool FAsyncDone = false;         ///< the awaited request has completed
    winsock::sockaddr_storage FSockAddr {};      ///< the peer's address (a server's: during a service)
    std::unique_ptr<winsock::ADDRESSLIST> FAddresses; ///< Host's addresses, from the last lookup
    winsock::sockaddr_storage FBindTo {};        ///< BindAddress, once looked up
    bool FBindResolved = false;                  ///< FBindTo holds BindAddress
    std::int16_t FReplyCode = 0;     ///< ReplyCode()
    HWND FNotifyWindow = 0;          ///< the hidden window

private:
    int FLastEventError = 0;         ///< the error the last notification carried
    int FFailureCause = 0;           ///< FailureCause()
    int FLookupError = 0;            ///< the error the lookup's reply carried
    std::int32_t FBytesSent = 0;     ///< BytesSent()
    std::int64_t FBytesRecvd = 0;    ///< BytesRecvd()
    bool FReady = false;             ///< notifications take effect (between construction and destruction)
    bool FBeenTimedOut = false;      ///< BeenTimedOut()
    std::string FTimedOutText;       ///< the failure of a wait ended by EndWaitAsTimedOut, for this wait only
    std::uint64_t FReceivedTotal = 0; ///< ReceivedTotal()
    bool FDestroying = false;        ///< the destructor runs: no fresh socket
    std::int32_t FLastErrorNo = 0;   ///< LastErrorNo
    std::string FStatus;             ///< Status()
    std::unique_ptr<char[]> FSendBuffer; ///< kSendBufferSize bytes: zero-terminated text for SendBuffer
    std::int64_t FBytesTotal = 0;    ///< BytesTotal()
    winsock::WSADATA FWSAData {};    ///< what the socket library told at start-up
    std::string FTransactionReply;   ///< TransactionReply()
    bool FConnected = false;         ///< GetConnected()
    TSocketHandle FHandle = 0;       ///< Handle()
    winsock::HANDLE FLookupTask = 0; ///< the lookup whose reply is awaited, 0 for none
    bool FLookupFilled = false;      ///< the lookup's reply said the host entry is filled
    int FAcceptFailure = 0;          ///< the socket error of the last failed accept, 0 after one that worked
    bool FWinsockStarted = false;    ///< the socket library was started, so it is stopped once
    std::thread::id FThread;         ///< the thread that made the component, the only one that may use it
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true); ///< false from the destructor's start
    bool FHoldWrites = false;        ///< see WritesHeld
    int FCancelHeld = 0;             ///< see CancelsHeld
    bool FResetEndsRead = false;     ///< see ResetEndsReads
    std::shared_ptr<tls::TContext> FTlsContext; ///< made of FTlsContextSettings, for one side
    TTlsSettings FTlsContextSettings;            ///< what FTlsContext was made of
    bool FTlsContextServer = false;              ///< FTlsContext is a server's
    std::string FTlsPeerNote;                    ///< TlsPeerNote()

    /// The TLS context of the settings in Tls, for a server or a client.
    const std::shared_ptr<tls::TContext>& TlsContext(bool server, std::string& failure);
    /// The handshake's wait, as a server or a client; raises its failure,
    /// returns how the wait ended.
    TWaitEnd AwaitHandshake(bool server);
    /// Pumps until the socket can take data, the time-out or a cancel.
    void AwaitWritable();
};

} // namespace ferro
