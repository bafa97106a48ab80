// The real qbmsg executable, against plain peers, netcat and itself.
#include "qbmsg_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>
#include <memory>

using namespace ferro;

namespace {

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
    const Outcome r = Qbmsg({"send", "--no-name", "--port", QString::number(listener.Port()), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, kOk + "\n");
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");
}

// Closed standard descriptors are no descriptors for qbmsg to reuse: with
// output and error closed, its texts (a forced progress line, status texts
// at every level, the reply) go nowhere, never onto the connection; with
// input closed, "-" says so.
TEST(QbmsgSend, ClosedStandardDescriptorsAreNeverTheConnection)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "hello");
    TcpListener listener;
    auto wire = std::async(std::launch::async, [&listener] {
        const int fd = listener.Accept(10000);
        std::string got = RecvSome(fd, 23, 10000);
        SendAll(fd, kOk);
        got += RecvAll(fd, 10000); // anything more before the close
        CloseFd(fd);
        return got;
    });
    QProcess closed;
    closed.start("bash", {"-c", QString("exec '%1' send --no-name -p %2 --progress always -v 31 '%3' >&- 2>&-").arg(QBMSG).arg(listener.Port()).arg(dir.filePath("body"))});
    ASSERT_TRUE(Finished(closed));
    EXPECT_EQ(closed.exitCode(), 0);
    EXPECT_EQ(wire.get(), "0010Quillbrook   5hello");

    QProcess noInput;
    noInput.start("bash", {"-c", QString("exec '%1' send -p %2 - <&-").arg(QBMSG).arg(UnusedPort())});
    ASSERT_TRUE(Finished(noInput));
    EXPECT_EQ(noInput.exitCode(), 1);
    EXPECT_EQ(noInput.readAllStandardError().toStdString(), "qbmsg send: Cannot read standard input: it is closed\n");
}

TEST(QbmsgSend, ExitsOneWhenTheReceiverDoesNotAnswerOk)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "x");
    TcpListener listener;
    auto peer = AnswerOnce(listener, 19, "NO              ");
    const Outcome r = Qbmsg({"send", "--no-name", "--port", QString::number(listener.Port()), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Out, "NO              \n");
    peer.get();
}

