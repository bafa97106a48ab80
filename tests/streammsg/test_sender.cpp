#include <ferrolink/qbmsg.h>

#include "peers.h"
#include "recorder.h"

#include "helpers.h"
#include "loop.h"
#include "wine.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace ferro;

namespace {

const std::string kOk = "OK              ";

// A plain receiver on its own thread: takes one connection, reads `expected`
// bytes, answers `reply` and returns what it read.
std::future<std::string> CaptureAsync(TcpListener& listener, std::size_t expected, std::string reply = kOk)
{
    return std::async(std::launch::async, [&listener, expected, reply] {
        const int fd = listener.Accept(10000);
        if (fd < 0)
            return std::string("no connection");
        std::string got = RecvSome(fd, expected, 10000);
        SendAll(fd, reply);
        // The sender closes after the reply.
        got += PeerClosed(fd, 10000) ? "" : "<sender did not close>";
        CloseFd(fd);
        return got;
    });
}

struct Sender {
    explicit Sender(std::uint16_t port, std::string name = "Quillbrook")
    {
        Link.Host = "127.0.0.1";
        Link.Port = port;
        Link.FromName = std::move(name);
        Link.TimeOut = 10000;
    }
    TQBStrm Link {nullptr};
};

std::string PostFailure(TQBStrm& link, TStream& s)
{
    try {
        link.PostIt(s);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "posted";
}

} // namespace

TEST(Sender, ANewSenderUsesPort6711AndNoName)
{
    TQBStrm link(nullptr);
    EXPECT_EQ(link.Port, 6711);
    EXPECT_EQ(link.FromName, "");
}

TEST(Sender, WritesTheWireFormatByteForByteAndReturnsTheReply)
{
    TcpListener listener;
    auto wire = CaptureAsync(listener, 23);
    Sender s(listener.Port());
    TMemoryStream body = StreamOf("hello");
    EXPECT_EQ(s.Link.PostIt(body), kOk);
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");
    EXPECT_FALSE(s.Link.GetConnected());
    EXPECT_EQ(body.Position(), 5);
}

struct EncodingCase {
    std::string Name;
    std::size_t BodySize;
    std::string Header;     // what precedes the body
};

TEST(Sender, EncodesTheEdgesOfTheFormat)
{
    const std::string name251(251, 'n');
    const EncodingCase cases[] = {
        {"", 3, "0000   3"},
        {"Quillbrook", 0, "0010Quillbrook   0"},
        {"Q", 9999, "0001Q9999"},
        {name251, 1, "0251" + name251 + "   1"},
    };
    for (const auto& c : cases) {
        TcpListener listener;
        std::string body(c.BodySize, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>(i * 31 + 7);
        auto wire = CaptureAsync(listener, c.Header.size() + body.size());
        Sender s(listener.Port(), c.Name);
        TMemoryStream stream = StreamOf(body);
        EXPECT_EQ(s.Link.PostIt(stream), kOk);
        EXPECT_EQ(wire.get(), c.Header + body) << c.Header.substr(0, 8);
    }
}

TEST(Sender, AStreamPositionedMidwayIsStillSentWhole)
{
    TcpListener listener;
    auto wire = CaptureAsync(listener, 23);
    Sender s(listener.Port());
    TMemoryStream body = StreamOf("hello");
    body.SetPosition(3);
    s.Link.PostIt(body);
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");
    EXPECT_EQ(body.Position(), 5);
}

TEST(Sender, RefusesWhatCannotBeEncodedBeforeConnecting)
{
    TcpListener listener;
    {
        // A body of any size has an encoding (the large form); the name
        // limits stay with it.
        Sender s(listener.Port(), std::string(252, 'n'));
        TMemoryStream big = StreamOf(std::string(10000, 'b'));
        EXPECT_EQ(PostFailure(s.Link, big), "Sender name too long (252 characters, at most 251)");
        EXPECT_EQ(big.Position(), 10000); // untouched
    }
    {
        Sender s(listener.Port(), std::string(252, 'n'));
        TMemoryStream body = StreamOf("x");
        EXPECT_EQ(PostFailure(s.Link, body), "Sender name too long (252 characters, at most 251)");
    }
    {
        Sender s(listener.Port(), std::string("Quill\0brook", 11));
        TMemoryStream body = StreamOf("x");
        EXPECT_EQ(PostFailure(s.Link, body), "Sender name holds a NUL character");
    }
    EXPECT_EQ(listener.Accept(200), -1); // no connection was ever made
}

TEST(Sender, NothingListeningFailsTheConnection)
{
    Sender s(UnusedPort());
    TMemoryStream body = StreamOf("hello");
    EXPECT_EQ(PostFailure(s.Link, body), "Connection Failed");
    EXPECT_EQ(body.Position(), 5); // nothing was read from it
}

TEST(Sender, AListenerThatNeverAcceptsTimesOut)
{
    TcpListener busy(0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i)
        fillers.push_back(ConnectNonBlocking(busy.Port()));
    Sender s(busy.Port());
    s.Link.TimeOut = 300;
    TMemoryStream body = StreamOf("hello");
    EXPECT_EQ(PostFailure(s.Link, body), "Connection Timed Out");
    for (int fd : fillers)
        CloseFd(fd);
}

TEST(Sender, AReceiverThatClosesWithoutAReplyGivesAnEmptyReply)
{
    TcpListener listener;
    auto wire = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        std::string got = RecvSome(fd, 23, 10000);
        CloseFd(fd); // no reply
        return got;
    });
    Sender s(listener.Port());
    TMemoryStream body = StreamOf("hello");
    EXPECT_EQ(s.Link.PostIt(body), "");
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");
}

