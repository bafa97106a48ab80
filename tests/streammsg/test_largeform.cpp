// The large form of a stream message: against its written vectors, peers
// that know only the fixed form, damaged and cut bodies, and limits.
#include "helpers.h"
#include "loop.h"
#include "receiver.h"
#include "temp_folder.h"
#include "wine.h"

#include <ferrolink/largeform.h>
#include <ferrolink/sysutils.h>
#include <ferrolink/tempfilestream.h>

#include <gmock/gmock.h>

#include <fstream>
#include <map>
#include <sstream>
#include <thread>

using namespace ferro;
using ::testing::ElementsAre;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

std::string FromHex(std::string hex)
{
    std::erase(hex, ' ');
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string CheckOf(const std::string& body)
{
    qbmsg::TBodyCheck check;
    check.Add(body.data(), body.size());
    const auto value = check.Value();
    return std::string(value.data(), value.size());
}

struct Vector {
    std::string Name, Body, Header, Check;
    std::string Path, NamedHeader, Offer; // version 2's, where the vector has them
    std::size_t Kept = 0;
};

std::vector<Vector> ReadVectors()
{
    std::ifstream in(PROTOCOL_VECTORS);
    std::vector<Vector> vectors;
    std::map<std::string, std::string> fields;
    const auto finish = [&] {
        if (fields.empty())
            return;
        Vector v {FromHex(fields["name-hex"]), {}, FromHex(fields["header-hex"]), FromHex(fields["check-hex"]),
                  FromHex(fields["path-hex"]), FromHex(fields["named-header-hex"]), FromHex(fields["offer-hex"]),
                  fields.count("kept") ? std::stoul(fields["kept"]) : 0};
        if (fields.count("body-pattern")) {
            const std::size_t size = std::stoul(fields["body-pattern"]);
            for (std::size_t i = 0; i < size; ++i)
                v.Body.push_back(static_cast<char>(i % 251));
        } else {
            v.Body = FromHex(fields["body-hex"]);
        }
        vectors.push_back(v);
        fields.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            finish();
            continue;
        }
        if (line[0] == '#')
            continue;
        const auto colon = line.find(':');
        fields[line.substr(0, colon)] = line.size() > colon + 1 ? line.substr(colon + 2) : "";
    }
    finish();
    return vectors;
}

// A client of the large form on its own thread: sends `header`, reads the
// answer, and only after a go-ahead sends `rest` (then ends its sending side
// with `end`) and reads until the close.
std::future<std::string> LargeClientAsync(std::uint16_t port, std::string header, std::string rest, bool end = false)
{
    return std::async(std::launch::async, [=] {
        const int fd = ConnectTo(port);
        if (fd < 0)
            return std::string("no connection");
        SendAll(fd, header);
        std::string answer = RecvSome(fd, qbmsg::kReplySize, 10000);
        if (answer == qbmsg::kGoAhead) {
            SendAll(fd, rest);
            if (end)
                ShutdownSending(fd);
            answer += RecvAll(fd, 10000);
        }
        CloseFd(fd);
        return answer;
    });
}

std::string Await(std::future<std::string>& f)
{
    EXPECT_TRUE(PumpUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20000));
    return f.get();
}

} // namespace

TEST(LargeForm, TheEncodingAndTheCheckMatchTheWrittenVectors)
{
    const std::vector<Vector> vectors = ReadVectors();
    ASSERT_EQ(vectors.size(), 4u);
    int named = 0, offers = 0;
    for (const Vector& v : vectors) {
        EXPECT_EQ(qbmsg::EncodeLargeHeader(v.Name, v.Body.size()), v.Header) << v.Name << " " << v.Body.size();
        EXPECT_EQ(CheckOf(v.Body), v.Check) << v.Body.size();
        if (!v.Path.empty() && ++named) {
            EXPECT_EQ(qbmsg::EncodeNamedHeader(v.Name, v.Body.size(), v.Path), v.NamedHeader) << v.Path;
        }
        if (!v.Offer.empty() && ++offers) {
            qbmsg::TBodyCheck prefix;
            prefix.Add(v.Body.data(), v.Kept);
            EXPECT_EQ(qbmsg::EncodeResumeOffer(v.Kept, prefix.Value()), v.Offer);
            EXPECT_EQ(qbmsg::ParseResumeOffer(v.Offer.substr(0, qbmsg::kReplySize)), v.Kept);
        }
    }
    EXPECT_EQ(named, 2);
    EXPECT_EQ(offers, 1);
    // Fed in pieces, the check is the same.
    const Vector& big = vectors.back();
    qbmsg::TBodyCheck pieces;
    for (std::size_t at = 0; at < big.Body.size(); at += 7777)
        pieces.Add(big.Body.data() + at, std::min<std::size_t>(7777, big.Body.size() - at));
    EXPECT_EQ(std::string(pieces.Value().data(), qbmsg::kCheckSize), big.Check);
}

