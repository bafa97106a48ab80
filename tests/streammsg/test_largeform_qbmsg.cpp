// The large form carried by qbmsg in its own process: damaged and cut on
// the way, and a file of any size stored by name.
#include "child.h"
#include "helpers.h"
#include "receiver.h"
#include "temp_folder.h"

#include <ferrolink/largeform.h>

#include <gmock/gmock.h>

#include <filesystem>

using namespace ferro;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct DamageCase {
    const char* Name;
    std::size_t FlipAt; // offset in the sender's stream; past the end for none
    std::size_t CutAt;
    const char* SenderSays;
    const char* ReceiverSays;
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.Name;
}

class LargeBodyOnTheWay : public ::testing::TestWithParam<DamageCase> {};

// qbmsg send in its own process, through a proxy that damages or cuts, to a
// receiver here: never stored, never acknowledged.
TEST_P(LargeBodyOnTheWay, IsNeverAcknowledgedNorHandedOver)
{
    const DamageCase& c = GetParam();
    const TTempFolder dir;
    const std::string file = (dir.Path / "body.bin").string();
    WriteFile(file, Pattern(2 * 1024 * 1024));
    RunningReceiver r;
    r.Server.ReplyAfterHandler = true;
    TcpListener front;
    auto proxy = ProxyAsync(front, r.Port(), c.FlipAt, c.CutAt);
    TChild sender(QBMSG, {"send", "--no-name", "--port", std::to_string(front.Port()), "--timeout", "10000", file}); // version 1's offsets
    ASSERT_TRUE(sender.AwaitEnd(20000));
    EXPECT_EQ(sender.ExitCode(), 1);
    EXPECT_THAT(sender.Errors(), HasSubstr(c.SenderSays));
    EXPECT_THAT(AwaitRecordedExceptions(), ElementsAre(c.ReceiverSays));
    EXPECT_TRUE(r.Messages.empty());
    proxy.wait();
}

// The header of a name "Quillbrook" is 24 bytes.
INSTANTIATE_TEST_SUITE_P(Cases, LargeBodyOnTheWay,
    ::testing::Values(DamageCase {"AByteFlippedInTheBody", 24 + 1000000, SIZE_MAX, qbmsg::kCheckFailed.c_str(),
                                  "Message check failed: the body arrived damaged"},
        DamageCase {"AByteFlippedInTheCheck", 24 + 2 * 1024 * 1024 + 3, SIZE_MAX, qbmsg::kCheckFailed.c_str(),
                    "Message check failed: the body arrived damaged"},
        DamageCase {"CutInsideTheBody", SIZE_MAX, 24 + 1500000, "qbmsg send: ", "Read Failed"},
        DamageCase {"CutBeforeTheCheck", SIZE_MAX, 24 + 2 * 1024 * 1024, "qbmsg send: ", "Read Failed"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LargeForm, QbmsgCarriesAFileOfAnySizeToQbmsgAndStoresItByName)
{
    const TTempFolder dir;
    const std::string file = (dir.Path / "big.bin").string();
    const std::string bytes = Pattern(5 * 1024 * 1024 + 3);
    WriteFile(file, bytes);
    std::filesystem::create_directory(dir.Path / "in");
    const std::string in = (dir.Path / "in").string();
    const std::uint16_t port = FreePort();
    TChild receiver(QBMSG, {"receive", "--port", std::to_string(port), "--count", "1", "--out", in});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    TChild sender(QBMSG, {"send", "--port", std::to_string(port), file});
    ASSERT_TRUE(sender.AwaitEnd(20000) && receiver.AwaitEnd(20000));
    EXPECT_EQ(sender.ExitCode(), 0) << sender.Errors();
    EXPECT_EQ(sender.Errors(), ""); // no progress line when standard error is no terminal
    EXPECT_EQ(receiver.ExitCode(), 0);
    const std::string stored = (dir.Path / "in" / "big.bin").string(); // as the system writes a path
    EXPECT_EQ(WithoutPeerPort(receiver.Output()), "\"Quillbrook\" 5242883 (5.0 MiB) from 127.0.0.1 " + stored);
    EXPECT_TRUE(ReadFile(stored) == bytes);
}