TEST(Sender, AReceiverThatResetsInsteadOfReplyingFailsThePost)
{
    SKIP_UNDER_WINE("a receiver's reset arrives there as an orderly close");
    TcpListener listener;
    auto wire = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        std::string got = RecvSome(fd, 23, 10000);
        ResetFd(fd);
        return got;
    });
    Sender s(listener.Port());
    TMemoryStream body = StreamOf("hello");
    EXPECT_EQ(PostFailure(s.Link, body), "Unknown Error No. 10054");
    EXPECT_EQ(s.Link.GetLastErrorNo(), 10054);
    EXPECT_FALSE(s.Link.GetConnected());
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");
}

TEST(Sender, AFailedPostResetsTheConnectionSoThatItIsNeverTakenForWhole)
{
    TcpListener listener;
    auto ending = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        const std::string got = RecvSome(fd, 23, 10000);
        const bool reset = ReceiveMeetsReset(fd);
        CloseFd(fd);
        return got.size() == 23 && reset;
    });
    Sender s(listener.Port());
    s.Link.TimeOut = 300; // the reply never comes
    TMemoryStream body = StreamOf("hello");
    EXPECT_EQ(PostFailure(s.Link, body), "Read Timed Out");
    EXPECT_TRUE(ending.get());
}

TEST(Sender, ACancelWhileTheBodyGoesOutFailsTheReplyReadAndCloses)
{
    TcpListener listener;
    auto wire = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        std::string got = RecvAll(fd, 10000); // until the sender closes
        CloseFd(fd);
        return got;
    });
    Sender s(listener.Port());
    s.Link.OnPacketRecvd = [&](TComponent*) { s.Link.BeenCanceled = true; };
    TMemoryStream body = StreamOf(std::string(600, 'c'));
    EXPECT_EQ(PostFailure(s.Link, body), "Read Canceled");
    EXPECT_FALSE(s.Link.GetConnected());
    EXPECT_EQ(wire.get().size(), 14u + 4u + 255u); // header, length, one chunk
}

TEST(Sender, PostsOneMessageAfterAnotherOnOneComponent)
{
    Sender s(0);
    for (const std::string text : {"first", "second"}) {
        TcpListener listener;
        auto wire = CaptureAsync(listener, 18 + text.size());
        s.Link.Port = listener.Port();
        TMemoryStream body = StreamOf(text);
        EXPECT_EQ(s.Link.PostIt(body), kOk);
        EXPECT_EQ(wire.get().substr(18), text);
    }
}

// Qt users destroy a component inside its own handler, or in any handler
// that runs while it waits: the operation under way ends as a cancel and
// touches nothing of the component afterwards (AddressSanitizer's build runs
// this too); a server destroyed in its own service stops listening.
TEST(Destruction, AComponentDestroyedDuringItsOperationEndsItAsACancel)
{
    TcpListener listener;
    struct Case {
        const char* Name;
        std::function<void(TQBStrm*&)> Arm;
    };
    const Case cases[] = {
        {"OnPacketRecvd", [](TQBStrm*& s) { s->OnPacketRecvd = [&s](TComponent*) { delete std::exchange(s, nullptr); }; }},
        {"OnStatus", [](TQBStrm*& s) {
             s->ReportLevel = 2;
             s->OnStatus = [&s](TComponent*, const std::string& text) {
                 if (text == "Send File")
                     delete std::exchange(s, nullptr);
             };
         }},
        {"a timer during the wait for the reply", [](TQBStrm*& s) {
             s->OnPacketRecvd = [&s](TComponent*) {
                 if (s->BytesRecvd() == s->BytesTotal())
                     Later(20, [&s] { delete std::exchange(s, nullptr); });
             };
         }},
    };
    std::string unseen; // what wine could not show
    for (const Case& c : cases) {
        auto* sender = new TQBStrm(nullptr);
        sender->Host = "127.0.0.1";
        sender->Port = listener.Port();
        sender->TimeOut = 5000;
        c.Arm(sender);
        TMemoryStream body = StreamOf(Pattern(1000));
        EXPECT_EQ(PostFailure(*sender, body), "Operation Canceled: Component Destroyed") << c.Name;
        EXPECT_EQ(sender, nullptr) << c.Name;
        delete sender;
        // Never a whole message with an orderly end: what came is cut, or reset.
        const int peer = listener.Accept(2000);
        const std::size_t got = RecvSome(peer, 8 + 1000, 2000).size();
        const bool reset = ReceiveMeetsReset(peer);
        if (got == 8 + 1000 && !reset && RunsUnderWine())
            unseen = std::string("the reset after a whole message (") + c.Name + ") arrives there as an orderly close";
        else
            EXPECT_TRUE(got < 8 + 1000 || reset) << c.Name;
        CloseFd(peer);
    }

    const std::uint16_t port = FreePort();
    auto* server = new TQBStrmServ(nullptr);
    server->Port = port;
    server->OnMSG = [&](TComponent*, const std::string&, TStream&) { delete std::exchange(server, nullptr); };
    server->Loaded();
    auto reply = ExchangeAsync(port, {"0003abc   3bye"});
    EXPECT_TRUE(PumpUntil([&] { return server == nullptr; }, 5000));
    EXPECT_EQ(reply.get(), kOk); // answered before the handler
    EXPECT_FALSE(ListensOn(port));
    EXPECT_TRUE(TakeRecordedExceptions().empty());
    if (!unseen.empty())
        GTEST_SKIP() << "under wine, which cannot show it: " << unseen;
}
