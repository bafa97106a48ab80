#include "winsock.h"
#include "connected.h"

#include "recorder.h"
#include "loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <gmock/gmock.h>

#include <cstring>

using namespace ferro;

using namespace winsock;
using ::testing::ElementsAre;

namespace {

int Count(const std::vector<std::string>& v, const std::string& s)
{
    return static_cast<int>(std::count(v.begin(), v.end(), s));
}

} // namespace

TEST(Connect, ADottedAddressConnectsWithoutLookup)
{
    TcpListener listener;
    TProbe link;
    link.ReportLevel = 8;
    bool resolved = false;
    link.FHostResolvedHook = [&](TComponent*) { resolved = true; };
    link.Host = "127.0.0.1";
    link.Port = listener.Port();
    link.Connect();
    EXPECT_TRUE(link.GetConnected());
    EXPECT_FALSE(resolved);
    EXPECT_EQ(Count(link.Statuses, "Timer On"), 1);
    EXPECT_EQ(Count(link.Statuses, "Timer Off"), 1);
    const int peer = listener.Accept();
    EXPECT_GE(peer, 0);
    CloseFd(peer);
}

TEST(Connect, StatusTextsFollowTheReportLevel)
{
    const std::vector<std::vector<std::string>> expected = {
        {},
        {"Connecting", "Disconnecting"},
        {"Connecting", "Disconnecting", "Request Close Socket"},
    };
    const int levels[] = {1, 2, 4};
    for (int i = 0; i < 3; ++i) {
        TcpListener listener;
        TProbe link;
        link.ReportLevel = levels[i];
        link.Host = "127.0.0.1";
        link.Port = listener.Port();
        link.Connect();
        link.Disconnect();
        EXPECT_EQ(link.Statuses, expected[i]) << "level " << levels[i];
        EXPECT_EQ(link.Status(), expected[i].empty() ? "" : expected[i].back());
    }
}

TEST(Connect, StatusReadsConnectingDuringTheWait)
{
    UnansweringListener busy;
    TProbe link;
    link.ReportLevel = 2;
    link.TimeOut = 300;
    link.Host = "127.0.0.1";
    link.Port = busy.Listener.Port();
    std::string duringWait;
    Later(50, [&] { duringWait = link.Status(); });
    EXPECT_EQ(ConnectFailure(link), "Connection Timed Out");
    EXPECT_EQ(duringWait, "Connecting");
}

TEST(Connect, ARefusedConnectionFailsWithoutTouchingLastErrorNo)
{
    TProbe link;
    link.SetLastErrorNo(7);
    link.Host = "127.0.0.1";
    link.Port = UnusedPort();
    const auto handle = link.Handle();
    EXPECT_EQ(ConnectFailure(link), "Connection Failed");
    EXPECT_FALSE(link.GetConnected());
    EXPECT_EQ(link.GetLastErrorNo(), 7);
    EXPECT_EQ(link.Handle(), handle); // not replaced
}

TEST(Connect, TimesOutAgainstAListenerThatNeverAnswers)
{
    UnansweringListener busy;
    TProbe link;
    link.TimeOut = 300;
    link.Host = "127.0.0.1";
    link.Port = busy.Listener.Port();
    EXPECT_EQ(ConnectFailure(link), "Connection Timed Out");
    EXPECT_FALSE(link.GetConnected());
    EXPECT_TRUE(link.BeenTimedOut());
}

TEST(Connect, ACancelSetByAHandlerDuringTheWaitEndsIt)
{
    UnansweringListener busy;
    TProbe link;
    link.Host = "127.0.0.1";
    link.Port = busy.Listener.Port();
    const auto handle = link.Handle();
    Later(50, [&] { link.BeenCanceled = true; });
    EXPECT_EQ(ConnectFailure(link), "Connection Canceled");
    EXPECT_FALSE(link.GetConnected());
    EXPECT_EQ(link.Handle(), handle);
}

