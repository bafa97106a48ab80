#include "winsock.h"
#include "connected.h"

#include "recorder.h"

#include "helpers.h"
#include "loop.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>

using namespace ferro;

using namespace winsock;
using ::testing::ElementsAre;

namespace {

// Records the lengths asked of send and recv (peeks apart), passing the
// calls through; `MaxSend` makes every send a short one.
struct RecordingWinsock : TPosixWinsock {
    int send(SOCKET s, const char* buf, int len, int flags) override
    {
        Sends.push_back(len);
        return TPosixWinsock::send(s, buf, std::min(len, MaxSend), flags);
    }
    int recv(SOCKET s, char* buf, int len, int flags) override
    {
        if (!(flags & MSG_PEEK))
            Recvs.push_back(len);
        if (FailRecv && !(flags & MSG_PEEK)) {
            WSASetLastError(WSAECONNRESET);
            return SOCKET_ERROR;
        }
        return TPosixWinsock::recv(s, buf, len, flags);
    }
    int MaxSend = 1 << 30;
    bool FailRecv = false;
    std::vector<int> Sends;
    std::vector<int> Recvs;
};

} // namespace

// --- writing -----------------------------------------------------------------

TEST(Write, SendsExactlyTheTextWithTheStatusTextsInOrder)
{
    ConnectedPair pair;
    pair.Link.ReportLevel = 8;
    pair.Link.Write("ABC");
    EXPECT_THAT(pair.Link.Statuses, ElementsAre("Write", "Sending Buffer", "Timer On", "Timer Off"));
    pair.Link.Disconnect();
    EXPECT_EQ(RecvAll(pair.Peer), "ABC");
}

TEST(WriteLn, AddsCarriageReturnAndLineFeedWithinTwoHundredFiftyFiveBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"HELO", "HELO\r\n"},
        {std::string(254, 'x'), std::string(254, 'x') + "\r"},
        {std::string(255, 'x'), std::string(255, 'x')},
    };
    for (const auto& [text, wire] : cases) {
        ConnectedPair pair;
        pair.Link.WriteLn(text);
        pair.Link.Disconnect();
        EXPECT_EQ(RecvAll(pair.Peer), wire) << text.size() << " characters";
    }
}

TEST(Write, ATextOneCallCannotCarryIsRefusedBeforeAnythingIsSent)
{
    const std::function<void(TFerrolink&, const std::string&)> writes[] = {
        [](TFerrolink& l, const std::string& t) { l.Write(t); },
        [](TFerrolink& l, const std::string& t) { l.WriteLn(t); },
    };
    for (const auto& write : writes) {
        for (std::size_t length : {256u, 300u}) {
            ConnectedPair pair;
            EXPECT_EQ(FailureOf([&] { write(pair.Link, std::string(length, 'x')); }),
                      "Text Too Long (" + std::to_string(length) + " bytes, at most 255)");
            // The text up to a NUL is what counts: this one fits.
            write(pair.Link, "short" + std::string(1, '\0') + std::string(300, 'y'));
            pair.Link.Disconnect();
            EXPECT_EQ(RecvAll(pair.Peer).substr(0, 5), "short");
        }
    }
}

TEST(Write, AShortSendIsOfferedAgainAfterTheNextWait)
{
    ConnectedPair pair;
    RecordingWinsock shortSends;
    shortSends.MaxSend = 2;
    TWinsockOverride use(shortSends);
    pair.Link.Write("ABCDEFG");
    EXPECT_THAT(shortSends.Sends, ElementsAre(7, 5, 3, 1));
    EXPECT_EQ(RecvSome(pair.Peer, 7), "ABCDEFG");
}

TEST(Write, ACancelLeftSetFailsBeforeAnyByteIsSent)
{
    ConnectedPair pair;
    pair.Link.BeenCanceled = true;
    EXPECT_EQ(FailureOf([&] { pair.Link.Write("x"); }), "Write Canceled");
    EXPECT_EQ(FailureOf([&] { pair.Link.WriteLn("x"); }), "Write Canceled");
    TMemoryStream body;
    body.WriteBuffer("abc", 3);
    EXPECT_EQ(FailureOf([&] { pair.Link.SendFile(body); }), "Write Canceled");
    pair.Link.Disconnect();
    EXPECT_EQ(RecvAll(pair.Peer), "");
}

