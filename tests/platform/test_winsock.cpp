#include "winsock.h"

#include "peers.h"
#include "recorder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

using namespace ferro;

using namespace winsock;

namespace {

// A window that records the notifications it receives.
struct Recorder {
    Recorder() : Window(AllocateHWnd([this](TMessage& m) { Got.push_back(m); })) {}
    ~Recorder() { DeallocateHWnd(Window); }

    std::vector<int> Events(SOCKET s) const
    {
        std::vector<int> events;
        for (const auto& m : Got)
            if (m.WParam == s)
                events.push_back(WSAGETSELECTEVENT(m.LParam));
        return events;
    }
    int ErrorOf(int event) const
    {
        for (const auto& m : Got)
            if (WSAGETSELECTEVENT(m.LParam) == event)
                return WSAGETSELECTERROR(m.LParam);
        return -1;
    }

    HWND Window;
    std::vector<TMessage> Got;
};

constexpr unsigned kMsg = WM_USER + 7;

struct Started {
    Started() { WSAStartup(0x0101, &Data); }
    ~Started() { WSACleanup(); }
    WSADATA Data {};
};

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
}

// A connected pair: our socket `s`, and the peer's plain descriptor.
struct Connection {
    explicit Connection(Recorder& r, long events = 0)
    {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        WSAAsyncSelect(s, r.Window, kMsg, FD_CONNECT | events);
        const sockaddr_in a = LoopbackAddress(listener.Port());
        connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        peer = listener.Accept();
        PumpUntil([&] { return !r.Events(s).empty(); });
    }
    ~Connection()
    {
        closesocket(s);
        CloseFd(peer);
    }
    TcpListener listener;
    SOCKET s = INVALID_SOCKET;
    int peer = -1;
};

// A listening socket of ours on a free port.
SOCKET ListenOn(std::uint16_t port)
{
    const SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in a = LoopbackAddress(port);
    bind(l, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    listen(l, 4);
    return l;
}

} // namespace

TEST(WinsockErrors, MapErrnoToTheInterfacesNumbers)
{
    const std::pair<int, int> table[] = {
        {EAGAIN, 10035}, {EWOULDBLOCK, 10035}, {EINPROGRESS, 10035}, {ECONNREFUSED, 10061}, {ECONNRESET, 10054},
        {ECONNABORTED, 10053}, {ENOTCONN, 10057}, {ETIMEDOUT, 10060}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049},
        {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065}, {EBADF, 10009}, {EINVAL, 10022}, {EMSGSIZE, 10040},
        {ENOTSOCK, 10038}, {EPIPE, 10058}, {EACCES, 10013}, {EMFILE, 10024}, {0, 0}};
    for (const auto& [posix, wsa] : table)
        EXPECT_EQ(ErrorFromErrno(posix), wsa) << "errno " << posix;
}

TEST(WinsockStartup, IsCountedAndNeededForSockets)
{
    const int before = StartupCount();
    if (before == 0) {
        EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    }
    {
        Started a, b;
        EXPECT_EQ(StartupCount(), before + 2);
        EXPECT_EQ(a.Data.wVersion, 0x0101);
    }
    EXPECT_EQ(StartupCount(), before);
}

TEST(WinsockAddresses, DottedTextsOnly)
{
    EXPECT_EQ(inet_addr("127.0.0.1"), htons(0x7F00) | (htons(0x0001) << 16));
    EXPECT_EQ(inet_addr("0.0.0.0"), 0u);
    EXPECT_EQ(inet_addr("localhost"), INADDR_NONE);
    EXPECT_EQ(inet_addr("255.255.255.255"), INADDR_NONE);
    EXPECT_EQ(htons(6711), 0x371A);
    // The other forms of a dotted address read as the system reads them.
    const std::pair<const char*, const char*> same[] = {
        {"127.1", "127.0.0.1"}, {"010.0.0.1", "8.0.0.1"}, {"0x7f.0.0.1", "127.0.0.1"}, {"1.2.3.04", "1.2.3.4"},
        {"192.168.0.255", "192.168.0.255"}};
    for (const auto& [form, plain] : same)
        EXPECT_EQ(inet_addr(form), inet_addr(plain)) << form;
    EXPECT_EQ(inet_addr("10.20.30.40"), htons(0x0A14) | (htons(0x1E28) << 16));
    for (const char* bad : {"256.1.1.1", "1.2.3.4.5", "1..2.3", "", "1.2.3.4x", "1.2.3.256"})
        EXPECT_EQ(inet_addr(bad), INADDR_NONE) << bad;
}