TEST(QbmsgSend, ALargeFileIsReadAsItGoesAndRefusedByWhatTheReceiverSays)
{
    QTemporaryDir dir;
    // A receiver that knows only the fixed form fails on the first field.
    WriteFile(dir.filePath("big"), std::string(10000, 'b'));
    TcpListener listener;
    auto peer = std::async(std::launch::async, [&] {
        const int fd = listener.Accept(10000);
        const std::string field = RecvSome(fd, 4, 10000);
        CloseFd(fd);
        return field;
    });
    Outcome r = Qbmsg({"send", "--no-name", "--port", QString::number(listener.Port()), dir.filePath("big")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err, "qbmsg send: The receiver does not take messages over 9999 bytes\n");
    EXPECT_EQ(peer.get(), "QBIG");

    // A 3 GiB file (sparse) is never read into memory: 1 GiB of address
    // space is all it gets (but under the sanitizers, whose shadow memory
    // alone needs more); the receiver refuses it by its size.
    QFile huge(dir.filePath("huge"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(3LL << 30));
    huge.close();
#ifdef FERRO_SANITIZED
    const QString limit = "true";
#else
    const QString limit = "ulimit -v 1048576";
#endif
    Receiver receiver({"--max-size", "1M"});
    QProcess p;
    p.start("bash", {"-c", QString("%4 && exec '%1' send -p %2 '%3'").arg(QBMSG).arg(receiver.Port).arg(huge.fileName(), limit)});
    ASSERT_TRUE(Finished(p));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_EQ(p.readAllStandardError().toStdString(), "qbmsg send: Message body too large for the receiver (3221225472 bytes, at most 1048576)\n");

    // Standard input without end fills what it may, and says so.
    QProcess endless;
    endless.start("bash", {"-c", QString("ulimit -f 1024 && exec '%1' send -p %2 - </dev/zero").arg(QBMSG).arg(receiver.Port)});
    ASSERT_TRUE(Finished(endless));
    EXPECT_EQ(endless.exitCode(), 1);
    EXPECT_EQ(endless.readAllStandardError().toStdString(), "qbmsg send: Cannot hold standard input in a temporary file: File too large\n");
}

TEST(Qbmsg, TakesOptionsTheWayUnixToolsDo)
{
    struct Case {
        QStringList Args;
        int Exit;
        std::string Out, Err; // the beginning of each
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: qbmsg COMMAND", ""},
        {{"-h"}, 0, "Usage: qbmsg COMMAND", ""},
        {{"help"}, 0, "Usage: qbmsg COMMAND", ""},
        {{"help", "send"}, 0, "Usage: qbmsg send [OPTION]... FILE", ""},
        {{"help", "receive"}, 0, "Usage: qbmsg receive [OPTION]...", ""},
        {{"send", "-h"}, 0, "Usage: qbmsg send [OPTION]... FILE", ""},
        {{"send", "--help"}, 0, "Usage: qbmsg send [OPTION]... FILE", ""},
        {{"receive", "-h"}, 0, "Usage: qbmsg receive [OPTION]...", ""},
        {{"--version"}, 0, "qbmsg (Ferrolink) 1.0.0\n", ""},
        {{}, 2, "", "qbmsg: no command given\nTry 'qbmsg --help'.\n"},
        {{"-x"}, 2, "", "qbmsg: unknown option '-x'\nTry 'qbmsg --help'.\n"},
        {{"transmit"}, 2, "", "qbmsg: unknown command 'transmit'\nTry 'qbmsg --help'.\n"},
        {{"help", "transmit"}, 2, "", "qbmsg: no command 'transmit'"},
        {{"send", "--colour", "red", "x"}, 2, "", "qbmsg send: Unknown option 'colour'.\nTry 'qbmsg send --help'.\n"},
        {{"send", "-q", "x"}, 2, "", "qbmsg send: Unknown option 'q'."},
        {{"send"}, 2, "", "qbmsg send: no FILE to send\n"},
        {{"send", "-", "a", "-"}, 2, "", "qbmsg send: standard input (-) can be sent once\n"},
        {{"send", "--port", "70000", "x"}, 2, "", "qbmsg send: --port wants a number from 1 to 65535, not '70000'\n"},
        {{"send", "-p"}, 2, "", "qbmsg send: Missing value after '-p'."},
        {{"send", "x", "--port"}, 2, "", "qbmsg send: Missing value after '--port'."},
        {{"send", "-46", "x"}, 2, "", "qbmsg send: -4 and -6 exclude each other\n"}, // both flags taken
        {{"send", "-ab", "x"}, 2, "", "qbmsg send: Unknown options: a, b.\n"},
        {{"send", "--ipv4=yes", "x"}, 2, "", "qbmsg send: Unexpected value after '--ipv4'.\n"},
        {{"send", "-4=", "x"}, 2, "", "qbmsg send: Unexpected value after '-4'.\n"},
        {{"send", "--bogus", "--help=x"}, 2, "", "qbmsg send: Unexpected value after '--help'.\n"},
        {{"send", "-p=0", "x"}, 2, "", "qbmsg send: --port wants a number from 1 to 65535, not '0'\n"},
        {{"send", "-4p", "0x10", "x"}, 2, "", "qbmsg send: --port wants a number from 1 to 65535, not '0x10'\n"},
        {{"send", "x", "-t", " 1e3"}, 2, "", "qbmsg send: --timeout wants a number from 0 to 2147483647, not ' 1e3'\n"},
        {{"receive", "-n", "0"}, 2, "", "qbmsg receive: --count wants a number from 1 to"},
        {{"receive", "extra"}, 2, "", "qbmsg receive: unexpected argument 'extra'\n"},
        {{"receive", "--max-size", "9999999999G"}, 2, "", "qbmsg receive: --max-size is out of range (at most 9223372036854775807 bytes)\n"},
        {{"receive", "--max-size", "99999999999999999999"}, 2, "", "qbmsg receive: --max-size is out of range"},
        {{"send", "--from", QString(252, 'n'), "x"}, 2, "", "qbmsg send: --from may be at most 251 characters, not 252\n"},
    };
    for (const Case& c : cases) {
        const Outcome r = Qbmsg(c.Args);
        const std::string call = c.Args.join(' ').toStdString();
        EXPECT_EQ(r.Exit, c.Exit) << call;
        EXPECT_EQ(r.Out.substr(0, c.Out.size()), c.Out) << call;
        EXPECT_EQ(r.Err.substr(0, c.Err.size()), c.Err) << call;
        if (c.Exit == 2) {
            EXPECT_EQ(r.Out, "") << call; // usage errors go to standard error only
        }
    }
}

TEST(QbmsgSend, ShortOptionsAndTheEndOfOptions)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("-dash"), "hello"); // a file whose name looks like an option
    TcpListener listener;
    auto wire = AnswerOnce(listener, 15, kOk);
    QProcess p;
    p.setWorkingDirectory(dir.path());
    // A value joined to its option by "=", or with spaces around a number.
    p.start(QBMSG, {"send", "-H", "127.0.0.1", "-p=" + QString::number(listener.Port()), "-fme", "-t", " 5000 ", "-v", "0", "--no-name", "--", "-dash"});
    ASSERT_TRUE(Finished(p));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(wire.get(), "0002me   5hello");
}