TEST(LargeForm, PostItSendsExactlyTheVectorAndOnlyAfterTheGoAhead)
{
    const Vector v = ReadVectors()[2]; // 10 000 bytes: the smallest body the fixed form cannot carry
    TcpListener listener;
    auto wire = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        std::string got = RecvSome(fd, v.Header.size(), 10000);
        // Nothing of the body comes before the go-ahead.
        got += RecvSome(fd, 1, 300);
        SendAll(fd, qbmsg::kGoAhead);
        got += RecvSome(fd, v.Body.size() + qbmsg::kCheckSize, 10000);
        SendAll(fd, qbmsg::kReply);
        got += PeerClosed(fd, 10000) ? "" : "<sender did not close>";
        CloseFd(fd);
        return got;
    });
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = listener.Port();
    sender.FromName = "Sendwell";
    sender.TimeOut = 10000;
    TMemoryStream body = StreamOf(v.Body);
    EXPECT_EQ(sender.PostIt(body), qbmsg::kReply);
    EXPECT_EQ(sender.BytesRecvd(), 10000);
    EXPECT_EQ(wire.get(), v.Header + v.Body + v.Check);
}

TEST(LargeForm, APeerThatKnowsOnlyTheFixedFormRefusesItAtOnceAndTheSenderSaysWhy)
{
    TcpListener listener;
    // A fixed-form receiver: parses the name-length field as an integer
    // (blanks, signs and "$" hexadecimal allowed) and closes when it cannot.
    auto peer = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        const std::string field = RecvSome(fd, 4, 10000);
        std::string outcome = "parsed";
        try {
            StrToInt(field);
        } catch (const EConvertError& e) {
            outcome = e.what();
        }
        CloseFd(fd);
        return outcome;
    });
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = listener.Port();
    sender.TimeOut = 10000;
    TMemoryStream body = StreamOf(Pattern(50000));
    EXPECT_EQ(FailureOf([&] { sender.PostIt(body); }), qbmsg::kNoLargeForm);
    EXPECT_EQ(peer.get(), "'QBIG' is not a valid integer value");
    EXPECT_EQ(sender.BytesRecvd(), 0); // no body byte left
}

// Each answer to a header is told as what it is: a receiver that closes is
// one of the fixed form alone, a newer one says which versions it knows,
// and anything else is quoted.
TEST(LargeForm, EveryAnswerToAHeaderIsToldAsWhatItIs)
{
    const std::pair<std::string, std::string> answers[] = {
        {"", qbmsg::kNoLargeForm},
        {"VERSION" + std::string(8, ' ') + "\x03", "The receiver does not know this form's version 1 (it knows up to 3)"},
        {"HELLO THERE\x01   ?", "The receiver gave an answer this sender does not know: \"HELLO THERE\\x01   ?\""},
    };
    for (const auto& [answer, failure] : answers) {
        TcpListener listener;
        auto peer = std::async(std::launch::async, [&listener, answer = answer] {
            const int fd = listener.Accept(10000);
            RecvSome(fd, qbmsg::EncodeLargeHeader("", 50000).size(), 10000);
            SendAll(fd, answer);
            CloseFd(fd);
        });
        TQBStrm sender(nullptr);
        sender.Host = "127.0.0.1";
        sender.Port = listener.Port();
        sender.TimeOut = 10000;
        TMemoryStream body = StreamOf(Pattern(50000));
        EXPECT_EQ(FailureOf([&] { sender.PostIt(body); }), failure);
        peer.wait();
    }
    // Our receiver answers a version it does not know with the one it knows.
    RunningReceiver r;
    EXPECT_EQ(r.Exchange({std::string("QBIG\x03\x00", 6)}), "VERSION" + std::string(8, ' ') + "\x02");
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("Unknown message version (3)"));
}

