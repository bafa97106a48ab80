#include "receiver.h"

#include "loop.h"
#include "wine.h"

#include <gmock/gmock.h>

#include <random>

using namespace ferro;

using ::testing::ElementsAre;

namespace {

const std::string kValid = "0010Quillbrook   5hello";


} // namespace

TEST(Receiver, ReadsAMessageAnswersItAndHandsItOver)
{
    RunningReceiver r;
    EXPECT_EQ(r.Exchange({"0010Quillbrook", "   5", "hello"}), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].From, "Quillbrook");
    EXPECT_EQ(r.Messages[0].Body, "hello");
    EXPECT_EQ(r.Messages[0].PositionAtCall, 0);
    EXPECT_TRUE(r.Messages[0].IsMemoryStream);
}

TEST(Receiver, AnEmptyNameAndAnEmptyBody)
{
    RunningReceiver r;
    EXPECT_EQ(r.Exchange({"0000   0"}), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].From, "");
    EXPECT_EQ(r.Messages[0].Body, "");
    EXPECT_EQ(r.Messages[0].PositionAtCall, 0);
}

TEST(Receiver, LengthFieldsAreIntegersAfterLeadingBlanks)
{
    RunningReceiver r;
    EXPECT_EQ(r.Exchange({"  03abc$00Aabcdefghij"}), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].From, "abc");
    EXPECT_EQ(r.Messages[0].Body, "abcdefghij");

    // No sender writes a sign: "-001" is no count, and nothing is stored
    // (see the hostile cases for the texts).
    EXPECT_EQ(r.Exchange({"-001   3xyz"}), "");
    EXPECT_EQ(r.Messages.size(), 1u);
    TakeRecordedExceptions();

    // Trailing blanks are no integer.
    EXPECT_EQ(r.Exchange({"00015", "5   hello"}), "");
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("'5   ' is not a valid integer value"));
    ExpectStillServing(r);
}

TEST(Receiver, WithoutAHandlerMessagesAreStillReadAndAnswered)
{
    RunningReceiver r(false);
    EXPECT_EQ(r.Exchange({kValid}), kOkReply);
    EXPECT_EQ(r.Exchange({kValid}), kOkReply);
    EXPECT_TRUE(TakeRecordedExceptions().empty());
}

TEST(Receiver, ABodyInManySmallPacketsIsCollectedIntoOneStream)
{
    RunningReceiver r;
    std::vector<std::string> chunks = {"0001x 600"};
    std::string body;
    for (int i = 0; i < 600; ++i)
        body += static_cast<char>(i % 251);
    for (std::size_t i = 0; i < body.size(); i += 7)
        chunks.push_back(body.substr(i, 7));
    EXPECT_EQ(r.Exchange(chunks, 1), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].Body, body);
}

TEST(Receiver, AClientThatDribblesOneByteAtATimeIsServed)
{
    RunningReceiver r;
    std::vector<std::string> bytes;
    for (char c : kValid)
        bytes.emplace_back(1, c);
    EXPECT_EQ(r.Exchange(bytes, 5), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].Body, "hello");
}

TEST(Receiver, SurplusBytesNeverEnterTheBody)
{
    RunningReceiver r;
    EXPECT_EQ(r.Exchange({"0001a   5helloEXTRA-BYTES"}), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].Body, "hello");
    ExpectStillServing(r);
}