TEST(QbmsgSend, ErrorsSayWhatFailedAndWhy)
{
    QTemporaryDir dir;
    const QString refused = QString::number(UnusedPort());
    struct Case {
        QStringList Args;
        QString Input; // standard input from this file
        std::string Err;
    };
    const Case cases[] = {
        {{"send", "/no/such/file.bmp"}, {}, "qbmsg send: Cannot open file /no/such/file.bmp: No such file or directory\n"},
        {{"send", dir.path()}, {}, "qbmsg send: " + dir.path().toStdString() + ": no files in this folder\n"},
        {{"send", "-p", refused, "-"}, dir.path(), "qbmsg send: Cannot read standard input: Is a directory\n"},
        {{"send", "-p", refused, "-"}, "/dev/null", "qbmsg send: Connection Failed: 127.0.0.1 port " + refused.toStdString() + " (connection refused)\n"},
        {{"send", "-H", "no-such-host.invalid", "-"}, "/dev/null", "qbmsg send: Host Lookup Failed: no-such-host.invalid (host not found)\n"},
    };
    for (const Case& c : cases) {
        const Outcome r = Qbmsg(c.Args, c.Input);
        EXPECT_EQ(r.Exit, 1) << c.Err;
        EXPECT_EQ(r.Err, c.Err);
        EXPECT_EQ(r.Out, "");
    }
}

TEST(QbmsgSend, ARepliesBytesNeverReachTheTerminalRaw)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "x");
    TcpListener listener;
    auto peer = AnswerOnce(listener, 19, std::string("\x1b[2J\x07NO\0\xff  \n    ", 16)); // 16 bytes
    const Outcome r = Qbmsg({"send", "--no-name", "--port", QString::number(listener.Port()), dir.filePath("body")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Out, "\\x1B[2J\\x07NO\\x00\\xFF  \\x0A    \n");
    EXPECT_EQ(r.Err, "qbmsg send: the receiver did not answer \"OK\": the message was not stored\n");
    peer.get();
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
        if (line == "Connecting" || line == "Write" || line == "Send File" || line == "Send Stream" || line == "Disconnecting")
            operations << line;
    EXPECT_EQ(operations, (QStringList {"Connecting", "Send Stream", "Disconnecting"})); // named: the large form's version 2
}

TEST(QbmsgReceive, TakesWhatQbmsgSendsByteForByte)
{
    Receiver receiver;
    QTemporaryDir dir;
    int n = 0;
    const QStringList readable = {"0 bytes", "1 byte", "255 bytes", "256 bytes", "9.8 KiB", "9.8 KiB"};
    for (std::size_t size : {0, 1, 255, 256, 9999, 10000}) {
        const QString file = dir.filePath(QString::number(size));
        WriteFile(file, Pattern(size));
        const Outcome r = Qbmsg({"send", "--port", QString::number(receiver.Port), file});
        EXPECT_EQ(r.Exit, 0) << size << r.Err;
        ++n;
        ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == n; }, 10000));
        const QString written = receiver.Dir.filePath(QString::number(size)); // the file's own name
        EXPECT_EQ(WithoutPeerPort(receiver.Lines().back()), QString("\"Quillbrook\" %1 (%3) from 127.0.0.1 %2").arg(size).arg(written, readable[n - 1]));
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
    EXPECT_EQ(WithoutPeerPort(receiver.Lines()[0]), QString("\"../../etc/passwd\\x0A\\\"x\\\"\" 4 (4 bytes) from 127.0.0.1 %1").arg(receiver.Dir.filePath("body")));
    EXPECT_EQ(QDir(receiver.Dir.path()).entryList(QDir::Files), QStringList {"body"});
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

