// The large form carried by qbmsg in its own process: damaged and cut on
// the way, and a file of any size stored by name.
#include "qt_helpers.h"
#include "receiver.h"

#include <ferrolink/largeform.h>

#include <gmock/gmock.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

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
    QTemporaryDir dir;
    const QString file = dir.filePath("body.bin");
    WriteFile(file, Pattern(2 * 1024 * 1024));
    RunningReceiver r;
    r.Server.ReplyAfterHandler = true;
    TcpListener front;
    auto proxy = ProxyAsync(front, r.Port(), c.FlipAt, c.CutAt);
    QProcess sender;
    sender.start(QBMSG, {"send", "--no-name", "--port", QString::number(front.Port()), "--timeout", "10000", file}); // version 1's offsets
    ASSERT_TRUE(PumpUntil([&] { return sender.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(sender.exitCode(), 1);
    EXPECT_THAT(sender.readAllStandardError().toStdString(), HasSubstr(c.SenderSays));
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
    QTemporaryDir dir;
    const QString file = dir.filePath("big.bin");
    const std::string bytes = Pattern(5 * 1024 * 1024 + 3);
    WriteFile(file, bytes);
    QDir(dir.path()).mkdir("in");
    const std::uint16_t port = FreePort();
    QProcess receiver;
    receiver.start(QBMSG, {"receive", "--port", QString::number(port), "--count", "1", "--out", dir.filePath("in")});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    QProcess sender;
    sender.start(QBMSG, {"send", "--port", QString::number(port), file});
    ASSERT_TRUE(PumpUntil([&] { return sender.state() == QProcess::NotRunning && receiver.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().toStdString();
    EXPECT_EQ(sender.readAllStandardError(), ""); // no progress line when standard error is no terminal
    EXPECT_EQ(receiver.exitCode(), 0);
    const QString stored = dir.filePath("in/big.bin");
    EXPECT_EQ(WithoutPeerPort(receiver.readAllStandardOutput()), QString("\"Quillbrook\" 5242883 (5.0 MiB) from 127.0.0.1 %1").arg(stored));
    EXPECT_TRUE(ReadFile(stored) == bytes);
}
