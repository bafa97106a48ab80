// Feeds arbitrary bytes and faults through the real serving path: a pending
// connection is announced, TQBStrmServ accepts it, reads a message, answers
// and listens again. The input's front is what the client sends; its back
// chooses, call by call, what the connection does: a piece of data, would-
// block, a reset, the time-out firing, a short send.
//
// Its last byte chooses the message's limits: none, or a deadline that
// passes while the message is read, with or without a rate no large body
// keeps up with.
//
// After every input: the client's connection is closed and the server
// listens again; a reply went out only if the whole message had arrived (for
// the large form: "OK" only after the body and a matching check); OnMSG saw
// exactly the declared body, and only after the whole reply.
#include "winsock.h"
#include <ferrolink/qbmsg.h>

#include <QCoreApplication>
#include <QTimer>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

using namespace ferro;

namespace {

using namespace winsock;

// Takes data from the input's front and choices from its back.
class Script {
public:
    void Load(const std::uint8_t* data, std::size_t size)
    {
        FData = data;
        FFront = 0;
        FBack = size;
    }
    std::uint8_t Choice() { return FBack > FFront ? FData[--FBack] : 0xFF; }
    std::size_t Take(char* buf, std::size_t wanted)
    {
        const std::size_t n = std::min(wanted, FBack - FFront);
        std::memcpy(buf, FData + FFront, n);
        FFront += n;
        return n;
    }
    std::size_t Peek(char* buf, std::size_t wanted) const
    {
        const std::size_t n = std::min(wanted, FBack - FFront);
        std::memcpy(buf, FData + FFront, n);
        return n;
    }

private:
    const std::uint8_t* FData = nullptr;
    std::size_t FFront = 0, FBack = 0;
};

class FuzzServer : public TQBStrmServ {
public:
    using TQBStrmServ::TQBStrmServ;
    // The time-out fires, if a wait has armed it.
    void Tick()
    {
        if (FTimer->Enabled())
            TimerTriggered(this);
    }
};

class FuzzWinsock : public TPosixWinsock {
public:
    FuzzServer* Server = nullptr;
    Script Input;
    SOCKET Listening = 0;
    SOCKET Client = 0;
    HWND Window = 0;
    bool Pending = false;
    bool ClientClosed = false;
    bool ListeningAgain = false;
    bool Reset = false;
    std::string Delivered; // what the server has received
    std::string Replied;   // what it has sent

    void Start(const std::uint8_t* data, std::size_t size)
    {
        Input.Load(data, size);
        Pending = true;
        ClientClosed = ListeningAgain = Reset = false;
        Delivered.clear();
        Replied.clear();
    }

    int bind(SOCKET s, const sockaddr*, int) override
    {
        Listening = s;
        return 0;
    }
    int listen(SOCKET, int) override { return 0; }

    SOCKET accept(SOCKET, sockaddr* addr, int* addrLen) override
    {
        Pending = false;
        Client = TPosixWinsock::socket(AF_INET, SOCK_STREAM, 0); // a real descriptor, never connected
        std::memset(addr, 0, static_cast<std::size_t>(*addrLen));
        return Client;
    }

    int closesocket(SOCKET s) override
    {
        ClientClosed = ClientClosed || s == Client;
        return TPosixWinsock::closesocket(s);
    }

    int WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events) override
    {
        if (s == Listening && msg == WM_SOCKETNOTIFY && (events & FD_ACCEPT)) {
            Window = window;
            ListeningAgain = ClientClosed;
            if (Pending)
                PostMessage(window, msg, s, WSAMAKESELECTREPLY(FD_ACCEPT, 0));
        }
        // Writing is possible at once, as on a fresh connection.
        if (s == Client && msg != 0 && (events & FD_WRITE))
            PostMessage(window, msg, s, WSAMAKESELECTREPLY(FD_WRITE, 0));
        return 0;
    }