namespace {

// qbmsg receive storing into a 64 KiB disk of its own: a tmpfs mounted in a
// private mount namespace, seen from here through the process's root. Where
// mounts are not allowed, a file size limit of 8 KiB stands in for the full
// disk instead.
struct ReceiverOnASmallDisk {
    ReceiverOnASmallDisk() : Port(FreePort())
    {
        const QString args = QString("receive --port %1 --out %2").arg(Port).arg(Dir.path());
        Mounted = QProcess::execute("unshare", {"-m", "true"}) == 0;
        if (Mounted)
            Process.start("unshare", {"-m", "sh", "-c", QString("mount -t tmpfs -o size=64k tmpfs '%1' && exec '%2' %3").arg(Dir.path(), QBMSG, args)});
        else
            Process.start("sh", {"-c", QString("ulimit -f 8 && exec '%1' %2").arg(QBMSG, args)});
        EXPECT_TRUE(PumpUntil([&] { return ListensOn(Port); }, 10000));
    }
    ~ReceiverOnASmallDisk()
    {
        Process.kill();
        Process.waitForFinished();
    }
    // The folder as the receiver sees it.
    QString Folder() const
    {
        return Mounted ? QString("/proc/%1/root%2").arg(Process.processId()).arg(Dir.path()) : Dir.path();
    }
    QTemporaryDir Dir;
    std::uint16_t Port;
    bool Mounted = false;
    QProcess Process;
};

} // namespace