TEST(WinsockSelect, ConnectReportsSuccessThenWriteReadinessOnce)
{
    Started started;
    Recorder r;
    Connection c(r, FD_WRITE);
    PumpFor(50);
    EXPECT_EQ(r.Events(c.s), (std::vector<int> {FD_CONNECT, FD_WRITE}));
    EXPECT_EQ(r.ErrorOf(FD_CONNECT), 0);
    // A successful send does not announce writability again.
    EXPECT_EQ(send(c.s, "x", 1, 0), 1);
    PumpFor(50);
    EXPECT_EQ(r.Events(c.s).size(), 2u);
}

TEST(WinsockSelect, SelectingWriteOnAWritableSocketPostsAtOnce)
{
    Started started;
    Recorder r;
    Connection c(r);
    r.Got.clear();
    WSAAsyncSelect(c.s, r.Window, kMsg, FD_WRITE);
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    EXPECT_EQ(r.Events(c.s), (std::vector<int> {FD_WRITE}));
}

TEST(WinsockSelect, RefusedConnectionCarriesItsError)
{
    Started started;
    Recorder r;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    WSAAsyncSelect(s, r.Window, kMsg, FD_CONNECT);
    const sockaddr_in a = LoopbackAddress(UnusedPort());
    EXPECT_EQ(connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    EXPECT_EQ(r.Events(s), (std::vector<int> {FD_CONNECT}));
    EXPECT_EQ(r.ErrorOf(FD_CONNECT), WSAECONNREFUSED);
    closesocket(s);
}

TEST(WinsockSelect, ReadIsPostedOncePerOccurrenceAndReenabledByRecv)
{
    Started started;
    Recorder r;
    Connection c(r, FD_READ);
    r.Got.clear();
    SendAll(c.peer, "abcdef");
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    SendAll(c.peer, "more");
    PumpFor(50);
    EXPECT_EQ(r.Events(c.s), (std::vector<int> {FD_READ})); // not again before recv
    char buf[4];
    EXPECT_EQ(recv(c.s, buf, 4, 0), 4); // leaves data waiting: posted again
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() == 2; }));
    EXPECT_EQ(r.Events(c.s), (std::vector<int> {FD_READ, FD_READ}));
}

TEST(WinsockSelect, CloseComesAfterTheDataIsRead)
{
    Started started;
    Recorder r;
    Connection c(r, FD_READ | FD_CLOSE);
    r.Got.clear();
    SendAll(c.peer, "tail");
    CloseFd(c.peer);
    c.peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    PumpFor(50);
    EXPECT_EQ(r.Events(c.s), (std::vector<int> {FD_READ}));
    char buf[8];
    EXPECT_EQ(recv(c.s, buf, sizeof buf, 0), 4);
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() == 2; }));
    EXPECT_EQ(r.Events(c.s).back(), FD_CLOSE);
    EXPECT_EQ(r.ErrorOf(FD_CLOSE), 0);
    PumpFor(50);
    EXPECT_EQ(r.Got.size(), 2u); // once
}

TEST(WinsockSelect, MessageZeroStopsNotifications)
{
    Started started;
    Recorder r;
    Connection c(r, FD_READ);
    r.Got.clear();
    WSAAsyncSelect(c.s, r.Window, 0, 0);
    SendAll(c.peer, "ignored");
    PumpFor(80);
    EXPECT_TRUE(r.Got.empty());
}