TEST(Connect, ACancelSetBeforeConnectHasNoEffect)
{
    TcpListener listener;
    TProbe link;
    link.Host = "127.0.0.1";
    link.Port = listener.Port();
    link.BeenCanceled = true;
    link.Connect();
    EXPECT_TRUE(link.GetConnected());
    EXPECT_FALSE(link.BeenCanceled);
}

TEST(Connect, AlreadyConnectedLeavesTheConnectionUntouched)
{
    ConnectedPair pair;
    pair.Link.BeenCanceled = true;
    EXPECT_EQ(ConnectFailure(pair.Link), "Already connected");
    EXPECT_FALSE(pair.Link.BeenCanceled); // cleared first of all
    EXPECT_TRUE(pair.Link.GetConnected());
    pair.Link.Write("still here");
    EXPECT_EQ(RecvSome(pair.Peer, 10), "still here");
}

TEST(Connect, NullAddressIsRefusedWithoutTraffic)
{
    TProbe link;
    link.ReportLevel = 8;
    link.Host = "0.0.0.0";
    link.Port = 1;
    link.BeenCanceled = true;
    EXPECT_EQ(ConnectFailure(link), "Null Remote Address");
    EXPECT_FALSE(link.BeenCanceled);
    EXPECT_TRUE(link.Statuses.empty()); // no wait, no timer, nothing sent
}

TEST(Connect, APortOutsideSixteenBitsIsARangeErrorBeforeAnyTraffic)
{
    TcpListener listener;
    for (std::int32_t port : {65536 + listener.Port(), -1}) {
        TProbe link;
        link.Host = "127.0.0.1";
        link.Port = port;
        EXPECT_THROW(link.Connect(), ERangeError) << port;
        EXPECT_EQ(listener.Accept(100), -1) << port; // the port it once wrapped to
    }
}

// A Connect that gave up must not complete later: when the first destination
// answers late, the next Connect still goes where it is told, and the first
// destination never gets a connection of ours.
TEST(Connect, AnAttemptGivenUpNeverCompletesLater)
{
    for (const bool cancel : {false, true}) {
        UnansweringListener late;
        TcpListener other;
        TProbe link;
        link.Host = "127.0.0.1";
        link.Port = late.Listener.Port();
        if (cancel)
            Later(50, [&] { link.BeenCanceled = true; });
        else
            link.TimeOut = 100;
        EXPECT_EQ(ConnectFailure(link), cancel ? "Connection Canceled" : "Connection Timed Out");
        // The first destination makes room: an attempt still going would be answered now.
        std::vector<int> taken;
        for (int fd; (fd = late.Listener.Accept(200)) >= 0;)
            taken.push_back(fd);
        link.TimeOut = 5000;
        link.Port = other.Port();
        EXPECT_EQ(ConnectFailure(link), "connected") << cancel;
        link.Write("second");
        const int peer = other.Accept(2000);
        EXPECT_EQ(RecvSome(peer, 6, 2000), "second") << cancel;
        CloseFd(peer);
        std::string onLate;
        for (int fd; (fd = late.Listener.Accept(1500)) >= 0;)
            taken.push_back(fd);
        for (int fd : taken) {
            onLate += RecvSome(fd, 6, 50);
            CloseFd(fd);
        }
        EXPECT_EQ(onLate, "") << cancel;
    }
}

TEST(Connect, AHostNameIsLookedUpThenConnected)
{
    TcpListener listener;
    TProbe link;
    link.ReportLevel = 8;
    int resolved = 0;
    link.FHostResolvedHook = [&](TComponent* sender) {
        EXPECT_EQ(sender, &link);
        ++resolved;
    };
    link.Host = "localhost";
    link.Port = listener.Port();
    link.TimeOut = 10000;
    link.Connect();
    EXPECT_TRUE(link.GetConnected());
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(link.PeerAddress(), "127.0.0.1:" + std::to_string(listener.Port()));
    // One timer around the lookup, one around each attempt ("localhost" may
    // be ::1 first, which the IPv4 listener refuses).
    const int attempts = std::max(1, static_cast<int>(std::count_if(link.Statuses.begin(), link.Statuses.end(),
                                                                    [](const std::string& s) { return s.rfind("Trying ", 0) == 0; })));
    EXPECT_EQ(Count(link.Statuses, "Timer On"), 1 + attempts);
    EXPECT_EQ(Count(link.Statuses, "Timer Off"), 1 + attempts);
}