namespace {

// Posts the vector's body from "Sendwell" with its path to `port`.
std::string PostNamed(TQBStrm& sender, std::uint16_t port, const Vector& v)
{
    sender.Host = "127.0.0.1";
    sender.Port = port;
    sender.FromName = "Sendwell";
    sender.FileName = v.Path;
    sender.TimeOut = 10000;
    TMemoryStream body = StreamOf(v.Body);
    return sender.PostIt(body);
}

// A receiver's side of one message on `fd`: takes `header` bytes, gives
// `answer`, takes `rest` bytes, answers "OK" and closes once the sender has;
// what it took.
std::string Exchange(int fd, std::size_t header, const std::string& answer, std::size_t rest)
{
    std::string got = RecvSome(fd, header, 10000);
    SendAll(fd, answer);
    got += RecvSome(fd, rest, 10000);
    SendAll(fd, qbmsg::kReply);
    PeerClosed(fd, 10000);
    CloseFd(fd);
    return got;
}

} // namespace

// A sender with a file's name sends version 2; offered a kept part, it goes
// on from there only when its file begins with that part, and the check
// covers the whole body either way. A receiver of version 1 alone is sent
// the message again in version 1.
TEST(LargeForm, ANamedPostResumesOnlyFromAPartItsFileBeginsWith)
{
    const Vector v = ReadVectors()[2]; // 10 000 bytes, with a path and an offer of its first 4096
    std::string wrongOffer = v.Offer;
    wrongOffer.back() = static_cast<char>(~wrongOffer.back());
    const struct {
        std::string Offer; // empty: the receiver answers VERSION 1
        std::string Sent;  // what the sender sends after its header
        std::int64_t ResumedAt;
    } cases[] = {
        {v.Offer, qbmsg::EncodeOffset(v.Kept) + v.Body.substr(v.Kept) + v.Check, static_cast<std::int64_t>(v.Kept)},
        {wrongOffer, qbmsg::EncodeOffset(0) + v.Body + v.Check, 0},
        {qbmsg::kGoAhead, v.Body + v.Check, 0},
    };
    for (const auto& c : cases) {
        TcpListener listener;
        auto wire = std::async(std::launch::async, [&] { return Exchange(listener.Accept(10000), v.NamedHeader.size(), c.Offer, c.Sent.size()); });
        TQBStrm sender(nullptr);
        EXPECT_EQ(PostNamed(sender, listener.Port(), v), qbmsg::kReply);
        EXPECT_TRUE(sender.NameTaken());
        EXPECT_EQ(sender.ResumedAt(), c.ResumedAt);
        EXPECT_EQ(wire.get(), v.NamedHeader + c.Sent);
    }
    // Version 1 alone: "VERSION" and 1, then the same message without the path.
    TcpListener listener;
    auto wire = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        std::string got = RecvSome(fd, 5, 10000);
        SendAll(fd, qbmsg::kVersionTag + '\x01');
        CloseFd(fd);
        return got + "|" + Exchange(listener.Accept(10000), v.Header.size(), qbmsg::kGoAhead, v.Body.size() + qbmsg::kCheckSize);
    });
    TQBStrm sender(nullptr);
    EXPECT_EQ(PostNamed(sender, listener.Port(), v), qbmsg::kReply);
    EXPECT_FALSE(sender.NameTaken());
    EXPECT_EQ(wire.get(), v.NamedHeader.substr(0, 5) + "|" + v.Header + v.Body + v.Check);
}

// A peer that takes the header, gives the go-ahead and then reads slowly
// (or not at all), until the sender gives up: what it got.
struct SlowPeer {
    explicit SlowPeer(bool reads)
    {
        Got = std::async(std::launch::async, [this, reads] {
            const int fd = Listener.Accept(10000);
            std::string got = RecvSome(fd, qbmsg::EncodeLargeHeader("Q", kSize).size(), 10000);
            SendAll(fd, qbmsg::kGoAhead);
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the buffers fill
            if (!reads)
                std::this_thread::sleep_for(std::chrono::milliseconds(700)); // the sender's time-out passes
            got += RecvAll(fd, 10000);
            CloseFd(fd);
            return got;
        });
    }
    static constexpr std::size_t kSize = 64 * 1024 * 1024;
    TcpListener Listener;
    std::future<std::string> Got;
};

