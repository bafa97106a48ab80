// The client operations against peers that misbehave: what the caller sees
// must be true (result, exception, LastErrorNo, hook calls), and every byte
// counted as sent must reach the peer.
#include "winsock.h"
#include "connected.h"

#include "recorder.h"

#include "helpers.h"
#include "loop.h"
#include "wine.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <future>

using namespace ferro;

using ::testing::Contains;
using ::testing::Not;

namespace {

const std::string kReset = "Unknown Error No. 10054";

// A connected pair whose component records the error hook's calls.
struct WatchedPair : ConnectedPair {
    WatchedPair()
    {
        Link.FErrorHook = [this](TComponent*, std::uint16_t number, const std::string& text) {
            Errors.push_back(std::to_string(number) + " " + text);
        };
    }
    std::vector<std::string> Errors;
};

// Waits until the component's socket has seen the peer's reset.
void AwaitReset(TProbe& link)
{
    PumpUntil([&] {
        char byte;
        return winsock::recv(link.Handle(), &byte, 1, winsock::MSG_PEEK) == winsock::SOCKET_ERROR &&
            winsock::WSAGetLastError() != winsock::WSAEWOULDBLOCK;
    });
}

// Small buffers on both ends, so that a sender finds them full soon.
void ShrinkBuffers(ConnectedPair& pair)
{
    const int size = 8192;
    SetBufferSizes(pair.Peer, 0, size);
    SetBufferSizes(SystemSocketOf(pair.Link.Handle()), size, 0);
}

} // namespace

// --- a reset is an error, not a close -------------------------------------------

TEST(Reset, ReachesEveryReceiveAsAnErrorWithItsNumber)
{
    SKIP_UNDER_WINE("a peer's reset arrives there as an orderly close");
    const std::function<std::string(TProbe&)> receives[] = {
        [](TProbe& l) { return l.Read(4); },
        [](TProbe& l) { return l.Read(0); },
        [](TProbe& l) { return l.ReadLn(); },
    };
    for (const std::string& before : {std::string(), std::string("ab")}) {
        for (const auto& receive : receives) {
            WatchedPair pair;
            SendAll(pair.Peer, before);
            if (!before.empty()) {
                EXPECT_EQ(pair.Link.Read(2), before); // what came before the reset is read first
            }
            ResetFd(pair.Peer);
            pair.Peer = -1;
            AwaitReset(pair.Link);
            EXPECT_EQ(FailureOf([&] { receive(pair.Link); }), kReset);
            EXPECT_EQ(pair.Link.GetLastErrorNo(), 10054);
            EXPECT_EQ(pair.Errors, std::vector<std::string> {"10054 " + kReset});
            // Every later receive meets it too: it is not turned into a close.
            EXPECT_EQ(FailureOf([&] { pair.Link.Read(1); }), kReset);
        }
    }
}

TEST(Reset, AnOrderlyCloseStaysAnOrdinaryEnd)
{
    WatchedPair pair;
    SendAll(pair.Peer, "ab");
    CloseFd(pair.Peer);
    pair.Peer = -1;
    EXPECT_EQ(pair.Link.Read(4), "ab");
    EXPECT_EQ(pair.Link.Read(4), "");
    EXPECT_EQ(pair.Link.ReadLn(), "");
    EXPECT_EQ(pair.Link.GetLastErrorNo(), 0);
    EXPECT_TRUE(pair.Errors.empty());
}

TEST(Reset, WritingAfterItRaisesInsteadOfCountingBytes)
{
    WatchedPair pair;
    ResetFd(pair.Peer);
    pair.Peer = -1;
    AwaitReset(pair.Link);
    EXPECT_EQ(FailureOf([&] { pair.Link.Write("abc"); }), kReset);
    TMemoryStream body = StreamOf(Pattern(600));
    EXPECT_EQ(FailureOf([&] { pair.Link.SendFile(body); }), kReset);
    EXPECT_EQ(pair.Link.BytesRecvd(), 0);
}

// --- counted bytes reach the peer ----------------------------------------------