TEST(QbmsgReceive, OkMeansStoredWholeEvenOnAFullDisk)
{
    ReceiverOnASmallDisk receiver;
    QTemporaryDir dir;
    const std::string body = Pattern(9078);
    WriteFile(dir.filePath("body"), body);
    std::vector<std::unique_ptr<QProcess>> senders;
    for (int i = 0; i < 10; ++i) {
        senders.push_back(std::make_unique<QProcess>());
        senders.back()->start(QBMSG, {"send", "--no-name", "-p", QString::number(receiver.Port), "-t", "20000", dir.filePath("body")}); // the fixed form
    }
    int told = 0;
    for (auto& sender : senders) {
        ASSERT_TRUE(Finished(*sender, 30000));
        const std::string out = sender->readAllStandardOutput().toStdString();
        if (sender->exitCode() == 0) {
            EXPECT_EQ(out, kOk + "\n");
            ++told;
        } else {
            EXPECT_EQ(sender->exitCode(), 1);
            EXPECT_EQ(sender->readAllStandardError().toStdString(), "qbmsg send: the receiver did not answer \"OK\": the message was not stored\n");
        }
    }
    const QStringList files = QDir(receiver.Folder()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(files.size(), told) << files.join(" ").toStdString(); // no temporary file is left either
    for (const QString& file : files) {
        EXPECT_TRUE(file.startsWith("message-") && file.endsWith(".bin")) << file.toStdString();
        EXPECT_TRUE(ReadFile(receiver.Folder() + "/" + file) == body) << file.toStdString() << " is not whole";
    }
    EXPECT_GT(told, 0);
    EXPECT_LT(told, 10); // the disk did run full
    const QString errors = receiver.Process.readAllStandardError();
    EXPECT_NE(errors.indexOf(receiver.Mounted ? "No space left on device" : "File too large"), -1) << errors.toStdString();
}

// A large body that fills the disk half way is answered "NOT STORED" before
// it has all come: the sender reads that answer and says it, every time,
// instead of meeting a reset in its writes.
TEST(QbmsgReceive, ALargeBodyThatFillsTheDiskIsToldAsNotStored)
{
    ReceiverOnASmallDisk receiver;
    QTemporaryDir dir;
    WriteFile(dir.filePath("large"), Pattern(4 << 20));
    for (int i = 0; i < 5; ++i) {
        const Outcome sent = Qbmsg({"send", "-p", QString::number(receiver.Port), "-t", "20000", dir.filePath("large")});
        EXPECT_EQ(sent.Exit, 1);
        EXPECT_EQ(sent.Err, "qbmsg send: The receiver could not store the message\n") << i;
    }
    EXPECT_TRUE(QDir(receiver.Folder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(QbmsgReceive, ChecksItsFolderAtStart)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("file"), "x");
    const std::pair<QString, std::string> cases[] = {
        {dir.filePath("missing"), "qbmsg receive: Cannot use folder " + dir.filePath("missing").toStdString() + ": No such file or directory\n"},
        {dir.filePath("file"), "qbmsg receive: Cannot use folder " + dir.filePath("file").toStdString() + ": Not a directory\n"},
    };
    for (const auto& [folder, error] : cases) {
        const Outcome r = Qbmsg({"receive", "-p", QString::number(FreePort()), "-o", folder});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_EQ(r.Err, error);
    }
}

TEST(QbmsgReceive, NetworkBytesInItsErrorsAreEscaped)
{
    Receiver receiver;
    ExchangeAsync(receiver.Port, {std::string("\x1b[2J", 4)}, 0, true).get();
    ExchangeAsync(receiver.Port, {std::string("0\0\n1", 4)}, 0, true).get();
    QString errors;
    ASSERT_TRUE(PumpUntil([&] {
        errors += QString(receiver.Process.readAllStandardError());
        return errors.count('\n') >= 2;
    }, 10000));
    // Each failure says whose message it was.
    errors.replace(QRegularExpression(":[0-9]+\\)\n"), ")\n");
    EXPECT_EQ(errors.toStdString(), "qbmsg receive: '\\x1B[2J' is not a valid integer value (from 127.0.0.1)\n"
                                    "qbmsg receive: '0\\x00\\x0A1' is not a valid integer value (from 127.0.0.1)\n");
}

TEST(QbmsgReceive, IdleAndDeadlineLimitAClientWhereTheTimeOutLimitsAWait)
{
    // A byte every 200 ms never makes a single wait of 1 s time out; the
    // deadline lets it go.
    Receiver receiver({"--timeout", "1000", "--idle", "500", "--deadline", "1500"});
    std::vector<std::string> drip = {"0001a  30"};
    for (int i = 0; i < 30; ++i)
        drip.emplace_back(1, 'd');
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ExchangeAsync(receiver.Port, drip, 200).get(), "");
    QString errors;
    ASSERT_TRUE(PumpUntil([&] { return (errors += receiver.Process.readAllStandardError()).contains('\n'); }, 5000));
    EXPECT_TRUE(errors.startsWith("qbmsg receive: Read Timed Out (from 127.0.0.1:")) << errors.toStdString();
    // A silent client is let go after the idle limit.
    const int silent = ConnectTo(receiver.Port);
    EXPECT_TRUE(PeerClosed(silent, 3000));
    CloseFd(silent);
}

TEST(QbmsgManual, ShowsEveryOptionOfEveryCommand)
{
    QProcess man;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("MANPAGER", "cat");
    env.insert("MANWIDTH", "100");
    man.setProcessEnvironment(env);
    man.start("man", {"--warnings", "-l", QBMSG_MANUAL});
    ASSERT_TRUE(Finished(man));
    EXPECT_EQ(man.exitCode(), 0);
    EXPECT_EQ(man.readAllStandardError().toStdString(), ""); // no formatting warning
    const QString manual = man.readAllStandardOutput();
    for (const char* command : {"send", "receive", "identity"}) {
        const QString help = QString::fromStdString(Qbmsg({command, "--help"}).Out);
        for (const QString& word : help.split(QRegularExpression("[\\s,]+"))) {
            EXPECT_TRUE(!word.startsWith("-") || manual.contains(word)) << command << " " << word.toStdString() << " is not in the manual";
        }
    }
}

TEST(QbmsgSend, ShowsAProgressLineOnATerminalOnlyAndCompletesIt)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("big"), Pattern(20 * 1024 * 1024));
    Receiver receiver;
    const auto onTerminal = [&](const QString& options, int columns = 100) {
        QProcess p; // script gives the command a pseudo-terminal as its standard error
        p.start("script", {"-qec", QString("stty cols %5 && exec '%1' send -p %2 %3 '%4'").arg(QBMSG).arg(receiver.Port).arg(options, dir.filePath("big")).arg(columns),
                           "/dev/null"});
        Finished(p);
        return QString(p.readAllStandardOutput());
    };
    const QString shown = onTerminal("");
    EXPECT_TRUE(shown.contains(QRegularExpression("\r\033\\[K20\\.0 MiB of 20\\.0 MiB  100%  [0-9.]+ [KMG]iB/s  0:00 left\r?\n")))
        << shown.toStdString();
    // Fitted to a narrow terminal: what matters least is left out, and no
    // line wraps (a wrapped one could not be rewritten in place).
    for (const int columns : {40, 24, 12}) {
        const QString narrow = onTerminal("", columns);
        bool whole = false;
        for (const QString& drawn : narrow.split("\r\033[K", Qt::SkipEmptyParts)) {
            const QString line = drawn.section('\r', 0, 0);
            EXPECT_LT(line.size(), columns) << columns << ": " << line.toStdString();
            whole = whole || line.contains("100%");
        }
        EXPECT_TRUE(whole) << narrow.toStdString();
    }
    EXPECT_TRUE(shown.endsWith("OK              \r\n")) << shown.toStdString();
    EXPECT_EQ(onTerminal("--progress never"), "OK              \r\n");
    EXPECT_EQ(Qbmsg({"send", "-p", QString::number(receiver.Port), "--progress", "sometimes", dir.filePath("big")}).Exit, 2);
}