// A length field cut short by the close fails even where what came reads as
// a number ("00"): only a whole field counts.
struct HostileCase {
    const char* Name;
    std::vector<std::string> Chunks;
    const char* Failure;
    bool Reset = false; // the client resets the connection instead of closing it
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ReceiverFacing : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ReceiverFacing, AHostileClientFailsAloneAndTheServerGoesOn)
{
    const HostileCase& c = GetParam();
    if (c.Reset)
        SKIP_UNDER_WINE("a client's reset arrives there as an orderly close");
    RunningReceiver r;
    if (c.Reset)
        r.ResetAfter(c.Chunks);
    else
        EXPECT_EQ(r.Exchange(c.Chunks, 0, true), "");
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre(c.Failure));
    EXPECT_TRUE(r.Messages.empty());
    ExpectStillServing(r);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReceiverFacing,
    ::testing::Values(HostileCase {"ConnectAndClose", {}, "Read Failed"},
        HostileCase {"CloseInsideTheName", {"0010Quill"}, "Read Failed"},
        HostileCase {"NegativeNameLength", {"-001a"}, "Invalid name length (-1, at most 255)"},
        HostileCase {"NegativeBodyLength", {"0001a  -1"}, "Invalid body length (-1)"},
        HostileCase {"NegativeBodyLengthOfFourCharacters", {"0001a-999"}, "Invalid body length (-999)"},
        HostileCase {"PartialLengthField", {"00"}, "Read Failed"},
        HostileCase {"LettersInALengthField", {"00x1"}, "'00x1' is not a valid integer value"},
        HostileCase {"HugeNameLength", {"9999Quillbrook"}, "Invalid name length (9999, at most 255)"},
        HostileCase {"TruncatedBody", {"0001a 100only-part"}, "Read Failed"},
        HostileCase {"CutBodyLengthThatReadsAsANumber", {"0001a", "0"}, "Read Failed"},
        HostileCase {"MissingBodyLength", {"0003abc"}, "Read Failed"},
        HostileCase {"ResetAfterConnecting", {}, "Unknown Error No. 10054", true},
        HostileCase {"ResetInsideALengthField", {"00"}, "Unknown Error No. 10054", true},
        HostileCase {"ResetInsideTheName", {"0010Quill"}, "Unknown Error No. 10054", true},
        HostileCase {"ResetInsideTheBody", {"0001a 100only-part"}, "Unknown Error No. 10054", true},
        HostileCase {"LargeFormOfAnUnknownVersion", {std::string("QBIG\x03\x00", 6)}, "Unknown message version (3)"},
        HostileCase {"LargeFormCutInsideTheHeader", {std::string("QBIG\x01\x05Qu", 8)}, "Read Failed"},
        HostileCase {"LargeFormCutInsideTheLength", {std::string("QBIG\x01\x00\x00\x00", 8)}, "Read Failed"},
        HostileCase {"LargeFormOverTheLimit", {std::string("QBIG\x01\x00\x80\x00\x00\x00\x00\x00\x00\x00", 14)},
                     "Message body too large (9223372036854775808 bytes, at most 268435456)"},
        HostileCase {"LargeFormResetInsideTheBody", {std::string("QBIG\x01\x00\x00\x00\x00\x00\x00\x00\x00\x05" "abc", 17)},
                     "Unknown Error No. 10054", true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Receiver, RandomBytesNeverCrashOrStopIt)
{
    RunningReceiver r;
    std::mt19937 random(20261208);
    for (int round = 0; round < 5; ++round) {
        std::string noise(1024, '\0');
        for (char& c : noise)
            c = static_cast<char>(random());
        r.Exchange({noise}, 0, true);
        PumpFor(50);
    }
    TakeRecordedExceptions();
    ExpectStillServing(r);
}

TEST(Receiver, AFailingHandlerIsReportedAfterTheReplyAndTheServerGoesOn)
{
    RunningReceiver r;
    r.Server.OnMSG = [](TComponent*, const std::string&, TStream&) { throw ESockError("handler broke"); };
    EXPECT_EQ(r.Exchange({kValid}), kOkReply); // the reply goes out before the handler runs
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("handler broke"));
    r.Server.OnMSG = nullptr;
    EXPECT_EQ(r.Exchange({kValid}), kOkReply);
}

