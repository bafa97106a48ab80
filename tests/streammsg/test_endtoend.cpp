// Stream messages between processes, and with programs nobody here wrote.
#include "qt_helpers.h"
#include "receiver.h"

#include <gmock/gmock.h>

#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

using namespace ferro;

using ::testing::ElementsAre;

namespace {

bool Finished(QProcess& p)
{
    return PumpUntil([&] { return p.state() == QProcess::NotRunning; }, 15000);
}

} // namespace

TEST(EndToEnd, PostItReachesAReceiverInAnotherProcessByteForByte)
{
    QTemporaryDir dir;
    const std::uint16_t port = FreePort();
    const std::vector<std::size_t> sizes = {0, 1, 255, 256, 9999};
    const QStringList readable = {"0 bytes", "1 byte", "255 bytes", "256 bytes", "9.8 KiB"};
    QProcess receiver;
    receiver.start(QBMSG, {"receive", "--port", QString::number(port), "--count", QString::number(sizes.size()), "--out", dir.path()});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));

    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = port;
    sender.FromName = "Quillbrook";
    sender.TimeOut = 10000;
    for (std::size_t size : sizes) {
        TMemoryStream body;
        const std::string bytes = Pattern(size);
        body.WriteBuffer(bytes.data(), static_cast<std::int64_t>(size));
        EXPECT_EQ(sender.PostIt(body), kOkReply) << size;
    }
    ASSERT_TRUE(Finished(receiver));
    EXPECT_EQ(receiver.exitCode(), 0);
    const QStringList lines = QString(receiver.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), static_cast<int>(sizes.size()));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const QString written = dir.filePath(QString("message-%1.bin").arg(i + 1));
        EXPECT_EQ(WithoutPeerPort(lines[static_cast<int>(i)]),
                  QString("\"Quillbrook\" %1 (%3) from 127.0.0.1 %2").arg(sizes[i]).arg(written, readable[static_cast<int>(i)]));
        EXPECT_EQ(ReadFile(written), Pattern(sizes[i])) << sizes[i];
    }
}

TEST(EndToEnd, AReceiverHereGetsWhatAnotherProcessPosts)
{
    RunningReceiver r;
    QTemporaryDir dir;
    const QString file = dir.filePath("picture.bmp");
    WriteFile(file, Pattern(3000));
    QProcess sender;
    sender.start(QBMSG, {"send", "--port", QString::number(r.Port()), file});
    ASSERT_TRUE(Finished(sender));
    EXPECT_EQ(sender.readAllStandardOutput().toStdString(), kOkReply + "\n");
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].From, "Quillbrook");
    EXPECT_EQ(r.Messages[0].Body, Pattern(3000));
}

TEST(EndToEnd, TheReceiverAnswersAMessagePipedInByNetcat)
{
    RunningReceiver r;
    QTemporaryDir dir;
    const QString file = dir.filePath("message");
    WriteFile(file, "0006netcat  11hello world");
    QProcess nc;
    nc.setStandardInputFile(file);
    nc.start("nc", {"-N", "127.0.0.1", QString::number(r.Port())});
    ASSERT_TRUE(Finished(nc));
    EXPECT_EQ(nc.readAllStandardOutput().toStdString(), kOkReply);
    ASSERT_EQ(r.Messages.size(), 1u);
    EXPECT_EQ(r.Messages[0].From, "netcat");
    EXPECT_EQ(r.Messages[0].Body, "hello world");
}

TEST(EndToEnd, WhatPostItSendsIsWhatSocatCaptures)
{
    QTemporaryDir dir;
    const std::uint16_t port = FreePort();
    const QString capture = dir.filePath("wire");
    const QString reply = dir.filePath("reply");
    WriteFile(reply, kOkReply);
    // socat listens on its own: stdin gives the reply, stdout captures the wire.
    QProcess peer;
    peer.setStandardInputFile(reply);
    peer.setStandardOutputFile(capture);
    peer.start("socat", {"-t", "5", QString("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port), "STDIO"});
    ASSERT_TRUE(peer.waitForStarted());
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = port;
    sender.FromName = "Quillbrook";
    sender.TimeOut = 10000;
    TMemoryStream body;
    body.WriteBuffer("hello", 5);
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
        try {
            got = sender.PostIt(body);
            return true;
        } catch (const ESockError&) {
            return false; // socat not listening yet
        }
    }, 10000));
    EXPECT_EQ(got, kOkReply);
    ASSERT_TRUE(Finished(peer));
    EXPECT_EQ(ReadFile(capture), "0010Quillbrook   5hello");
}