TEST(SendBuffer, RefusesLengthsBeyondItsTextOrAShortString)
{
    ConnectedPair pair;
    RecordingWinsock recorder;
    TWinsockOverride use(recorder);
    EXPECT_EQ(FailureOf([&] { pair.Link.SendBuffer("abc", 4); }), "Send Buffer Beyond Its Text (4, text holds 3)");
    const std::string big(300, 'y');
    EXPECT_EQ(FailureOf([&] { pair.Link.SendBuffer(big.c_str(), 0); }), "Send Buffer Too Long (300, at most 255 bytes)");
    EXPECT_EQ(FailureOf([&] { pair.Link.SendBuffer(big.c_str(), 256); }), "Send Buffer Too Long (256, at most 255 bytes)");
    EXPECT_TRUE(recorder.Sends.empty());
    pair.Link.SendBuffer("abcdef", 3);
    EXPECT_EQ(RecvSome(pair.Peer, 3), "abc");
}

// --- whole streams -------------------------------------------------------------

TEST(SendFile, SendsInChunksOfTwoHundredFiftyFiveWithProgress)
{
    for (int size : {600, 255, 0}) {
        ConnectedPair pair;
        TMemoryStream body;
        std::string bytes;
        for (int i = 0; i < size; ++i)
            bytes += static_cast<char>(i * 7);
        body.WriteBuffer(bytes.data(), size);
        std::vector<int> progress;
        pair.Link.OnPacketRecvd = [&](TComponent* sender) {
            EXPECT_EQ(sender, &pair.Link);
            EXPECT_EQ(pair.Link.BytesTotal(), size);
            progress.push_back(pair.Link.BytesRecvd());
        };
        RecordingWinsock recorder;
        {
            TWinsockOverride use(recorder);
            pair.Link.SendFile(body);
        }
        const std::vector<int> expected = size == 600 ? std::vector<int> {255, 510, 600}
            : size == 255                           ? std::vector<int> {255}
                                                    : std::vector<int> {0};
        EXPECT_EQ(progress, expected) << size;
        const std::vector<int> chunks = size == 600 ? std::vector<int> {255, 255, 90}
            : size == 255                         ? std::vector<int> {255}
                                                  : std::vector<int> {0};
        EXPECT_EQ(recorder.Sends, chunks) << size;
        EXPECT_EQ(pair.Link.BytesSent(), 0);
        EXPECT_EQ(body.Position(), size);
        pair.Link.Disconnect();
        EXPECT_EQ(RecvAll(pair.Peer), bytes);
    }
}

TEST(SendFile, StartsFromTheFirstByteWhateverThePosition)
{
    ConnectedPair pair;
    TMemoryStream body;
    body.WriteBuffer("0123456789", 10);
    body.SetPosition(5);
    pair.Link.SendFile(body);
    EXPECT_EQ(RecvSome(pair.Peer, 10), "0123456789");
}

