// The real qbmsg executable, against plain peers, netcat and itself.
#include "peers.h"
#include "recorder.h"

#include "helpers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>

using namespace ferro;

namespace {

const std::string kOk = "OK              ";

struct Outcome {
    int Exit = -1;
    std::string Out, Err;
};

bool Finished(QProcess& p, int ms = 15000)
{
    return PumpUntil([&] { return p.state() == QProcess::NotRunning; }, ms);
}

Outcome Qbmsg(const QStringList& args, const QString& input = {})
{
    QProcess p;
    if (!input.isEmpty())
        p.setStandardInputFile(input);
    p.start(QBMSG, args);
    Finished(p);
    return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

struct Receiver {
    explicit Receiver(QStringList extra = {}) : Port(FreePort())
    {
        Process.start(QBMSG, QStringList {"receive", "--port", QString::number(Port), "--out", Dir.path()} + extra);
        EXPECT_TRUE(PumpUntil([&] { return ListensOn(Port); }, 10000));
    }
    ~Receiver()
    {
        Process.kill();
        Process.waitForFinished();
    }
    QStringList Lines()
    {
        Out += QString(Process.readAllStandardOutput());
        return Out.split('\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir Dir;
    std::uint16_t Port;
    QProcess Process;
    QString Out;
};

// A plain receiver on its own thread: takes one message of `size` bytes,
// answers `reply`, waits for the sender to close, and returns what it took.
std::future<std::string> AnswerOnce(TcpListener& listener, std::size_t size, std::string reply)
{
    return std::async(std::launch::async, [&listener, size, reply] {
        const int fd = listener.Accept(10000);
        std::string got = RecvSome(fd, size, 10000);
        SendAll(fd, reply);
        PeerClosed(fd);
        CloseFd(fd);
        return got;
    });
}

} // namespace

TEST(QbmsgSend, PutsExactlyTheStreamMessageOnTheWire)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "hello");
    TcpListener listener;
    auto wire = AnswerOnce(listener, 23, kOk);
    const Outcome r = Qbmsg({"send", "--port", QString::number(listener.Port()), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, kOk + "\n");
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");
}

TEST(QbmsgSend, ExitsOneWhenTheReceiverDoesNotAnswerOk)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "x");
    TcpListener listener;
    auto peer = AnswerOnce(listener, 19, "NO              ");
    const Outcome r = Qbmsg({"send", "--port", QString::number(listener.Port()), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Out, "NO              \n");
    peer.get();
}

TEST(QbmsgSend, RefusesTenThousandBytesBeforeConnecting)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("big"), std::string(10000, 'b'));
    TcpListener listener;
    const Outcome r = Qbmsg({"send", "--port", QString::number(listener.Port()), dir.filePath("big")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err, "qbmsg send: Message body too large (10000 bytes, at most 9999)\n");
    EXPECT_EQ(listener.Accept(100), -1);
}

TEST(QbmsgSend, UsageErrorsExitTwoAndAMissingFileExitsOne)
{
    Outcome r = Qbmsg({"send", "--colour", "red", "x"});
    EXPECT_EQ(r.Exit, 2);
    EXPECT_EQ(r.Err, "qbmsg: unknown option --colour\nTry 'qbmsg send --help'.\n");
    r = Qbmsg({"send"});
    EXPECT_EQ(r.Exit, 2);
    r = Qbmsg({"send", "--port", "70000", "x"});
    EXPECT_EQ(r.Exit, 2);
    EXPECT_NE(r.Err.find("--port wants a number from 1 to 65535"), std::string::npos);
    r = Qbmsg({"transmit"});
    EXPECT_EQ(r.Exit, 2);
    r = Qbmsg({"send", "/no/such/file.bmp"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err, "qbmsg send: Cannot open file /no/such/file.bmp\n");
    r = Qbmsg({"send", "--port", QString::number(UnusedPort()), "-"}, "/dev/null");
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err, "qbmsg send: Connection Failed\n");
}

TEST(QbmsgSend, HelpDescribesEachCommand)
{
    Outcome r = Qbmsg({"send", "--help"});
    EXPECT_EQ(r.Exit, 0);
    EXPECT_EQ(r.Out.rfind("Usage: qbmsg send [OPTION]... FILE", 0), 0u);
    r = Qbmsg({"receive", "--help"});
    EXPECT_EQ(r.Exit, 0);
    EXPECT_EQ(r.Out.rfind("Usage: qbmsg receive [OPTION]...", 0), 0u);
}