// Under a cancel and a time-out with full buffers, as the fixed form: the
// post fails, no check follows the bytes counted, and the connection is
// reset (which drops what the peer had not read yet), so that nothing is
// taken for whole: the peer holds a prefix of the body, never more than was
// counted.
TEST(LargeForm, ACanceledOrTimedOutBodyIsResetWithoutItsCheck)
{
    const std::string body = Pattern(SlowPeer::kSize);
    for (const bool cancel : {true, false}) {
        SlowPeer peer(cancel);
        TQBStrm sender(nullptr);
        sender.Host = "127.0.0.1";
        sender.Port = peer.Listener.Port();
        sender.FromName = "Q";
        sender.TimeOut = cancel ? 10000 : 200;
        int events = 0;
        sender.OnPacketRecvd = [&](TComponent*) {
            ++events;
            if (cancel)
                sender.BeenCanceled = true;
        };
        TMemoryStream stream = StreamOf(body);
        EXPECT_EQ(FailureOf([&] { sender.PostIt(stream); }), cancel ? "Read Canceled" : "Write Timed Out");
        const std::string got = peer.Got.get();
        const std::size_t header = qbmsg::EncodeLargeHeader("Q", SlowPeer::kSize).size();
        ASSERT_GE(got.size(), header);
        EXPECT_LE(static_cast<std::int64_t>(got.size() - header), sender.BytesRecvd()) << cancel;
        EXPECT_LT(sender.BytesRecvd(), static_cast<std::int64_t>(SlowPeer::kSize));
        EXPECT_TRUE(got.compare(header, std::string::npos, body, 0, got.size() - header) == 0);
        if (cancel) {
            EXPECT_EQ(events, 1);
        }
    }
}

// A body sent in `pieces` with `pauseMs` between them after the go-ahead,
// its check last; stops when the receiver lets it go. Returns the answers
// and how long the receiver held it.
struct PacedBody {
    const char* Name;
    std::uint64_t Declared;
    std::vector<std::string> Pieces;
    int PauseMs;
    bool LetGo; // false: the message is taken
    int HeldFromMs, HeldToMs; // when it is let go
};

void PrintTo(const PacedBody& c, std::ostream* os)
{
    *os << c.Name;
}

std::vector<std::string> Drip(std::size_t head, std::size_t bytes)
{
    std::vector<std::string> pieces {Pattern(head)};
    for (std::size_t i = 0; i < bytes; ++i)
        pieces.emplace_back(1, 'd');
    return pieces;
}

std::vector<std::string> Steady(std::size_t total, std::size_t piece)
{
    const std::string body = Pattern(total);
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < total; i += piece)
        pieces.push_back(body.substr(i, piece));
    pieces.back() += CheckOf(body);
    return pieces;
}

class LargeBodyPace : public ::testing::TestWithParam<PacedBody> {};