TEST(SendFile, AShortSendShiftsTheChunksAndLosesNothing)
{
    ConnectedPair pair;
    RecordingWinsock shortSends;
    shortSends.MaxSend = 200;
    TWinsockOverride use(shortSends);
    TMemoryStream body;
    std::string bytes(600, '\0');
    for (int i = 0; i < 600; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>('a' + i % 26);
    body.WriteBuffer(bytes.data(), 600);
    pair.Link.SendFile(body);
    EXPECT_THAT(shortSends.Sends, ElementsAre(255, 255, 200));
    EXPECT_EQ(RecvSome(pair.Peer, 600), bytes);
}

TEST(SendFile, ACancelInOnPacketRecvdEndsItQuietlyAfterThatChunk)
{
    ConnectedPair pair;
    TMemoryStream body;
    const std::string bytes(600, 'z');
    body.WriteBuffer(bytes.data(), 600);
    pair.Link.OnPacketRecvd = [&](TComponent*) { pair.Link.BeenCanceled = true; };
    pair.Link.SendFile(body); // no exception
    EXPECT_EQ(pair.Link.BytesRecvd(), 255);
    EXPECT_EQ(FailureOf([&] { pair.Link.Write("more"); }), "Write Canceled");
    pair.Link.Disconnect();
    EXPECT_EQ(RecvAll(pair.Peer).size(), 255u);
}

TEST(SendStream, SendsLargeChunksWithProgressAtABoundedRateAndShowsEveryByteOnce)
{
    ConnectedPair pair;
    const std::string bytes = Pattern(8 * 1024 * 1024 + 5);
    TMemoryStream body = StreamOf(bytes);
    int events = 0;
    std::int64_t last = -1;
    pair.Link.OnPacketRecvd = [&](TComponent*) {
        ++events;
        last = pair.Link.BytesRecvd();
    };
    std::string seen;
    RecordingWinsock recorder;
    auto reader = std::async(std::launch::async, [&] { return RecvSome(pair.Peer, bytes.size(), 20000); });
    const auto start = std::chrono::steady_clock::now();
    {
        TWinsockOverride use(recorder);
        pair.Link.SendStream(body, [&](const char* b, std::size_t n) { seen.append(b, n); });
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(reader.get() == bytes);
    EXPECT_TRUE(seen == bytes); // what a check is computed over is what left
    EXPECT_EQ(last, static_cast<std::int64_t>(bytes.size())); // the last event tells the whole
    EXPECT_EQ(pair.Link.BytesTotal(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_LE(events, ms / 50 + 2);
    EXPECT_EQ(*std::max_element(recorder.Sends.begin(), recorder.Sends.end()), 256 * 1024);
}

TEST(SendBytes, SendsNulBytesOfAnyLengthAndReadBytesTakesAnyCountUntilTheClose)
{
    ConnectedPair pair;
    std::string binary = Pattern(70000);
    binary[0] = binary[300] = '\0';
    auto reader = std::async(std::launch::async, [&] { return RecvSome(pair.Peer, binary.size(), 10000); });
    pair.Link.SendBytes(binary.data(), binary.size());
    EXPECT_TRUE(reader.get() == binary);

    SendAll(pair.Peer, binary);
    ShutdownSending(pair.Peer);
    std::string got(100000, 'x');
    got.resize(pair.Link.ReadBytes(got.data(), got.size())); // returns early at the close
    EXPECT_TRUE(got == binary) << got.size();
}

// --- reading -------------------------------------------------------------------

TEST(Read, CollectsTheCountAcrossSeveralReceives)
{
    ConnectedPair pair;
    pair.Link.ReportLevel = 8;
    RecordingWinsock recorder;
    TWinsockOverride use(recorder);
    SendAll(pair.Peer, "0123456789");
    Later(100, [&] { SendAll(pair.Peer, "abcdef"); });
    EXPECT_EQ(pair.Link.Read(16), "0123456789abcdef");
    EXPECT_THAT(recorder.Recvs, ElementsAre(16, 6));
    EXPECT_EQ(pair.Link.Statuses.front(), "Read( 16 )");
}

TEST(Read, WhatIsWaitingIsReadInOneReceive)
{
    ConnectedPair pair;
    SendAll(pair.Peer, std::string(16, 'q'));
    RecvSome(pair.Peer, 0, 50); // let it arrive
    EXPECT_EQ(pair.Link.Read(16), std::string(16, 'q'));
}

TEST(Read, CountZeroIsOneReceiveOfUpToTwoHundredFiftyFiveBytes)
{
    ConnectedPair pair;
    SendAll(pair.Peer, std::string(300, 'r'));
    PumpFor(50);
    EXPECT_EQ(pair.Link.Read(0).size(), 255u);
    EXPECT_EQ(pair.Link.Read(0).size(), 45u);
}

TEST(Read, APeerCloseEndsItWithWhatArrived)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "hi");
    CloseFd(std::exchange(pair.Peer, -1));
    EXPECT_EQ(pair.Link.Read(4), "hi");
    EXPECT_EQ(pair.Link.Read(4), "");
}

TEST(Read, CountsAboveTwoHundredFiftyFiveAreRefused)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "data");
    EXPECT_EQ(FailureOf([&] { pair.Link.Read(256); }), "Read Count Too Large (256, at most 255)");
    EXPECT_EQ(pair.Link.Read(4), "data"); // nothing was taken
}