TEST(SendFileFaults, WhatIsCountedHasLeftWhenTheTransferStopsEarly)
{
    enum class Stop { Cancel, TimeOut, FirstBlock };
    for (Stop stop : {Stop::Cancel, Stop::TimeOut, Stop::FirstBlock}) {
        ConnectedPair pair;
        ShrinkBuffers(pair); // and a reader that does not read: they fill
        const std::string bytes = Pattern(1 << 20);
        TMemoryStream body = StreamOf(bytes);
        int chunks = 0;
        int lastCount = 0;
        pair.Link.OnPacketRecvd = [&](TComponent*) {
            const bool blocked = pair.Link.BytesRecvd() == lastCount;
            lastCount = pair.Link.BytesRecvd();
            if ((stop == Stop::Cancel && ++chunks == 30) || (stop == Stop::FirstBlock && blocked))
                pair.Link.BeenCanceled = true;
        };
        if (stop == Stop::TimeOut)
            pair.Link.TimeOut = 300;
        const std::string failure = FailureOf([&] { pair.Link.SendFile(body); });
        const int counted = pair.Link.BytesRecvd();
        ASSERT_GT(counted, 0);
        ASSERT_LT(counted, static_cast<int>(bytes.size()));
        EXPECT_EQ(failure, stop == Stop::TimeOut ? "Write Timed Out" : "no failure");
        // Exactly the counted bytes are on their way, in order, before
        // anything else is done with the connection...
        const std::string got = RecvSome(pair.Peer, bytes.size(), 1500);
        EXPECT_EQ(got.size(), static_cast<std::size_t>(counted)) << static_cast<int>(stop);
        EXPECT_TRUE(got == bytes.substr(0, got.size())) << static_cast<int>(stop);
        // ...and the close that follows is an orderly end.
        pair.Link.Disconnect();
        char byte;
        EXPECT_EQ(peer::Receive(pair.Peer, &byte, 1), 0) << static_cast<int>(stop);
    }
}

TEST(SendFileFaults, AFullBufferIsWaitedForSilently)
{
    ConnectedPair pair;
    ShrinkBuffers(pair);
    pair.Link.ReportLevel = 16;
    const std::string bytes = Pattern(256 << 10);
    TMemoryStream body = StreamOf(bytes);
    // The reader starts once the sender has found the buffer full.
    std::promise<void> full;
    bool blocked = false;
    int lastCount = 0;
    pair.Link.OnPacketRecvd = [&](TComponent*) {
        if (pair.Link.BytesRecvd() == lastCount && !std::exchange(blocked, true))
            full.set_value();
        lastCount = pair.Link.BytesRecvd();
    };
    auto drained = std::async(std::launch::async, [&, start = full.get_future()] {
        start.wait();
        return RecvSome(pair.Peer, bytes.size(), 20000);
    });
    pair.Link.SendFile(body);
    EXPECT_TRUE(blocked);
    EXPECT_EQ(pair.Link.BytesRecvd(), static_cast<int>(bytes.size()));
    EXPECT_EQ(pair.Link.GetLastErrorNo(), 0);
    EXPECT_THAT(pair.Link.Statuses, Not(Contains("Checking Error In Error Manager")));
    EXPECT_TRUE(drained.get() == bytes);
}

// --- connecting again -----------------------------------------------------------

TEST(ConnectFaults, TheFirstConnectAfterThePeerComesUpSucceeds)
{
    for (int refused : {1, 2}) {
        TProbe link;
        link.Host = "127.0.0.1";
        link.Port = FreePort();
        link.TimeOut = 5000;
        for (int i = 0; i < refused; ++i)
            EXPECT_EQ(FailureOf([&] { link.Connect(); }), "Connection Failed");
        TcpListener peer(8, static_cast<std::uint16_t>(link.Port));
        const auto handle = link.Handle();
        EXPECT_EQ(FailureOf([&] { link.Connect(); }), "no failure") << refused;
        EXPECT_TRUE(link.GetConnected());
        EXPECT_EQ(link.Handle(), handle); // the same handle names the new attempt
        const int accepted = peer.Accept();
        link.Write("hi");
        EXPECT_EQ(RecvSome(accepted, 2), "hi");
        CloseFd(accepted);
    }
}

TEST(ConnectFaults, AStrayCompletionDuringALookupIsNotItsReply)
{
    // A completion left over for the component's window arrives first; the
    // lookup itself starts a moment later, so its host entry is not filled
    // when the stray one comes.
    struct LateLookup : winsock::TPosixWinsock {
        LateLookup() : Relay(AllocateHWnd([this](TMessage& m) { PostMessage(Target, m.Msg, kTask, m.LParam); })) {}
        ~LateLookup() override { DeallocateHWnd(Relay); }
        winsock::HANDLE WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char* name, int family, winsock::ADDRESSLIST* list) override
        {
            Target = window;
            PostMessage(window, msg, 0, winsock::WSAMAKESELECTREPLY(winsock::FD_WRITE, 0));
            Later(100, [=, this, name = std::string(name)] {
                TPosixWinsock::WSAAsyncGetAddrInfo(Relay, msg, name.c_str(), family, list);
            });
            return kTask;
        }
        const winsock::HANDLE kTask = 4242;
        HWND Target = 0;
        HWND Relay;
    } lateLookup;
    TcpListener peer;
    TProbe link;
    link.Host = "localhost";
    link.Port = peer.Port();
    link.TimeOut = 10000;
    int resolved = 0;
    link.FHostResolvedHook = [&](TComponent*) { ++resolved; };
    {
        winsock::TWinsockOverride use(lateLookup);
        EXPECT_EQ(FailureOf([&] { link.Connect(); }), "no failure");
    }
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(link.PeerAddress(), "127.0.0.1:" + std::to_string(peer.Port()));
    CloseFd(peer.Accept());
}
