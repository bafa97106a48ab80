// The real programs, started as processes (offscreen).
#include <ferrolink/qbmsg.h>

#include "apps_support.h"
#include "peers.h"
#include "recorder.h"

#include "qt_helpers.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <csignal>
#include <fstream>

using namespace ferro;

namespace {

bool Listening6711()
{
    return ListensOn(6711);
}

// Posts `body` to port 6711 and returns the reply; no wait may last longer
// than `timeOut` milliseconds.
std::string Post(const std::string& body, int timeOut = 10000)
{
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.FromName = "Quillbrook";
    sender.TimeOut = timeOut;
    TMemoryStream s;
    s.WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
    return sender.PostIt(s);
}

struct RunningProgram {
    RunningProgram(const QString& program, const QString& folder, bool hidden = false)
    {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (hidden)
            env.insert("FERROLINK_START_HIDDEN", "1");
        Process.setProcessEnvironment(env);
        Process.setWorkingDirectory(folder);
        Process.start(program, {});
    }
    ~RunningProgram()
    {
        Process.kill();
        Process.waitForFinished(5000);
    }
    QProcess Process;
};

} // namespace

TEST(TakewellProgram, ReceivesAPictureIntoItsFolderAndKeepsListening)
{
    InTemporaryFolder here;
    RunningProgram takewell(TAKEWELL, here.Dir.path());
    ASSERT_TRUE(PumpUntil(Listening6711, 15000));

    // The reply goes out before the program writes the file: wait for it.
    const auto holds = [&](const std::string& body) {
        return PumpUntil([&] { return ReadFile(here.Path("temp.bmp")) == body; }, 10000);
    };
    const std::string first = BmpBytes({40, 30}, Qt::red, QImage::Format_Indexed8);
    EXPECT_EQ(Post(first), "OK              ");
    EXPECT_TRUE(holds(first));

    // A body that is no picture is answered, reported in the program, and the
    // next message is served all the same.
    EXPECT_EQ(Post("not a picture"), "OK              ");
    const std::string second = BmpBytes({10, 10}, Qt::blue);
    EXPECT_EQ(Post(second), "OK              ");
    EXPECT_TRUE(holds(second));
    // A real photograph's size goes in the large form, and is shown too.
    const std::string photo = BmpBytes({1600, 1200}, Qt::darkGreen, QImage::Format_RGB888);
    ASSERT_GT(photo.size(), 5000000u);
    EXPECT_EQ(Post(photo), "OK              ");
    EXPECT_TRUE(holds(photo));
    EXPECT_EQ(takewell.Process.state(), QProcess::Running);
}

namespace {

// Copies the built programs named into a fresh folder.
void CopyPrograms(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        const QString source = QString(PROGRAMS_DIR) + "/" + name;
        QFile::copy(source, folder + "/" + name);
        QFile::setPermissions(folder + "/" + name, QFile::permissions(source));
    }
}

// Starts `program` offscreen in `folder` with PATH `path`, tracing its start-up.
void StartTraced(QProcess& process, const QString& program, const QString& folder, const QString& path)
{
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("FERROLINK_TRACE_STARTUP", "1");
    env.insert("PATH", path);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start(program, {});
}

QStringList StartupSteps(QProcess& p)
{
    QStringList steps;
    for (const QString& line : QString(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts))
        if (line.startsWith("startup: "))
            steps << line.mid(9);
    return steps;
}

} // namespace

TEST(SendwellProgram, ShowsTheSplashAloneThenStartsTheReceiverThenItsWindow)
{
    InTemporaryFolder here;
    QDir().mkdir("app");
    QDir().mkdir("work");
    CopyPrograms(here.Path("app"), {"Sendwell", "Takewell"});
    QProcess sendwell;
    StartTraced(sendwell, here.Path("app/Sendwell"), here.Path("work"), "/usr/bin:/bin");
    QStringList steps;
    ASSERT_TRUE(PumpUntil([&] {
        steps += StartupSteps(sendwell);
        return steps.size() >= 4;
    }, 20000));
    ASSERT_EQ(steps.size(), 4);
    EXPECT_EQ(steps[0], "splash shown");
    EXPECT_EQ(steps[1], "splash destroyed");
    EXPECT_TRUE(steps[2].startsWith("receiver started "));
    EXPECT_EQ(steps[3], "main window shown");
    const qint64 receiver = steps[2].mid(17).toLongLong();
    EXPECT_GT(receiver, 0);
    EXPECT_TRUE(PumpUntil(Listening6711, 15000)); // the receiver found in the sender's folder listens
    // It runs in the sender's current folder: that is where pictures land.
    EXPECT_EQ(Post(BmpBytes({4, 4}, Qt::red)), "OK              ");
    EXPECT_TRUE(PumpUntil([&] { return QFileInfo::exists(here.Path("work/temp.bmp")); }, 10000));
    if (receiver > 0)
        ::kill(static_cast<pid_t>(receiver), SIGTERM);
    sendwell.kill();
    sendwell.waitForFinished();
    PumpUntil([] { return !Listening6711(); }, 10000);
}