TEST(Read, TimesOutOnASilentConnection)
{
    ConnectedPair pair;
    pair.Link.TimeOut = 150;
    EXPECT_EQ(FailureOf([&] { pair.Link.Read(4); }), "Read Timed Out");
}

TEST(Read, ACancelWithDataWaitingStillMakesOneReceive)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "ab");
    PumpFor(30);
    pair.Link.BeenCanceled = true;
    EXPECT_EQ(pair.Link.Read(4), "ab");
    EXPECT_EQ(FailureOf([&] { pair.Link.Read(4); }), "Read Canceled"); // nothing left
}

TEST(Read, ACancelSetByAHandlerEndsTheWait)
{
    ConnectedPair pair;
    Later(50, [&] { pair.Link.BeenCanceled = true; });
    EXPECT_EQ(FailureOf([&] { pair.Link.Read(4); }), "Read Canceled");
}

TEST(Read, AFailingReceiveRaisesItsErrorText)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "xx");
    RecordingWinsock failing;
    failing.FailRecv = true;
    TWinsockOverride use(failing);
    EXPECT_EQ(FailureOf([&] { pair.Link.Read(2); }), "Unknown Error No. 10054");
    EXPECT_EQ(pair.Link.GetLastErrorNo(), WSAECONNRESET);
}

TEST(ReadLn, ReturnsTheLineWithItsEndAndLeavesTheRestQueued)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "123456789\r\nMORE");
    EXPECT_EQ(pair.Link.ReadLn(), "123456789\r\n");
    EXPECT_EQ(pair.Link.Read(4), "MORE");
}

TEST(ReadLn, ALongLineComesInPiecesOfTwoHundredFiftyFive)
{
    ConnectedPair pair;
    SendAll(pair.Peer, std::string(300, 'L'));
    PumpFor(30);
    EXPECT_EQ(pair.Link.ReadLn(), std::string(255, 'L'));
}

TEST(ReadLn, AReceiveThatFailsAfterThePeekRaisesItsError)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "line\n");
    PumpFor(30);
    RecordingWinsock failing;
    failing.FailRecv = true;
    TWinsockOverride use(failing);
    EXPECT_EQ(FailureOf([&] { pair.Link.ReadLn(); }), "Unknown Error No. 10054");
    EXPECT_EQ(pair.Link.GetLastErrorNo(), 10054);
}

// --- transactions ----------------------------------------------------------------

TEST(Transaction, TakesTheReplyCodeFromTheLeadingDigits)
{
    const std::pair<std::string, int> cases[] = {{"250 OK\r\n", 250}, {"OK fine\r\n", 0}, {"99999999999 x\r\n", 0}};
    for (const auto& [line, code] : cases) {
        ConnectedPair pair;
        SendAll(pair.Peer, line);
        std::string reply;
        pair.Link.Transaction("HELO there", reply);
        EXPECT_EQ(reply, line);
        EXPECT_EQ(pair.Link.TransactionReply(), line);
        EXPECT_EQ(pair.Link.FReplyCode, code) << line;
        EXPECT_EQ(pair.Link.Status(), line); // level 1, the default
        EXPECT_EQ(RecvSome(pair.Peer, 12), "HELO there\r\n");
    }
}

TEST(Transaction, ACodeBeyondSixteenBitsIsARangeErrorAfterTheReplyIsKept)
{
    ConnectedPair pair;
    SendAll(pair.Peer, "40000 too big\r\n");
    std::string reply = "untouched";
    EXPECT_EQ(FailureOf([&] { pair.Link.Transaction("CMD", reply); }), "Range check error");
    EXPECT_EQ(pair.Link.TransactionReply(), "40000 too big\r\n");
    EXPECT_EQ(pair.Link.Status(), "40000 too big\r\n");
    EXPECT_EQ(reply, "untouched");
}