TEST(WinsockListen, NeedsABoundSocket)
{
    Started started;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(listen(s, 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    closesocket(s);
}

TEST(WinsockListen, APortHeldByAnotherListenerCannotBeBound)
{
    Started started;
    TcpListener other;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in a = LoopbackAddress(other.Port());
    EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    closesocket(s);
}

TEST(WinsockSelect, ListeningSocketAnnouncesEachPendingConnection)
{
    Started started;
    Recorder r;
    // A free port: a plain listener picks one and releases it.
    std::uint16_t free;
    {
        TcpListener probe;
        free = probe.Port();
    }
    const SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in a = LoopbackAddress(free);
    ASSERT_EQ(bind(l, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    WSAAsyncSelect(l, r.Window, kMsg, FD_ACCEPT);
    ASSERT_EQ(listen(l, 4), 0);
    const int c1 = ConnectTo(free);
    const int c2 = ConnectTo(free);
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    PumpFor(50);
    EXPECT_EQ(r.Events(l), (std::vector<int> {FD_ACCEPT}));
    sockaddr_in peer {};
    int len = sizeof peer;
    const SOCKET s1 = accept(l, reinterpret_cast<sockaddr*>(&peer), &len);
    EXPECT_NE(s1, INVALID_SOCKET);
    EXPECT_EQ(peer.sin_family, AF_INET);
    EXPECT_EQ(peer.sin_addr.s_addr, inet_addr("127.0.0.1"));
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() == 2; })); // the second one, after accept
    closesocket(s1);
    closesocket(l);
    CloseFd(c1);
    CloseFd(c2);
}

TEST(WinsockSelect, ALookAtAListeningSocketIsTheNextSelectionsAnswer)
{
    Started started;
    Recorder r;
    const std::uint16_t port = FreePort();
    const SOCKET l = ListenOn(port);
    WSAAsyncSelect(l, r.Window, kMsg, FD_ACCEPT);
    // Nothing pending at the look: a client that comes after it is still
    // announced, by the readiness watch.
    EXPECT_FALSE(ext::AcceptEarly(l));
    WSAAsyncSelect(l, r.Window, kMsg, FD_ACCEPT);
    const int c1 = ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return r.Events(l).size() == 1; }));
    const SOCKET s1 = accept(l, nullptr, nullptr);
    EXPECT_NE(s1, INVALID_SOCKET);
    // One pending at the look: the selection announces it at once, and the
    // accept hands over the connection with its peer.
    const int c2 = ConnectTo(port);
    EXPECT_TRUE(ext::AcceptEarly(l));
    WSAAsyncSelect(l, r.Window, kMsg, FD_ACCEPT);
    ProcessMessages();
    EXPECT_EQ(r.Events(l), (std::vector<int> {FD_ACCEPT, FD_ACCEPT}));
    sockaddr_in peer {};
    int length = sizeof peer;
    const SOCKET s2 = accept(l, reinterpret_cast<sockaddr*>(&peer), &length);
    ASSERT_NE(s2, INVALID_SOCKET);
    EXPECT_EQ(peer.sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_TRUE(SendAll(c2, "hi"));
    char buf[2];
    EXPECT_TRUE(PumpUntil([&] { return recv(s2, buf, 2, 0) == 2; }));
    // A connection a look took and nobody accepted goes with its listener.
    const int c3 = ConnectTo(port);
    EXPECT_TRUE(ext::AcceptEarly(l));
    closesocket(l);
    EXPECT_TRUE(PeerClosed(c3));
    for (const SOCKET each : {s1, s2})
        closesocket(each);
    for (const int each : {c1, c2, c3})
        CloseFd(each);
}

// Sockets never selected keep the interface's blocking mode: each call waits
// until it can do what it was asked.
TEST(WinsockBlocking, CallsOnANeverSelectedSocketWaitAsTheSystemsWould)
{
    Started started;
    TcpListener listener;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in a = LoopbackAddress(listener.Port());
    ASSERT_EQ(connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    const int peer = listener.Accept();

    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SendAll(peer, "late");
    });
    char buf[8] = {};
    EXPECT_EQ(recv(s, buf, 4, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "late");
    late.join();

    // More than the connection's buffers hold: all of it, once the peer reads.
    const std::string big(4 << 20, 'b');
    std::thread reader([&] { EXPECT_EQ(RecvSome(peer, big.size(), 20000).size(), big.size()); });
    EXPECT_EQ(send(s, big.data(), static_cast<int>(big.size()), 0), static_cast<int>(big.size()));
    reader.join();

    const std::uint16_t port = FreePort();
    const SOCKET l = ListenOn(port);
    int client = -1;
    std::thread comes([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        client = ConnectTo(port);
    });
    const SOCKET accepted = accept(l, nullptr, nullptr);
    EXPECT_NE(accepted, INVALID_SOCKET);
    comes.join();
    for (const SOCKET each : {s, l, accepted})
        closesocket(each);
    CloseFd(peer);
    CloseFd(client);
}

