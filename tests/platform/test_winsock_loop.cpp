// Two sockets of ours, a listener's connection and a client, through the
// notification rules on this platform's event loop (Qt's, or the Win32
// message loop with the system's WSAAsyncSelect): the same test natively
// and under wine.
#include "winsock.h"

#include "recorder.h"
#include "system_socket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace ferro;
using namespace winsock;

namespace {

constexpr unsigned kLoopMsg = WM_USER + 9;

struct TNotes {
    TNotes() : Window(AllocateHWnd([this](TMessage& m) { Got.push_back(m); })) {}
    ~TNotes() { DeallocateHWnd(Window); }
    // The events told for `s`, and their errors, in order.
    std::vector<int> Of(SOCKET s, int* lastError = nullptr) const
    {
        std::vector<int> events;
        for (const TMessage& m : Got)
            if (m.WParam == s) {
                events.push_back(WSAGETSELECTEVENT(m.LParam));
                if (lastError)
                    *lastError = WSAGETSELECTERROR(m.LParam);
            }
        return events;
    }
    HWND Window;
    std::vector<TMessage> Got;
};

// A loopback address on a port nothing uses now.
sockaddr_in FreeLoopback()
{
    const int probe = sys::OpenStream(sys::kInet4);
    sys::TEndpoint at;
    sys::ParseIp("127.0.0.1", at);
    sys::Bind(probe, at);
    sys::LocalAddress(probe, at);
    sys::Close(probe);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    std::memcpy(&a.sin_port, at.Port, 2);
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
}

} // namespace

TEST(WinsockLoop, TwoOfOurSocketsConnectExchangeAndCloseByTheirNotifications)
{
    WSADATA data {};
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    TNotes notes;
    const sockaddr_in at = FreeLoopback();
    const SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(bind(l, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(l, 4), 0);
    ASSERT_EQ(WSAAsyncSelect(l, notes.Window, kLoopMsg, FD_ACCEPT), 0);
    const SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(WSAAsyncSelect(c, notes.Window, kLoopMsg, FD_CONNECT | FD_READ | FD_CLOSE), 0);
    if (connect(c, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    int connectError = -1;
    ASSERT_TRUE(PumpUntil([&] { return !notes.Of(l).empty() && !notes.Of(c, &connectError).empty(); }));
    EXPECT_EQ(notes.Of(l), std::vector<int> {FD_ACCEPT});
    EXPECT_EQ(notes.Of(c), std::vector<int> {FD_CONNECT});
    EXPECT_EQ(connectError, 0);
    const SOCKET a = accept(l, nullptr, nullptr);
    ASSERT_NE(a, INVALID_SOCKET);

    // One FD_READ for the bytes that came; the wait for a readable socket
    // ends when they are there.
    ASSERT_EQ(send(a, "ping", 4, 0), 4);
    char got[8] = {};
    for (int waits = 0; waits < 200 && recv(c, got, 4, MSG_PEEK) != 4; ++waits)
        ext::AwaitReadableOrMessages(c);
    EXPECT_TRUE(PumpUntil([&] { return notes.Of(c).size() == 2; }));
    EXPECT_EQ(notes.Of(c), (std::vector<int> {FD_CONNECT, FD_READ}));
    ASSERT_EQ(recv(c, got, sizeof got, 0), 4);
    EXPECT_EQ(std::string(got, 4), "ping");

    // The peer's end: FD_CLOSE without an error, then recv tells the end.
    ASSERT_EQ(closesocket(a), 0);
    int closeError = -1;
    ASSERT_TRUE(PumpUntil([&] { return notes.Of(c, &closeError).size() == 3; }));
    EXPECT_EQ(notes.Of(c).back(), FD_CLOSE);
    EXPECT_EQ(closeError, 0);
    EXPECT_EQ(recv(c, got, sizeof got, 0), 0);
    closesocket(c);
    closesocket(l);
    WSACleanup();
}