TEST(Receiver, TwoClientsAtNearlyTheSameTimeAreServedOneAfterTheOther)
{
    RunningReceiver r;
    auto first = ExchangeAsync(r.Port(), {"0005first   3one"}, 0);
    auto second = ExchangeAsync(r.Port(), {"0006second   3two"}, 0);
    const auto ready = [](std::future<std::string>& f) { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    ASSERT_TRUE(PumpUntil([&] { return ready(first) && ready(second); }, 15000));
    EXPECT_EQ(first.get(), kOkReply);
    EXPECT_EQ(second.get(), kOkReply);
    ASSERT_EQ(r.Messages.size(), 2u);
    std::vector<std::string> from = {r.Messages[0].From, r.Messages[1].From};
    std::sort(from.begin(), from.end());
    EXPECT_THAT(from, ElementsAre("first", "second"));
}

TEST(Receiver, ACancelLeftSetFailsEveryLaterMessage)
{
    RunningReceiver r;
    r.Server.BeenCanceled = true;
    r.Exchange({kValid});
    EXPECT_FALSE(AwaitRecordedExceptions().empty());
    EXPECT_TRUE(r.Messages.empty());
}

TEST(Receiver, EachClientHasTheWholeTimeOut)
{
    // The first client's failed message leaves the read countdown running;
    // the second, slow to start, must still have all of its time.
    RunningReceiver r;
    r.Server.TimeOut = 1000;
    // Sent and closed before the receiver runs: its reads find the data
    // waiting, so the countdown that they start runs on.
    const int first = ConnectTo(r.Port());
    SendAll(first, "00x1");
    CloseFd(first);
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("'00x1' is not a valid integer value"));
    PumpFor(600);
    EXPECT_EQ(r.Exchange({"", kValid}, 700), kOkReply);
    EXPECT_TRUE(TakeRecordedExceptions().empty());
    ASSERT_EQ(r.Messages.size(), 1u);
}

struct StallingClient {
    const char* Name;
    std::vector<std::string> Chunks;
    int PauseMs;
};

TEST(Receiver, IdleAndDeadlineLimitsLetAValidSenderInThatAStallingClientHolds)
{
    // Limits of 300 ms without a byte and 1500 ms for a whole message; each
    // stalling client is served first, a valid sender waits behind it.
    std::vector<std::string> drip = {"0001a  30"};
    for (int i = 0; i < 30; ++i)
        drip.emplace_back(1, 'd');
    // Faster than any wait of the receiver lasts: its reads find data
    // waiting every time, so only a deadline that is looked at as data
    // comes can end it.
    std::vector<std::string> fastDrip = {"0001a9999"};
    for (int i = 0; i < 9999; ++i)
        fastDrip.emplace_back(1, 'f');
    const StallingClient clients[] = {
        {"silent", {}, 0},
        {"stops mid-body", {"0001a 100only-part"}, 0},
        {"drips a byte every 100 ms", drip, 100},
        {"drips a byte every 2 ms", fastDrip, 2},
    };
    for (const auto& client : clients) {
        RunningReceiver r;
        r.Server.IdleLimit = 300;
        r.Server.MessageDeadline = 1500;
        auto stalling = ExchangeAsync(r.Port(), client.Chunks, client.PauseMs);
        PumpFor(50); // the stalling client is served first
        const TStopwatch clock;
        EXPECT_EQ(r.Exchange({kValid}), kOkReply) << client.Name;
        EXPECT_LT(clock.ElapsedMs(), 1500 + 1000) << client.Name; // within the limit that applies, with room
        EXPECT_THAT(TakeRecordedExceptions(), ElementsAre("Read Timed Out")) << client.Name;
        ASSERT_EQ(r.Messages.size(), 1u) << client.Name;
        EXPECT_EQ(r.Messages[0].Body, "hello");
        stalling.wait();
    }
}

TEST(Receiver, AnHonestSlowSenderStaysWithinTheLimits)
{
    RunningReceiver r;
    r.Server.IdleLimit = 300;
    r.Server.MessageDeadline = 3000;
    std::vector<std::string> bytes;
    for (char c : kValid)
        bytes.emplace_back(1, c);
    EXPECT_EQ(r.Exchange(bytes, 100), kOkReply); // a byte every 100 ms, 23 bytes
    EXPECT_TRUE(TakeRecordedExceptions().empty());
}

TEST(Receiver, WithTheReplyAfterTheHandlerAFailingHandlerMeansNoReply)
{
    RunningReceiver r;
    r.Server.ReplyAfterHandler = true;
    bool replied = false;
    r.Server.OnMSG = [&](TComponent*, const std::string&, TStream&) { throw ESockError("not stored"); };
    EXPECT_EQ(r.Exchange({kValid}), "");
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("not stored"));
    r.Server.OnMSG = [&](TComponent*, const std::string&, TStream&) { replied = true; };
    EXPECT_EQ(r.Exchange({kValid}), kOkReply);
    EXPECT_TRUE(replied);
}
