// Stream messages between processes, and with programs nobody here wrote.
#include "helpers.h"
#include "receiver.h"

#include <gmock/gmock.h>

#include <QProcess>
#include <QTemporaryDir>

#include <fstream>

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
        EXPECT_EQ(lines[static_cast<int>(i)], QString("\"Quillbrook\" %1 %2").arg(sizes[i]).arg(written));
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