    int recv(SOCKET s, char* buf, int len, int flags) override
    {
        if (s != Client)
            return TPosixWinsock::recv(s, buf, len, flags);
        if (Reset)
            return Fail(WSAECONNRESET);
        const std::uint8_t choice = Input.Choice();
        switch (choice % 8) {
        case 0:
            return Fail(WSAEWOULDBLOCK);
        case 1:
            Reset = true;
            return Fail(WSAECONNRESET);
        case 2:
            // The timer can fire only while a wait pumps, which is after a
            // peek has found nothing.
            if (flags & MSG_PEEK)
                Server->Tick();
            return Fail(WSAEWOULDBLOCK);
        default:
            break;
        }
        // Now and then a pause before the data: a dripping client, whose
        // bytes come after the deadline of a millisecond has passed.
        if (choice == 3)
            ::usleep(1100);
        const auto piece = std::min<std::size_t>(static_cast<std::size_t>(len), 1 + (choice >> 3) % 64);
        if (flags & MSG_PEEK)
            return static_cast<int>(Input.Peek(buf, piece));
        const std::size_t n = Input.Take(buf, piece);
        Delivered.append(buf, n);
        return static_cast<int>(n); // 0 once everything is read: the client closed
    }

    int send(SOCKET s, const char* buf, int len, int flags) override
    {
        if (s != Client)
            return TPosixWinsock::send(s, buf, len, flags);
        if (Reset)
            return Fail(WSAECONNRESET);
        const std::uint8_t choice = Input.Choice();
        int n = len;
        switch (choice % 8) {
        case 0:
            return Fail(WSAEWOULDBLOCK);
        case 1:
            Reset = true;
            return Fail(WSAECONNRESET);
        case 2:
            n = len > 0 ? 1 + (choice >> 3) % len : 0; // a short send
            break;
        default:
            break;
        }
        Replied.append(buf, static_cast<std::size_t>(n));
        return n;
    }

private:
    int Fail(int error)
    {
        WSASetLastError(error);
        return SOCKET_ERROR;
    }
};

struct Received {
    bool Called = false;
    bool ReplyWasWhole = false;
    std::string From;
    std::string Body;
};

constexpr std::int64_t kLimit = 1 << 16; // the server's MaxSize: small bodies, fast runs

bool StartsLarge(const std::string& bytes)
{
    return bytes.compare(0, qbmsg::kLargeMagic.size(), qbmsg::kLargeMagic) == 0;
}

// The large message `bytes` must hold for a delivery: header, a body within
// the limit and its matching check.
bool WholeLargeMessage(const std::string& bytes, std::string& from, std::string& body)
{
    const bool named = bytes.size() >= qbmsg::kLargeLead && bytes[4] == static_cast<char>(qbmsg::kNamedVersion);
    if (bytes.size() < qbmsg::kLargeLead || (bytes[4] != static_cast<char>(qbmsg::kLargeVersion) && !named))
        return false;
    const std::size_t nameLength = static_cast<unsigned char>(bytes[5]);
    std::size_t at = qbmsg::kLargeLead + nameLength;
    if (bytes.size() < at + qbmsg::kLargeLengthSize)
        return false;
    from = bytes.substr(qbmsg::kLargeLead, nameLength);
    const std::uint64_t length = qbmsg::ReadBigEndian(bytes.data() + at, qbmsg::kLargeLengthSize);
    at += qbmsg::kLargeLengthSize;
    if (named) { // the path: 2 octets of length, at most 4095 of them (no part is kept here, so no offer)
        if (bytes.size() < at + 2)
            return false;
        const std::size_t pathLength = static_cast<std::size_t>(qbmsg::ReadBigEndian(bytes.data() + at, 2));
        if (pathLength > qbmsg::kMaxPathLength)
            return false;
        at += 2 + pathLength;
    }
    if (length > static_cast<std::uint64_t>(kLimit) || bytes.size() < at + length + qbmsg::kCheckSize)
        return false;
    body = bytes.substr(at, length);
    qbmsg::TBodyCheck check;
    check.Add(body.data(), body.size());
    return std::memcmp(check.Value().data(), bytes.data() + at + length, qbmsg::kCheckSize) == 0;
}

// What a receiver may have answered a large message, as far as it got.
bool LargeAnswerPossible(const std::string& replied)
{
    for (const std::string& answer : {qbmsg::kGoAhead + qbmsg::kReply, qbmsg::kGoAhead + qbmsg::kBadCheck,
                                      qbmsg::kGoAhead + qbmsg::kNotStored, qbmsg::EncodeTooLarge(kLimit), qbmsg::EncodeUnknownVersion()})
        if (answer.compare(0, replied.size(), replied) == 0)
            return true;
    return false;
}