TEST(WinsockLookup, LaysTheHostEntryOutInTheCallersBuffer)
{
    Started started;
    Recorder r;
    std::vector<char> buf(MAXGETHOSTSTRUCT, '\xAA');
    const HANDLE task = WSAAsyncGetHostByName(r.Window, kMsg, "localhost", buf.data(), MAXGETHOSTSTRUCT);
    ASSERT_NE(task, 0u);
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }, 10000));
    const TMessage& reply = r.Got.front();
    EXPECT_EQ(reply.WParam, task);
    ASSERT_EQ(WSAGETSELECTERROR(reply.LParam), 0);
    const int length = WSAGETSELECTEVENT(reply.LParam);
    EXPECT_GT(length, 0);
    EXPECT_LE(length, MAXGETHOSTSTRUCT);
    hostent entry;
    std::memcpy(&entry, buf.data(), sizeof entry);
    EXPECT_EQ(entry.h_addrtype, AF_INET);
    EXPECT_EQ(entry.h_length, 4);
    ASSERT_NE(entry.h_addr_list[0], nullptr);
    // Every pointer stays inside the caller's buffer.
    EXPECT_GE(entry.h_addr_list[0], buf.data());
    EXPECT_LT(entry.h_addr_list[0], buf.data() + length);
    std::uint32_t address;
    std::memcpy(&address, entry.h_addr_list[0], 4);
    EXPECT_EQ(address, inet_addr("127.0.0.1"));
}

TEST(WinsockLookup, UnknownHostReportsHostNotFound)
{
    Started started;
    Recorder r;
    std::vector<char> buf(MAXGETHOSTSTRUCT);
    WSAAsyncGetHostByName(r.Window, kMsg, "no-such-host.invalid", buf.data(), MAXGETHOSTSTRUCT);
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }, 10000));
    EXPECT_EQ(WSAGETSELECTERROR(r.Got.front().LParam), WSAHOST_NOT_FOUND);
}

TEST(WinsockLookup, CancelledRequestNeverReplies)
{
    Started started;
    Recorder r;
    std::vector<char> buf(MAXGETHOSTSTRUCT, '\x55');
    const HANDLE task = WSAAsyncGetHostByName(r.Window, kMsg, "localhost", buf.data(), MAXGETHOSTSTRUCT);
    EXPECT_EQ(WSACancelAsyncRequest(task), 0);
    PumpFor(300);
    EXPECT_TRUE(r.Got.empty());
    EXPECT_EQ(buf[0], '\x55'); // the buffer was never touched
    EXPECT_EQ(WSACancelAsyncRequest(task), SOCKET_ERROR);
}

