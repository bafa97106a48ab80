// The system seam as the layers above use it, over real loopback sockets:
// the same tests on every platform's unit (POSIX sockets, Windows' ws2_32
// under wine), so that each behaves as the one the transport was written for.
#include "system_socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace ferro;

namespace {

sys::TEndpoint Loopback(int family, const sys::TEndpoint* portOf = nullptr)
{
    sys::TEndpoint at;
    EXPECT_TRUE(sys::ParseIp(family == sys::kInet6 ? "::1" : "127.0.0.1", at));
    if (portOf)
        std::memcpy(at.Port, portOf->Port, 2);
    return at;
}

// A listening socket on the loopback address of `family`, and its endpoint.
struct TListening {
    explicit TListening(int family) : Fd(sys::OpenStream(family))
    {
        const sys::TEndpoint any = Loopback(family);
        EXPECT_EQ(sys::Bind(Fd, any), 0);
        EXPECT_EQ(sys::Listen(Fd, 4), 0);
        EXPECT_EQ(sys::LocalAddress(Fd, At), 0);
    }
    ~TListening() { sys::Close(Fd); }
    int Fd;
    sys::TEndpoint At;
};

std::string Received(int fd, int flags)
{
    char bytes[64] = {};
    const long n = sys::Receive(fd, bytes, sizeof bytes, flags);
    return n < 0 ? "error " + std::to_string(-n) : std::string(bytes, static_cast<std::size_t>(n));
}

} // namespace

TEST(SystemSocket, ConnectsSendsPeeksAndReceivesInBothFamilies)
{
    for (const int family : {sys::kInet4, sys::kInet6}) {
        SCOPED_TRACE(family);
        TListening server(family);
        ASSERT_GE(server.Fd, 0);
        const int client = sys::OpenStream(family);
        ASSERT_EQ(sys::Connect(client, server.At), 0);
        sys::TEndpoint from;
        const int taken = sys::Accept(server.Fd, from);
        ASSERT_GE(taken, 0);
        sys::TEndpoint local;
        ASSERT_EQ(sys::LocalAddress(client, local), 0);
        EXPECT_EQ(sys::IpText(from), family == sys::kInet6 ? "::1" : "127.0.0.1");
        EXPECT_EQ(std::memcmp(from.Port, local.Port, 2), 0) << "the peer's port is the client's own";
        sys::TEndpoint peer;
        ASSERT_EQ(sys::PeerAddress(client, peer), 0);
        EXPECT_EQ(std::memcmp(peer.Port, server.At.Port, 2), 0);

        EXPECT_EQ(sys::Receive(taken, nullptr, 0, sys::kDontWait), -EAGAIN) << "nothing there yet";
        const sys::TPiece pieces[2] = {{"hel", 3}, {"lo", 2}};
        EXPECT_EQ(sys::SendGathered(client, pieces, 2, 0), 5);
        EXPECT_EQ(sys::Poll(taken, sys::kReadable, 5000), sys::kReadable);
        EXPECT_EQ(sys::Poll(taken, sys::kReadable | sys::kWritable, 0), sys::kReadable | sys::kWritable);
        EXPECT_EQ(Received(taken, sys::kPeek), "hello");
        EXPECT_EQ(Received(taken, 0), "hello") << "a peek leaves the bytes";
        EXPECT_EQ(sys::ShutdownSending(client), 0);
        EXPECT_EQ(Received(taken, 0), "") << "the end of the stream";
        EXPECT_EQ(sys::Send(taken, "back", 4, sys::kDontWait), 4);
        EXPECT_EQ(Received(client, 0), "back");
        sys::Close(taken);
        sys::Close(client);
    }
}

TEST(SystemSocket, WaitLimitsEndAWaitThatFindsNothingAndARefusalIsTold)
{
    sys::TEndpoint gone;
    {
        TListening server(sys::kInet4);
        gone = server.At;
        const int client = sys::OpenStream(sys::kInet4);
        ASSERT_EQ(sys::Connect(client, server.At), 0);
        sys::TEndpoint from;
        const int taken = sys::Accept(server.Fd, from);
        ASSERT_GE(taken, 0);
        ASSERT_EQ(sys::SetWaitLimits(taken, 20000), 0);
        char byte;
        const long n = sys::Receive(taken, &byte, 1, 0);
        EXPECT_TRUE(sys::NothingYet(n)) << n;
        EXPECT_EQ(sys::SetWaitLimits(server.Fd, 20000), 0);
        EXPECT_TRUE(sys::NothingYet(sys::Accept(server.Fd, from))) << "no second connection came";
        EXPECT_EQ(sys::Poll(server.Fd, sys::kReadable, 0), 0);
        sys::Close(taken);
        sys::Close(client);
    }
    // Refused: the port is free once its listener is gone. The socket
    // cannot try again; under its number a fresh one can.
    const int again = sys::OpenStream(sys::kInet4);
    EXPECT_EQ(sys::Connect(again, gone), -ECONNREFUSED);
    EXPECT_EQ(sys::ReplaceStream(again, sys::kInet4), 0);
    TListening fresh(sys::kInet4);
    EXPECT_EQ(sys::Connect(again, fresh.At), 0) << "a fresh socket under the same number";
    sys::Close(again);
}

TEST(SystemSocket, AddressesAreReadAndWrittenAsPeopleWriteThem)
{
    sys::TEndpoint v4, v6, none;
    ASSERT_TRUE(sys::ParseIp("192.0.2.1", v4));
    EXPECT_EQ(v4.Family, sys::kInet4);
    EXPECT_EQ(std::memcmp(v4.Ip, "\xC0\x00\x02\x01", 4), 0);
    ASSERT_TRUE(sys::ParseIp("2001:db8::1", v6));
    EXPECT_EQ(v6.Family, sys::kInet6);
    EXPECT_EQ(sys::IpText(v6), "2001:db8::1");
    EXPECT_EQ(sys::IpText(v4), "192.0.2.1");
    EXPECT_FALSE(sys::ParseIp("192.0.2", none));
    EXPECT_FALSE(sys::ParseIp("host.example", none));
    const std::uint32_t classic = sys::InetAddr("127.1"); // fewer parts, as inet_addr reads them
    EXPECT_EQ(std::memcmp(&classic, "\x7F\x00\x00\x01", 4), 0);
    EXPECT_EQ(sys::InetAddr("300.1.1.1"), 0xFFFFFFFFu);

    const sys::TFound numeric = sys::LookUp("127.0.0.1", 0, false, 8);
    ASSERT_EQ(numeric.Error, sys::TLookupError::None);
    ASSERT_EQ(numeric.Endpoints.size(), 1u);
    EXPECT_EQ(sys::IpText(numeric.Endpoints[0]), "127.0.0.1");
    EXPECT_NE(sys::LookUp("no-such-host.invalid", 0, false, 8).Error, sys::TLookupError::None);
}
