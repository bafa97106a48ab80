// Stream messages between processes, and with programs nobody here wrote.
#include "receiver.h"

#include <gmock/gmock.h>

#include <QProcess>
#include <QTemporaryDir>

#include <fstream>

using ::testing::ElementsAre;

namespace {

std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const QString& path, const std::string& bytes)
{
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + 17) % 256);
    return bytes;
}

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
    receiver.start(STREAM_PEER, {"receive", QString::number(port), QString::number(sizes.size()), dir.path()});
    ASSERT_TRUE(receiver.waitForReadyRead(10000));
    ASSERT_EQ(receiver.readLine().trimmed(), "listening");

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
        EXPECT_EQ(lines[static_cast<int>(i)].toStdString(), std::to_string(i + 1) + " Quillbrook " + std::to_string(sizes[i]));
        EXPECT_EQ(ReadFile(dir.filePath(QString::number(i + 1) + ".body")), Pattern(sizes[i])) << sizes[i];
    }
}

TEST(EndToEnd, AReceiverHereGetsWhatAnotherProcessPosts)
{
    RunningReceiver r;
    QTemporaryDir dir;
    const QString file = dir.filePath("picture.bmp");
    WriteFile(file, Pattern(3000));
    QProcess sender;
    sender.start(STREAM_PEER, {"send", QString::number(r.Port()), "Quillbrook", file});
    ASSERT_TRUE(Finished(sender));
    EXPECT_EQ(sender.readAllStandardOutput().trimmed().toStdString(), "[" + kOkReply + "]");
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