TEST(QbmsgSend, VerboseShowsTheComponentAtWork)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "abc");
    Receiver receiver;
    const Outcome r = Qbmsg({"send", "--verbose", "4", "--port", QString::number(receiver.Port), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 0);
    QStringList operations;
    for (const QString& line : QString::fromStdString(r.Err).split('\n', Qt::SkipEmptyParts))
        if (line == "Connecting" || line == "Write" || line == "Send File" || line == "Disconnecting")
            operations << line;
    EXPECT_EQ(operations, (QStringList {"Connecting", "Write", "Write", "Send File", "Disconnecting"}));
}

TEST(QbmsgReceive, TakesWhatQbmsgSendsByteForByte)
{
    Receiver receiver;
    QTemporaryDir dir;
    int n = 0;
    for (std::size_t size : {0, 1, 255, 256, 9999}) {
        const QString file = dir.filePath(QString::number(size));
        WriteFile(file, Pattern(size));
        const Outcome r = Qbmsg({"send", "--port", QString::number(receiver.Port), file});
        EXPECT_EQ(r.Exit, 0) << size << r.Err;
        ++n;
        ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == n; }, 10000));
        const QString written = receiver.Dir.filePath(QString("message-%1.bin").arg(n));
        EXPECT_EQ(receiver.Lines().back(), QString("\"Quillbrook\" %1 %2").arg(size).arg(written));
        EXPECT_EQ(ReadFile(written), Pattern(size)) << size;
    }
}

TEST(QbmsgReceive, AnswersAMessagePipedInByNetcat)
{
    Receiver receiver;
    QTemporaryDir dir;
    WriteFile(dir.filePath("message"), "0002nc  12hand-made!!\n");
    QProcess nc;
    nc.setStandardInputFile(dir.filePath("message"));
    nc.start("nc", {"-N", "127.0.0.1", QString::number(receiver.Port)});
    ASSERT_TRUE(Finished(nc));
    EXPECT_EQ(nc.readAllStandardOutput().toStdString(), kOk);
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 1; }, 10000));
    EXPECT_EQ(ReadFile(receiver.Dir.filePath("message-1.bin")), "hand-made!!\n");
}

TEST(QbmsgReceive, ASendersNameNeverBecomesAPath)
{
    Receiver receiver;
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "data");
    const Outcome r = Qbmsg({"send", "--from", "../../etc/passwd\n\"x\"", "--port", QString::number(receiver.Port), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 0);
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 1; }, 10000));
    EXPECT_EQ(receiver.Lines()[0], QString("\"../../etc/passwd\\x0A\\\"x\\\"\" 4 %1").arg(receiver.Dir.filePath("message-1.bin")));
    EXPECT_EQ(QDir(receiver.Dir.path()).entryList(QDir::Files), QStringList {"message-1.bin"});
}

TEST(QbmsgReceive, FailedMessagesAreReportedAndCountEndsIt)
{
    Receiver receiver({"--count", "3"});
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "m");
    auto bad = ExchangeAsync(receiver.Port, {"00x1"}, 0, true);
    bad.get();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Qbmsg({"send", "--port", QString::number(receiver.Port), dir.filePath("body")}).Exit, 0);
    ASSERT_TRUE(Finished(receiver.Process));
    EXPECT_EQ(receiver.Process.exitCode(), 0);
    EXPECT_EQ(receiver.Lines().size(), 3);
    EXPECT_NE(QString(receiver.Process.readAllStandardError()).indexOf("qbmsg receive: '00x1' is not a valid integer value"), -1);
    EXPECT_FALSE(ListensOn(receiver.Port));
}

TEST(QbmsgReceive, ATerminationSignalEndsItCleanlyEvenWhileAClientStalls)
{
    Receiver receiver({"--verbose", "2"});
    const int stalled = ConnectTo(receiver.Port);
    SendAll(stalled, "00");
    PumpFor(200);
    ::kill(static_cast<pid_t>(receiver.Process.processId()), SIGTERM);
    ASSERT_TRUE(Finished(receiver.Process, 10000));
    EXPECT_EQ(receiver.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(receiver.Process.exitCode(), 0);
    EXPECT_FALSE(ListensOn(receiver.Port));
    CloseFd(stalled);
}

TEST(QbmsgReceive, APortInUseIsAnError)
{
    TcpListener other;
    QProcess p;
    p.start(QBMSG, {"receive", "--port", QString::number(other.Port())});
    ASSERT_TRUE(Finished(p));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_NE(QString(p.readAllStandardError()).indexOf("Cannot Listen On Port"), -1);
}