TEST(Connect, ANameThatDoesNotResolveFailsTheLookup)
{
    TProbe link;
    link.Host = "no-such-host.invalid";
    link.Port = 1;
    link.TimeOut = 10000;
    EXPECT_EQ(ConnectFailure(link), "Host Lookup Failed");
    EXPECT_EQ(link.PeerAddress(), "");
    EXPECT_FALSE(link.GetConnected());
}

TEST(Connect, TheBroadcastAddressIsLookedUpLikeAName)
{
    TProbe link;
    bool resolved = false;
    link.FHostResolvedHook = [&](TComponent*) { resolved = true; };
    link.Host = "255.255.255.255";
    link.Port = 1;
    link.TimeOut = 3000;
    try {
        link.Connect();
    } catch (const ESockError&) {
        // Whether broadcast can be connected to is the platform's business.
    }
    EXPECT_TRUE(resolved);
}

// A name is looked up whole, however long a name can be; what cannot be a
// host is refused before anything is looked up or connected, never cut, and
// never read as the address it begins with.
TEST(Connect, WhatCannotBeAHostIsRefusedBeforeAnyLookup)
{
    struct AskedLookup : TPosixWinsock {
        HANDLE WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char* name, int family, ADDRESSLIST* list) override
        {
            Asked.push_back(name);
            return TPosixWinsock::WSAAsyncGetAddrInfo(window, msg, name, family, list);
        }
        std::vector<std::string> Asked;
    } lookup;
    TWinsockOverride use(lookup);
    std::string longest; // 253 characters: the longest name there is
    while (longest.size() < 240)
        longest += "abcdefghi.";
    longest += "invalid.examp";
    ASSERT_EQ(longest.size(), 253u);
    struct Case {
        std::string Host;
        const char* Failure;
    };
    const Case cases[] = {
        {longest, "Host Lookup Failed"},
        {longest + ".", "Host Lookup Failed"},
        {longest + "abcdefg", "Invalid Host Name (260 characters, at most 253)"},
        {"127.0.0.1 evil.example", "Invalid Host Name (a blank at character 10)"},
        {"localhost\nevil", "Invalid Host Name (the byte 0x0A at character 10)"},
        {"local/host", "Invalid Host Name ('/' at character 6)"},
        {std::string(64, 'a') + ".invalid", "Invalid Host Name (a label of more than 63 characters)"},
    };
    TcpListener listener;
    for (const Case& c : cases) {
        lookup.Asked.clear();
        TProbe link;
        link.Host = c.Host;
        link.Port = listener.Port();
        link.TimeOut = 10000;
        EXPECT_EQ(ConnectFailure(link), c.Failure) << c.Host;
        const bool looked = c.Failure == std::string("Host Lookup Failed");
        EXPECT_EQ(lookup.Asked, looked ? std::vector<std::string> {c.Host} : std::vector<std::string> {}) << c.Host;
    }
    EXPECT_EQ(listener.Accept(100), -1); // nothing was connected
}

TEST(Connect, ALookupCancelledByAHandlerEndsTheWait)
{
    // The lookup's reply is held back by a stand-in that never answers.
    struct SilentLookup : TPosixWinsock {
        HANDLE WSAAsyncGetAddrInfo(HWND, unsigned, const char*, int, ADDRESSLIST*) override { return 4242; }
        int WSACancelAsyncRequest(HANDLE task) override
        {
            Cancelled = task;
            return 0;
        }
        HANDLE Cancelled = 0;
    } lookup;
    TWinsockOverride use(lookup);
    TProbe link;
    link.Host = "somewhere";
    Later(30, [&] { link.BeenCanceled = true; });
    EXPECT_EQ(ConnectFailure(link), "Host Lookup Canceled");
    EXPECT_EQ(lookup.Cancelled, 4242u); // a late reply can never end a later wait
    link.TimeOut = 50;
    EXPECT_EQ(ConnectFailure(link), "Host Lookup Timed Out");
}