// The message a complete delivery must hold, or false when `bytes` hold no
// whole one: lengths as the receiver parses them, the rest by count.
bool WholeMessage(const std::string& bytes, std::string& from, std::string& body)
{
    if (StartsLarge(bytes))
        return WholeLargeMessage(bytes, from, body);
    try {
        std::size_t at = 0;
        const auto field = [&](std::size_t n) {
            if (bytes.size() < at + n)
                throw EConvertError("short");
            at += n;
            return bytes.substr(at - n, n);
        };
        // A negative length is no count: such a message is refused.
        const std::int32_t nameLength = qbmsg::ParseLength(field(4));
        if (nameLength < 0)
            return false;
        from = field(static_cast<std::size_t>(nameLength));
        const std::int32_t bodyLength = qbmsg::ParseLength(field(4));
        if (bodyLength < 0)
            return false;
        body = field(static_cast<std::size_t>(bodyLength));
        return true;
    } catch (const Exception&) {
        return false;
    }
}

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

struct Harness {
    Harness() : App(Argc, Argv), Use(Connection)
    {
        // Keeps a waiting pump from sleeping: the fake connection has no
        // readiness to wake it.
        Spin.start(0);
        SetApplicationExceptionHandler([](const std::exception&) {}); // refusals are the point
        Server = std::make_unique<FuzzServer>(nullptr);
        Connection.Server = Server.get();
        Server->TimeOut = 60000; // armed by every wait; fires only when the input says so
        Server->MaxSize = kLimit;
        Server->OnMSG = [this](TComponent*, const std::string& from, TStream& body) {
            Got.Called = true;
            Got.ReplyWasWhole = Connection.Replied == qbmsg::kReply || Connection.Replied == qbmsg::kGoAhead + qbmsg::kReply;
            Got.From = from;
            Check(body.Position() == 0);
            Got.Body.resize(static_cast<std::size_t>(body.Size()));
            body.ReadBuffer(Got.Body.data(), body.Size());
        };
        Server->Loaded();
    }
    int Argc = 1;
    char Name[8] = "fuzz";
    char* Argv[2] = {Name, nullptr};
    QCoreApplication App;
    FuzzWinsock Connection;
    TWinsockOverride Use;
    QTimer Spin;
    std::unique_ptr<FuzzServer> Server;
    Received Got;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Harness harness;
    FuzzWinsock& c = harness.Connection;
    harness.Got = {};
    c.Start(data, size);
    // The message's limits, as the input's last choice says: a deadline of
    // a millisecond passes while the message is read, so data comes after
    // it (a dripping client) and a large body falls behind a rate no body
    // keeps (a slow one); either must end the message unanswered.
    const std::uint8_t limits = c.Input.Choice();
    harness.Server->MessageDeadline = limits & 1 ? 1 : 0;
    harness.Server->MinimumRate = limits & 2 ? std::int64_t(1) << 40 : 64 * 1024;
    // The connection is announced; the service runs inside this one pass.
    PostMessage(c.Window, WM_SOCKETNOTIFY, c.Listening, WSAMAKESELECTREPLY(FD_ACCEPT, 0));
    ProcessMessages();

    Check(c.ClientClosed && c.ListeningAgain);
    std::string from, body;
    const bool whole = WholeMessage(c.Delivered, from, body);
    if (StartsLarge(c.Delivered)) {
        // A go-ahead or a refusal may come before the body; "OK" only after
        // the whole message with its check.
        Check(LargeAnswerPossible(c.Replied));
        Check(c.Replied.size() <= qbmsg::kGoAhead.size() || c.Replied[16] != 'O' || whole);
    } else {
        Check(c.Replied.empty() || whole);
        Check(qbmsg::kReply.compare(0, c.Replied.size(), c.Replied) == 0);
    }
    if (harness.Got.Called)
        Check(harness.Got.ReplyWasWhole && whole && harness.Got.From == from && harness.Got.Body == body);
    return 0;
}