// Limits of 1000 ms without a byte, 2000 ms for the message and 64 KiB/s:
// what a header declares earns no time, what arrives does.
TEST_P(LargeBodyPace, TheTimeABodyGetsGrowsWithWhatHasArrived)
{
    const PacedBody& c = GetParam();
    RunningReceiver r;
    r.Server.IdleLimit = 1000;
    r.Server.MessageDeadline = 2000;
    r.Server.MinimumRate = 64 * 1024;
    auto client = std::async(std::launch::async, [&, port = r.Port()] {
        const int fd = ConnectTo(port);
        SendAll(fd, qbmsg::EncodeLargeHeader("Q", c.Declared));
        std::string answer = RecvSome(fd, qbmsg::kReplySize, 10000);
        for (std::size_t i = 0; answer == qbmsg::kGoAhead && i < c.Pieces.size() && SendAll(fd, c.Pieces[i]); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(c.PauseMs));
        answer += RecvAll(fd, 10000);
        CloseFd(fd);
        return answer;
    });
    const TStopwatch held;
    if (c.LetGo) {
        // (no regular expression: GoogleTest's own on Windows has no brackets)
        EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre(AllOf(StartsWith("Message body too slow ("), HasSubstr(" bytes in "),
                                                                 EndsWith(" s, at least 65536 bytes a second)"))));
        EXPECT_GE(held.ElapsedMs(), c.HeldFromMs);
        EXPECT_LT(held.ElapsedMs(), c.HeldToMs);
        EXPECT_TRUE(r.Messages.empty());
        EXPECT_EQ(Await(client), qbmsg::kGoAhead);
        ExpectStillServing(r);
    } else {
        EXPECT_EQ(Await(client), qbmsg::kGoAhead + qbmsg::kReply);
        EXPECT_TRUE(TakeRecordedExceptions().empty());
        ASSERT_EQ(r.Messages.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LargeBodyPace,
    ::testing::Values(
        // The attack: 16 MiB declared, two bytes a second, each within the idle limit.
        PacedBody {"DeclaresMuchSendsTwoBytesASecond", 16u << 20, Drip(0, 20), 500, true, 1900, 2600},
        // 192 KiB at once earn three seconds from the go-ahead; then the drip falls behind.
        PacedBody {"KeepsUpThenDrips", 1u << 20, Drip(192 * 1024, 20), 400, true, 2900, 3600},
        // 640 KiB at 160 KiB/s: past the deadline, but never behind the rate.
        PacedBody {"AnHonestSlowSenderPastTheDeadline", 640 * 1024, Steady(640 * 1024, 16 * 1024), 100, false, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LargeForm, ABodyArrivesWholeInANamelessFileOfTheBodyFolderAndIsAnswered)
{
    const TTempFolder folder;
    RunningReceiver r;
    r.Server.BodyFolder = folder.Path.string();
    bool fileBacked = false;
    std::vector<std::string> filesDuringHandler;
    auto record = r.Server.OnMSG;
    r.Server.OnMSG = [&](TComponent* s, const std::string& from, TStream& body) {
        fileBacked = dynamic_cast<TTempFileStream*>(&body) != nullptr;
        filesDuringHandler = folder.Names();
        record(s, from, body);
    };
    const std::string body = Pattern(3 * 1024 * 1024 + 17);
    auto client = LargeClientAsync(r.Port(), qbmsg::EncodeLargeHeader("Quillbrook", body.size()), body + CheckOf(body));
    EXPECT_EQ(Await(client), qbmsg::kGoAhead + qbmsg::kReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].From, "Quillbrook");
    EXPECT_EQ(r.Messages[0].PositionAtCall, 0);
    EXPECT_TRUE(r.Messages[0].Body == body);
    EXPECT_TRUE(fileBacked);
    // Nothing to clean up, even after a crash: the file is nameless, or (on
    // Windows) a hidden one the system removes when it closes.
    if (OnWindows())
        EXPECT_THAT(filesDuringHandler, ElementsAre(::testing::StartsWith(".body-")));
    else
        EXPECT_TRUE(filesDuringHandler.empty());
    EXPECT_TRUE(folder.Names().empty());
}

TEST(LargeForm, ABodyOverTheLimitIsRefusedWithTheLimitBeforeAnyOfItIsSent)
{
    RunningReceiver r;
    r.Server.MaxSize = 100000;
    // The client sends the header alone: the refusal must come without the body.
    auto client = LargeClientAsync(r.Port(), qbmsg::EncodeLargeHeader("Q", 100001), "");
    const std::string answer = Await(client);
    EXPECT_EQ(qbmsg::ParseTooLarge(answer), std::optional<std::uint64_t>(100000));
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("Message body too large (100001 bytes, at most 100000)"));
    EXPECT_TRUE(r.Messages.empty());
    // The fixed form is held to the same limit.
    r.Server.MaxSize = 3;
    EXPECT_EQ(r.Exchange({"0001a   4abcd"}), "");
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("Message body too large (4 bytes, at most 3)"));
}

TEST(LargeForm, ABodyCutShortOrWithAWrongCheckIsNeverHandedOver)
{
    RunningReceiver r;
    const std::string body = Pattern(50000);
    const std::string header = qbmsg::EncodeLargeHeader("Q", body.size());
    auto cut = LargeClientAsync(r.Port(), header, body.substr(0, 30000), true);
    EXPECT_EQ(Await(cut), qbmsg::kGoAhead); // no reply after the go-ahead
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("Read Failed"));
    std::string wrong = CheckOf(body);
    wrong[15] = static_cast<char>(wrong[15] ^ 1);
    auto damaged = LargeClientAsync(r.Port(), header, body + wrong, true);
    EXPECT_EQ(Await(damaged), qbmsg::kGoAhead + qbmsg::kBadCheck);
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("Message check failed: the body arrived damaged"));
    EXPECT_TRUE(r.Messages.empty());
}

TEST(LargeForm, AHandlerThatCannotStoreIsAnsweredNotStored)
{
    RunningReceiver r;
    r.Server.ReplyAfterHandler = true;
    r.Server.OnMSG = [](TComponent*, const std::string&, TStream&) { throw std::runtime_error("disk full"); };
    const std::string body = Pattern(20000);
    auto client = LargeClientAsync(r.Port(), qbmsg::EncodeLargeHeader("Q", body.size()), body + CheckOf(body));
    EXPECT_EQ(Await(client), qbmsg::kGoAhead + qbmsg::kNotStored);
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre("disk full"));
}