namespace {

// A name whose addresses are 127.0.0.1 and 127.0.0.2, in that order.
struct TwoAddresses : TPosixWinsock {
    HANDLE WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char*, int, ADDRESSLIST* list) override
    {
        list->Count = 2;
        for (int i = 0; i < 2; ++i) {
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = inet_addr(i == 0 ? "127.0.0.1" : "127.0.0.2");
            list->Address[i] = {};
            std::memcpy(&list->Address[i], &a, sizeof a);
        }
        PostMessage(window, msg, 78, WSAMAKESELECTREPLY(2, 0));
        return 78;
    }
};

} // namespace

// The first address never answers (a listener whose backlog is full): it
// gets its share of the time-out, and the second connects within the rest.
TEST(Connect, AnAddressThatNeverAnswersGetsItsShareOfTheTimeOutThenTheNextIsTried)
{
    UnansweringListener dead; // 127.0.0.1
    const std::uint16_t port = dead.Listener.Port();
    TwoAddresses lookup;
    TWinsockOverride use(lookup);
    TProbe link;
    link.Host = "two.example";
    link.Port = port;
    link.TimeOut = 1500;
    link.ReportLevel = 4;
    // Nothing on 127.0.0.2 yet: the failure is the last address's, a refusal.
    EXPECT_EQ(ConnectFailure(link), "Connection Failed");
    EXPECT_EQ(link.FailureCause(), 10061);
    const std::string first = "Trying 127.0.0.1:" + std::to_string(port), second = "Trying 127.0.0.2:" + std::to_string(port);
    EXPECT_EQ(Count(link.Statuses, first), 1);
    EXPECT_EQ(Count(link.Statuses, second), 1);
    const int alive = ListenOnAddress("127.0.0.2", port);
    ASSERT_GE(alive, 0);
    link.Statuses.clear();
    EXPECT_EQ(ConnectFailure(link), "connected");
    EXPECT_EQ(link.PeerAddress(), "127.0.0.2:" + std::to_string(port));
    EXPECT_EQ(Count(link.Statuses, first), 1);
    link.Disconnect();
    CloseFd(alive);
}

TEST(Connect, ALookupReplyOfThirtyTwoBytesIsNoClose)
{
    TProbe link;
    int disconnects = 0;
    link.OnDisconnect = [&](TComponent*) { ++disconnects; };
    struct Reply32 : TPosixWinsock {
        HANDLE WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char*, int, ADDRESSLIST* list) override
        {
            sockaddr_in loopback {};
            loopback.sin_family = AF_INET;
            loopback.sin_addr.s_addr = 0x0100007F;
            list->Count = 1;
            list->Address[0] = {};
            std::memcpy(&list->Address[0], &loopback, sizeof loopback);
            PostMessage(window, msg, 77, WSAMAKESELECTREPLY(FD_CLOSE, 0)); // a reply whose code is 32
            return 77;
        }
    } lookup;
    TcpListener listener;
    TWinsockOverride use(lookup);
    link.Host = "my-host";
    link.Port = listener.Port();
    link.Connect();
    EXPECT_TRUE(link.GetConnected());
    EXPECT_EQ(disconnects, 0);
}

TEST(Disconnect, OnAnUnconnectedComponentStillRenewsTheSocket)
{
    TProbe link;
    link.ReportLevel = 2;
    int disconnects = 0;
    link.OnDisconnect = [&](TComponent*) { ++disconnects; };
    link.Disconnect();
    EXPECT_EQ(link.Status(), "Disconnecting");
    EXPECT_EQ(disconnects, 0);
    EXPECT_TRUE(HandleIsOpen(link.Handle()));
}

TEST(Disconnect, ClosesTheConnectionSoThePeerSeesTheEnd)
{
    ConnectedPair pair;
    pair.Link.Disconnect();
    EXPECT_FALSE(pair.Link.GetConnected());
    EXPECT_TRUE(PeerClosed(pair.Peer));
}