// --- faults across processes ------------------------------------------------------

namespace {

// The lowest descriptor number a process has free: a limit there leaves it
// without any new descriptor.
int LowestFreeDescriptor(qint64 pid)
{
    std::set<int> used;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        used.insert(std::stoi(entry.path().filename().string()));
    int lowest = 0;
    while (used.count(lowest))
        ++lowest;
    return lowest;
}

// Processor time a process has used, in clock ticks.
long CpuTicks(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    if (text.rfind(')') == std::string::npos)
        return -1; // gone
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i)
        if (i == 14 || i == 15) // utime, stime
            ticks += std::stol(field);
    return ticks;
}

std::string Message(const std::string& from, const std::string& body)
{
    char fields[16];
    std::snprintf(fields, sizeof fields, "%.4d", static_cast<int>(from.size()));
    std::string message = fields + from;
    std::snprintf(fields, sizeof fields, "%4d", static_cast<int>(body.size()));
    return message + fields + body;
}

} // namespace

TEST(EndToEnd, AReceiverOutOfDescriptorsPausesTellsItOnceAndServesWhenTheyAreBack)
{
#ifdef FERRO_SANITIZED
    GTEST_SKIP() << "the sanitizers need descriptors of their own: without one they report every object as invalid";
#endif
    QTemporaryDir dir;
    const std::uint16_t port = FreePort();
    QProcess receiver;
    receiver.start(QBMSG, {"receive", "--port", QString::number(port), "--count", "1", "--out", dir.path()});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    const qint64 pid = receiver.processId();
    rlimit full {};
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, nullptr, &full), 0);
    rlimit none = full;
    none.rlim_cur = static_cast<rlim_t>(LowestFreeDescriptor(pid));
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, &none, nullptr), 0);

    auto reply = ExchangeAsync(port, {Message("starved", "patience")});
    const long before = CpuTicks(pid);
    ASSERT_GE(before, 0);
    PumpFor(1000); // the client waits in the backlog meanwhile
    const long used = CpuTicks(pid) - before;
    EXPECT_LT(used * 100 / ::sysconf(_SC_CLK_TCK), 10) << "per cent of a core while short of descriptors";

    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, &full, nullptr), 0);
    ASSERT_TRUE(PumpUntil([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    EXPECT_EQ(reply.get(), kOkReply);
    ASSERT_TRUE(Finished(receiver));
    EXPECT_EQ(ReadFile(dir.filePath("message-1.bin")), "patience");
    EXPECT_EQ(receiver.readAllStandardError().toStdString(), "qbmsg receive: too many open files (Unknown Error No. 10024)\n");
}

TEST(EndToEnd, APostReportedAsFailedIsNeverDeliveredLater)
{
    QTemporaryDir dir;
    const std::uint16_t port = FreePort();
    QProcess receiver;
    receiver.start(QBMSG, {"receive", "--port", QString::number(port), "--count", "1", "--out", dir.path()});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    // A silent client holds the receiver while the post waits for its reply.
    const int holder = ConnectTo(port);
    PumpFor(100);
    const QString file = dir.filePath("first.bin");
    WriteFile(file, "first try");
    QProcess post;
    post.start(QBMSG, {"send", "--port", QString::number(port), "--timeout", "500", file});
    ASSERT_TRUE(Finished(post));
    EXPECT_EQ(post.exitCode(), 1);
    EXPECT_EQ(post.readAllStandardError().toStdString(), "qbmsg send: Read Timed Out\n");
    CloseFd(holder);
    // The retry is the only message stored.
    WriteFile(file, "second try");
    QProcess retry;
    retry.start(QBMSG, {"send", "--port", QString::number(port), file});
    ASSERT_TRUE(Finished(retry));
    EXPECT_EQ(retry.exitCode(), 0);
    ASSERT_TRUE(Finished(receiver));
    // The file is sent from the receiver's own folder: its name is taken.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList {"first-1.bin", "first.bin"}));
    EXPECT_EQ(ReadFile(dir.filePath("first-1.bin")), "second try");
}