TEST(SendwellProgram, RunsWithoutAReceiverWhenNoneCanBeFound)
{
    InTemporaryFolder here;
    CopyPrograms(here.Dir.path(), {"Sendwell"});
    QDir().mkdir("empty");
    QProcess sendwell;
    StartTraced(sendwell, here.Path("Sendwell"), here.Path("empty"), here.Path("empty"));
    QStringList steps;
    ASSERT_TRUE(PumpUntil([&] {
        steps += StartupSteps(sendwell);
        return steps.size() >= 4;
    }, 20000));
    EXPECT_EQ(steps[2], "receiver started 0");
    PumpFor(500);
    EXPECT_EQ(sendwell.state(), QProcess::Running); // nothing reported, nothing ended
    EXPECT_FALSE(Listening6711());
    sendwell.kill();
    sendwell.waitForFinished();
}

// Started hidden (by a sender) where another program holds the port, it could
// never show anything: it ends at once instead of staying alive unseen.
TEST(TakewellProgram, AHiddenReceiverThatCannotListenEndsItself)
{
    TcpListener other(1, 6711);
    InTemporaryFolder here;
    RunningProgram takewell(TAKEWELL, here.Dir.path(), true);
    ASSERT_TRUE(PumpUntil([&] { return takewell.Process.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(takewell.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(takewell.Process.exitCode(), 0);
}

TEST(TakewellProgram, ReplacesALinkNamedTempBmpInsteadOfWritingThroughIt)
{
    InTemporaryFolder here;
    WriteFile(here.Path("victim"), "precious");
    ASSERT_TRUE(QFile::link(here.Path("victim"), here.Path("temp.bmp")));
    RunningProgram takewell(TAKEWELL, here.Dir.path());
    ASSERT_TRUE(PumpUntil(Listening6711, 15000));
    const std::string picture = BmpBytes({8, 8}, Qt::red);
    EXPECT_EQ(Post(picture), "OK              ");
    EXPECT_TRUE(PumpUntil([&] { return ReadFile(here.Path("temp.bmp")) == picture; }, 10000));
    EXPECT_FALSE(QFileInfo(here.Path("temp.bmp")).isSymLink());
    EXPECT_EQ(ReadFile(here.Path("victim")), "precious");
    EXPECT_EQ(QDir(here.Dir.path()).entryList(QDir::Files).join(" ").toStdString(), "temp.bmp victim"); // nothing half-written left
}

TEST(TakewellProgram, NoClientHoldsItLongerThanItsLimits)
{
    // Takewell lets a sender be silent for 10 s and take 60 s for a message.
    InTemporaryFolder here;
    RunningProgram takewell(TAKEWELL, here.Dir.path());
    ASSERT_TRUE(PumpUntil(Listening6711, 15000));
    const std::string picture = BmpBytes({8, 8}, Qt::green);
    const auto postBehind = [&](std::vector<std::string> stalling, int pauseMs, int limitMs) {
        auto holder = ExchangeAsync(6711, std::move(stalling), pauseMs);
        PumpFor(200); // the stalling client is served first
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(Post(picture, limitMs + 10000), "OK              ");
        EXPECT_LT(clock.elapsed(), limitMs + 3000);
        EXPECT_GT(clock.elapsed(), limitMs - 1000); // it waited for the limit, not less
        holder.wait();
    };
    postBehind({}, 0, 10000); // silent
    std::vector<std::string> drip = {"0001a  90"};
    for (int i = 0; i < 90; ++i)
        drip.emplace_back(1, 'd');
    postBehind(drip, 700, 60000); // a byte every 0.7 s: never idle, but too slow
    EXPECT_EQ(takewell.Process.state(), QProcess::Running);
}