TEST(WinsockFaults, AnOverrideReplacesOneCallAndIsUndone)
{
    struct FailingClose : TPosixWinsock {
        int closesocket(SOCKET) override
        {
            WSASetLastError(WSAENOTSOCK);
            return SOCKET_ERROR;
        }
    } faulty;
    Started started;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    {
        TWinsockOverride use(faulty);
        EXPECT_EQ(closesocket(s), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    }
    EXPECT_EQ(closesocket(s), 0);
}

TEST(WinsockSend, MoreFollowsIsKeptAndLeavesWithTheNextPlainSend)
{
    Started started;
    Recorder r;
    Connection c(r);
    EXPECT_EQ(send(c.s, "abc", 3, ext::MSG_MORE), 3);
    EXPECT_EQ(send(c.s, "def", 3, ext::MSG_MORE), 3);
    EXPECT_EQ(RecvSome(c.peer, 6, 100), ""); // kept back
    EXPECT_EQ(send(c.s, "g", 1, 0), 1);
    EXPECT_EQ(RecvSome(c.peer, 7), "abcdefg");
}

TEST(WinsockSend, ASendBehindSentBytesIsNotHeldForTheirAcknowledgement)
{
    Started started;
    Recorder r;
    Connection c(r);
    EXPECT_EQ(send(c.s, "a", 1, 0), 1);
    EXPECT_EQ(send(c.s, "b", 1, 0), 1);
    EXPECT_TRUE(NoDelayOn(SystemSocketOf(c.s))) << "the second send may wait for the first one's acknowledgement";
    EXPECT_EQ(RecvSome(c.peer, 2), "ab");
}

TEST(WinsockSend, KeptBytesLeaveBeforeAReceiveAndBeforeTheClose)
{
    Started started;
    Recorder r;
    Connection c(r);
    EXPECT_EQ(send(c.s, "question", 8, ext::MSG_MORE), 8);
    char buf[4];
    EXPECT_EQ(recv(c.s, buf, sizeof buf, 0), SOCKET_ERROR); // nothing came yet...
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(RecvSome(c.peer, 8), "question"); // ...but the question left
    EXPECT_EQ(send(c.s, "bye", 3, ext::MSG_MORE), 3);
    closesocket(c.s);
    c.s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(RecvAll(c.peer), "bye");
}

TEST(WinsockReceive, ReadAheadServesPeeksAndSmallReceivesInOrder)
{
    Started started;
    Recorder r;
    Connection c(r);
    SendAll(c.peer, "0123456789");
    CloseFd(c.peer);
    c.peer = -1;
    char buf[8] = {};
    PumpUntil([&] { return recv(c.s, buf, 1, MSG_PEEK) == 1; });
    EXPECT_EQ(buf[0], '0');
    EXPECT_EQ(recv(c.s, buf, 4, 0), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(recv(c.s, buf, 8, MSG_PEEK), 6);
    EXPECT_EQ(recv(c.s, buf, 8, 0), 6);
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_TRUE(PumpUntil([&] { return recv(c.s, buf, 8, 0) == 0; })); // then the end
}

TEST(WinsockReceive, ALargeReceiveTakesWhatWasReadAheadThenTheRestPastTheBuffer)
{
    Started started;
    Recorder r;
    Connection c(r);
    std::string sent;
    for (int i = 0; i < 300000; ++i)
        sent.push_back(static_cast<char>(i % 251));
    auto writer = std::async(std::launch::async, [&] {
        SendAll(c.peer, sent);
        ShutdownSending(c.peer);
    });
    std::vector<char> buf(100000);
    ASSERT_TRUE(PumpUntil([&] { return recv(c.s, buf.data(), 1, MSG_PEEK) == 1; })); // read ahead
    std::string got(buf.data(), static_cast<std::size_t>(recv(c.s, buf.data(), 5, 0)));
    int n = 0;
    ASSERT_TRUE(PumpUntil([&] {
        n = recv(c.s, buf.data(), static_cast<int>(buf.size()), 0);
        if (n > 0)
            got.append(buf.data(), static_cast<std::size_t>(n));
        return n == 0; // the end, once, after every byte
    }, 10000));
    writer.get();
    EXPECT_TRUE(got == sent) << got.size();
    EXPECT_EQ(recv(c.s, buf.data(), static_cast<int>(buf.size()), 0), 0);
}

TEST(WinsockReceive, APeekSeesEverythingThatHasArrivedNotJustWhatWasReadAhead)
{
    Started started;
    Recorder r;
    Connection c(r);
    SendAll(c.peer, "abc");
    char buf[16] = {};
    ASSERT_TRUE(PumpUntil([&] { return recv(c.s, buf, 1, MSG_PEEK) == 1; }));
    SendAll(c.peer, "def\n");
    ASSERT_TRUE(PumpUntil([&] { return recv(c.s, buf, sizeof buf, MSG_PEEK) == 7; }));
    EXPECT_EQ(std::string(buf, 7), "abcdef\n");
}
