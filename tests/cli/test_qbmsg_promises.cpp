// qbmsg receive keeps its word with real processes around it: "OK" is said
// exactly for what was stored, under stop signals, slow disks, a full
// standard output, odd folders and bytes that are no UTF-8.
#include "qbmsg_support.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <set>

namespace {

// qbmsg receive with every fsync slowed by `delayMs` (strace's fault
// injection): storing takes that long, waits for the network do not.
QStringList SlowStorage(int delayMs)
{
    return {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync",
            "-e", QString("inject=fsync:delay_exit=%1").arg(delayMs * 1000), "--"};
}

struct Senders {
    // Starts `n` senders at once, each with a body of its own.
    Senders(std::uint16_t port, int n, int timeoutMs = 15000)
    {
        for (int i = 0; i < n; ++i) {
            const QString file = Dir.filePath(QString("body-%1").arg(i));
            WriteFile(file, "body of sender " + std::to_string(i));
            Processes.push_back(std::make_unique<QProcess>());
            Processes.back()->start(QBMSG, {"send", "-p", QString::number(port), "-t", QString::number(timeoutMs), file});
        }
    }
    // The bodies whose senders were told "OK", once all have ended.
    std::multiset<std::string> Acknowledged()
    {
        std::multiset<std::string> told;
        for (std::size_t i = 0; i < Processes.size(); ++i) {
            EXPECT_TRUE(Finished(*Processes[i], 30000)) << "sender " << i;
            if (Processes[i]->exitCode() == 0)
                told.insert("body of sender " + std::to_string(i));
        }
        return told;
    }
    QTemporaryDir Dir;
    std::vector<std::unique_ptr<QProcess>> Processes;
};

// The bodies in the folder; a hidden file (a temporary one left behind)
// counts as one that should not be there.
std::multiset<std::string> Stored(const QString& folder)
{
    std::multiset<std::string> bodies;
    for (const QString& file : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        bodies.insert(!file.startsWith(".") ? ReadFile(folder + "/" + file) : "stray file " + file.toStdString());
    return bodies;
}

void Stop(const Receiver& receiver, int signal = SIGTERM)
{
    ::kill(static_cast<pid_t>(receiver.Pid()), signal);
}

} // namespace

// "OK" is said for exactly what is stored, whatever ends the receiver: a
// stop signal while thirty senders wait, or --count 1 while ten do. The
// store is slowed so that senders queue up behind it.
TEST(QbmsgReceivePromises, OkIsSaidForExactlyWhatIsStoredWhenItStops)
{
    struct Case {
        const char* Name;
        QStringList Options;
        int SenderCount;
        int Signal;
    };
    const Case cases[] = {
        {"SIGTERM", {"--backlog", "64"}, 30, SIGTERM},
        {"SIGINT", {"--backlog", "64"}, 30, SIGINT},
        {"--count 1", {"--backlog", "16", "--count", "1"}, 10, 0},
    };
    for (const Case& c : cases) {
        Receiver receiver(c.Options, SlowStorage(150));
        Senders senders(receiver.Port, c.SenderCount);
        if (c.Signal) {
            ASSERT_TRUE(PumpUntil([&] { return !receiver.Lines().isEmpty(); }, 15000)) << c.Name;
            Stop(receiver, c.Signal);
        }
        ASSERT_TRUE(Finished(receiver.Process, 20000)) << c.Name;
        EXPECT_EQ(receiver.Process.exitCode(), 0) << c.Name;
        const auto told = senders.Acknowledged();
        EXPECT_EQ(Stored(receiver.Dir.path()), told) << c.Name;
        EXPECT_GE(told.size(), 1u) << c.Name;
        EXPECT_LT(told.size(), static_cast<std::size_t>(c.SenderCount)) << c.Name; // the rest were refused
        if (!c.Signal) {
            EXPECT_EQ(told.size(), 1u) << c.Name;
        }
        EXPECT_FALSE(ListensOn(receiver.Port)) << c.Name;
    }
}

// The time-out limits each wait for the network: a store slower than it is
// still answered.
TEST(QbmsgReceivePromises, StoringSlowerThanTheTimeOutIsStillAnswered)
{
    Receiver receiver({"--timeout", "300"}, SlowStorage(800));
    Senders senders(receiver.Port, 1);
    EXPECT_EQ(senders.Acknowledged(), std::multiset<std::string> {"body of sender 0"});
    EXPECT_EQ(Stored(receiver.Dir.path()), std::multiset<std::string> {"body of sender 0"});
}

// A standard output nobody reads (a pipe of one page, full after a few dozen
// lines) neither holds a reply back nor keeps a stop signal from ending it.
TEST(QbmsgReceivePromises, AFullStandardOutputHoldsNothingUp)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("out");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ::fcntl(reader, F_SETPIPE_SZ, 4096);
    QTemporaryDir inbox;
    const quint16 port = FreePort();
    QProcess process;
    process.setStandardOutputFile(fifo);
    process.start(QBMSG, {"receive", "-p", QString::number(port), "-o", inbox.path()});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    WriteFile(dir.filePath("body"), "x");
    int answered = 0;
    for (int i = 0; i < 150; ++i)
        answered += Qbmsg({"send", "-p", QString::number(port), "-t", "3000", dir.filePath("body")}).Exit == 0;
    EXPECT_EQ(answered, 150);
    EXPECT_EQ(QDir(inbox.path()).entryList(QDir::Files).size(), 150);
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_TRUE(Finished(process, 5000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    process.kill();
    process.waitForFinished();
    ::close(reader);
}

// A folder storing cannot work in is refused at start, with the cause; the
// folder is resolved once, so a link put in its place later moves nothing.
TEST(QbmsgReceivePromises, TheFolderIsCheckedForWhatStoringNeedsAndResolvedOnce)
{
    QTemporaryDir dir;
    ::chmod(dir.path().toLocal8Bit().constData(), 0711); // another user may pass through
    const QString locked = dir.filePath("write-only");
    QDir().mkdir(locked);
    QStringList asOther;
    if (::geteuid() == 0) {
        // Root may do anything: the check is made as an ordinary user.
        ASSERT_EQ(::chown(locked.toLocal8Bit().constData(), 65534, 65534), 0);
        asOther = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    ::chmod(locked.toLocal8Bit().constData(), 0300);
    QStringList command = asOther + QStringList {QBMSG, "receive", "-p", QString::number(FreePort()), "-o", locked};
    QProcess p;
    p.start(command.takeFirst(), command);
    ASSERT_TRUE(Finished(p));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_EQ(p.readAllStandardError().toStdString(), "qbmsg receive: Cannot use folder " + locked.toStdString() + ": Permission denied\n");

    const QString inbox = dir.filePath("inbox"), moved = dir.filePath("moved"), elsewhere = dir.filePath("elsewhere");
    QDir().mkdir(inbox);
    QDir().mkdir(elsewhere);
    Receiver receiver({"-o", inbox});
    // The folder moved, then a link put where it was: neither form follows.
    ASSERT_TRUE(QDir().rename(inbox, moved));
    WriteFile(dir.filePath("body"), "where?");
    const std::string large(20000, 'L'); // the large form: a file made as it arrives
    WriteFile(dir.filePath("large"), large);
    EXPECT_EQ(Qbmsg({"send", "-p", QString::number(receiver.Port), dir.filePath("large")}).Exit, 0);
    ASSERT_TRUE(QFile::link(elsewhere, inbox));
    EXPECT_EQ(Qbmsg({"send", "-p", QString::number(receiver.Port), dir.filePath("body")}).Exit, 0);
    EXPECT_EQ(Stored(moved), (std::multiset<std::string> {"where?", large}));
    EXPECT_TRUE(Stored(elsewhere).empty());
    // Both forms' files alike: the mode of a new file.
    const mode_t umask = ::umask(0);
    ::umask(umask);
    for (const char* name : {"large", "body"}) {
        struct stat info {};
        ASSERT_EQ(::stat((moved + "/" + name).toLocal8Bit().constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~umask) << name;
    }

    // Without /proc a nameless file cannot be named through it: a large
    // body is still stored, and nothing is left beside it.
    const QString noProc = dir.filePath("no-proc");
    QDir().mkdir(noProc);
    Receiver hidden({"-o", noProc}, {"unshare", "-m", "--propagation", "private", "sh", "-c", "mount -t tmpfs none /proc && exec \"$0\" \"$@\""});
    const Outcome sent = Qbmsg({"send", "-p", QString::number(hidden.Port), dir.filePath("large")});
    EXPECT_EQ(sent.Exit, 0) << sent.Err << hidden.Errors().toStdString();
    EXPECT_EQ(Stored(noProc), std::multiset<std::string> {large});
}

// Names and file names are bytes: Latin-1 ones pass unchanged.
TEST(QbmsgReceivePromises, NamesAndFileNamesPassAsBytes)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    ASSERT_EQ(::mkdir((root + "/inbox\xE9").c_str(), 0700), 0);
    WriteFile(QString::fromStdString(root) + "/body", "caf\xE9");
    ASSERT_EQ(::rename((root + "/body").c_str(), (root + "/body\xE9").c_str()), 0);
    const quint16 port = FreePort();
    QProcess receiver;
    receiver.start("bash", {"-c", QString("exec '%1' receive -n 1 -p %2 -o \"$(printf '%3/inbox\\351')\"").arg(QBMSG).arg(port).arg(dir.path())});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    QProcess sender;
    sender.start("bash", {"-c", QString("exec '%1' send -p %2 -f \"$(printf 'Jos\\351')\" \"$(printf '%3/body\\351')\"").arg(QBMSG).arg(port).arg(dir.path())});
    ASSERT_TRUE(Finished(sender));
    EXPECT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().toStdString();
    ASSERT_TRUE(Finished(receiver));
    EXPECT_EQ(WithoutPeerPort(receiver.readAllStandardOutput()).toStdString(), "\"Jos\\xE9\" 4 (4 bytes) from 127.0.0.1 " + root + "/inbox\\xE9/body\\xE9");
    std::ifstream stored(root + "/inbox\xE9/body\xE9", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), "caf\xE9");
}
