// The real programs on a real X display (Xvfb) with a window manager
// (openbox), driven and photographed from outside as a user would see them.
#include "splash.h"

#include "apps_support.h"
#include "peers.h"
#include "recorder.h"

#include "qt_helpers.h"

#include <ferrolink/qbmsg.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <csignal>
#include <optional>

using namespace ferro;

namespace {

constexpr QSize kScreen(1024, 768);

// Runs a command to its end; its standard output, trimmed.
QString RunCommand(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(10000);
    return QString(p.readAllStandardOutput()).trimmed();
}

// An X server of its own, with openbox managing it when asked.
struct ManagedDesktop {
    explicit ManagedDesktop(bool windowManager)
    {
        // A display of its own: the search for a free one starts at a number
        // of this process's, so that servers of tests running at once, or
        // just ended, are not met.
        static int instances = 0;
        const QString from = ":" + QString::number(100 + QCoreApplication::applicationPid() % 400 * 2 + instances++);
        Server.start("Xvfb", {from, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!Server.waitForStarted(5000) || !PumpUntil([&] { return Server.canReadLine(); }, 10000))
            return;
        Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("DISPLAY", ":" + QString(Server.readLine()).trimmed());
        Environment.insert("QT_QPA_PLATFORM", "xcb");
        // The server tells its number a moment before it takes clients.
        const auto answers = [&] { return RunCommand("xprop", {"-root", "-len", "0"}, Environment).contains("("); };
        if (!PumpUntil(answers, 10000) || !windowManager) {
            Ready = answers();
            return;
        }
        // openbox now and then fails to open a server that has just come up:
        // it is started again then.
        Manager.setProcessEnvironment(Environment);
        const auto managed = [&] { return RunCommand("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, Environment).contains("window id"); };
        for (int attempt = 0; attempt < 5 && !Ready; ++attempt) {
            Manager.start("openbox", {});
            PumpUntil([&] { return managed() || Manager.state() == QProcess::NotRunning; }, 10000);
            Ready = managed() && FramesAWindow();
        }
    }

    // openbox announces itself a while before it manages windows (a window
    // mapped meanwhile is shown late, or not framed at all): it is at work
    // once it has framed one.
    bool FramesAWindow()
    {
        for (int attempt = 0; attempt < 10 && Manager.state() == QProcess::Running; ++attempt) {
            QProcess probe;
            probe.setProcessEnvironment(Environment);
            probe.start("xmessage", {"-title", "ferrolink-probe", "probe"});
            const bool framed = PumpUntil([&] {
                const qulonglong window = Window("ferrolink-probe", 0);
                return window != 0 && RunCommand("xprop", {"-id", QString::number(window), "_NET_FRAME_EXTENTS"}, Environment).contains('=');
            }, 1000);
            probe.kill();
            probe.waitForFinished(5000);
            if (framed)
                return true;
        }
        return false;
    }
    ~ManagedDesktop()
    {
        for (QProcess* p : {&Manager, &Server}) {
            p->terminate();
            p->waitForFinished(5000);
        }
    }

    // The first window whose title is exactly `name`, or 0 within `ms`.
    qulonglong Window(const QString& name, int ms = 10000)
    {
        QString id;
        PumpUntil([&] {
            id = RunCommand("xdotool", {"search", "--onlyvisible", "--name", "^" + name + "$"}, Environment).section('\n', 0, 0);
            return !id.isEmpty();
        }, ms);
        return id.toULongLong();
    }

    // The window's frame, title bar included, on the screen.
    QRect Frame(qulonglong window)
    {
        int x = 0, y = 0, width = 0, height = 0;
        // The client area's place on the screen (xwininfo's, which counts
        // the frame once; xdotool's does not).
        const QString info = RunCommand("xwininfo", {"-id", QString::number(window)}, Environment);
        for (const QString& raw : info.split('\n')) {
            const QString line = raw.trimmed();
            const int value = line.section(':', 1).trimmed().toInt();
            if (line.startsWith("Absolute upper-left X:"))
                x = value;
            else if (line.startsWith("Absolute upper-left Y:"))
                y = value;
            else if (line.startsWith("Width:"))
                width = value;
            else if (line.startsWith("Height:"))
                height = value;
        }
        // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
        const QStringList extents = RunCommand("xprop", {"-id", QString::number(window), "_NET_FRAME_EXTENTS"}, Environment)
                                        .section('=', 1).split(',', Qt::SkipEmptyParts);
        if (extents.size() != 4)
            return {x, y, width, height};
        const int left = extents[0].toInt(), right = extents[1].toInt(), top = extents[2].toInt(), bottom = extents[3].toInt();
        return {x - left, y - top, width + left + right, height + top + bottom};
    }

    QImage Screenshot(const QString& file)
    {
        RunCommand("import", {"-window", "root", file}, Environment);
        return QImage(file);
    }

    QProcess Server;
    QProcess Manager;
    QProcessEnvironment Environment;
    bool Ready = false;
};

// Sendwell started in `folder`, with its receiver beside it.
struct RunningSendwell {
    RunningSendwell(ManagedDesktop& desktop, const QString& folder)
    {
        QProcessEnvironment env = desktop.Environment;
        env.insert("FERROLINK_TRACE_STARTUP", "1");
        Process.setProcessEnvironment(env);
        Process.setWorkingDirectory(folder);
        Process.start(QString(PROGRAMS_DIR) + "/Sendwell", {});
    }
    ~RunningSendwell()
    {
        if (Receiver > 0)
            ::kill(static_cast<pid_t>(Receiver), SIGTERM);
        Process.kill();
        Process.waitForFinished(5000);
        PumpUntil([] { return !ListensOn(6711); }, 10000);
    }
    // Waits for a start-up step's trace line; the rest of the line after it.
    bool Step(const QString& step, QString* rest = nullptr)
    {
        return PumpUntil([&] {
            while (Process.canReadLine()) {
                const QString line = QString(Process.readLine()).trimmed();
                if (line.startsWith("startup: " + step)) {
                    if (rest)
                        *rest = line.mid(9 + step.size()).trimmed();
                    return true;
                }
            }
            return false;
        }, 20000);
    }
    QProcess Process;
    qint64 Receiver = 0;
};

std::string Post(const std::string& body)
{
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.FromName = "Quillbrook";
    sender.TimeOut = 10000;
    TMemoryStream s = StreamOf(body);
    return sender.PostIt(s);
}

bool Alive(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

// Sendwell started in a folder of its own on a desktop that openbox manages.
struct Desktop : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(desktop.Ready) << "Xvfb and openbox are needed (scripts/setup installs them); display "
                                   << desktop.Environment.value("DISPLAY").toStdString();
        sendwell.emplace(desktop, here.Dir.path());
        sendwell->Process.setReadChannel(QProcess::StandardError);
    }
    ManagedDesktop desktop {true};
    InTemporaryFolder here;
    std::optional<RunningSendwell> sendwell;
};

} // namespace

TEST_F(Desktop, TheSplashIsOnTheScreenDuringTheDelayUnderAWindowManager)
{
    RunningSendwell& sendwell = *this->sendwell;
    ASSERT_TRUE(sendwell.Step("splash shown"));
    // Held still inside its busy delay, the way a slow machine would show it.
    ::kill(static_cast<pid_t>(sendwell.Process.processId()), SIGSTOP);
    const QImage shot = desktop.Screenshot(here.Path("splash.png"));
    ::kill(static_cast<pid_t>(sendwell.Process.processId()), SIGCONT);
    ASSERT_FALSE(shot.isNull());
    const QImage logo = sendwell::SplashLogo().convertToFormat(QImage::Format_RGB32);
    const QPoint at = sendwell::SplashPlacement(kScreen) + QPoint(8, 8);
    int same = 0;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            same += shot.pixel(at.x() + x, at.y() + y) == logo.pixel(x, y);
    EXPECT_GT(same, logo.width() * logo.height() * 95 / 100) << "of the logo's pixels on the screen";
    QString receiver;
    ASSERT_TRUE(sendwell.Step("receiver started", &receiver));
    sendwell.Receiver = receiver.toLongLong();
}

TEST_F(Desktop, AHiddenReceiverOutlivesItsErrorBoxWhichSitsCentredByItsFrame)
{
    RunningSendwell& sendwell = *this->sendwell;
    QString receiver;
    ASSERT_TRUE(sendwell.Step("receiver started", &receiver));
    sendwell.Receiver = receiver.toLongLong();
    ASSERT_TRUE(PumpUntil([] { return ListensOn(6711); }, 15000));

    // A body that is no picture: the hidden receiver shows its error box,
    // its only window.
    EXPECT_EQ(Post("not a picture"), "OK              ");
    const qulonglong box = desktop.Window("Takewell");
    ASSERT_NE(box, 0u) << "no error box";
    // The window manager moves it where it was asked to, in its own time.
    const auto centred = [&](const QRect& frame) {
        return std::abs(frame.center().x() - kScreen.width() / 2) <= 1 && std::abs(frame.center().y() - kScreen.height() / 2) <= 1;
    };
    QRect frame;
    EXPECT_TRUE(PumpUntil([&] { return centred(frame = desktop.Frame(box)); }, 3000))
        << "frame at " << frame.x() << "," << frame.y() << ", " << frame.width() << "x" << frame.height();
    EXPECT_GT(frame.height(), desktop.Frame(box).height() - 1); // a title bar is part of it

    // The user answers it; the receiver goes on and takes the next picture.
    RunCommand("xdotool", {"windowactivate", "--sync", QString::number(box), "key", "Return"}, desktop.Environment);
    ASSERT_TRUE(PumpUntil([&] { return desktop.Window("Takewell", 0) == 0; }, 10000)) << "the box stayed";
    PumpFor(300);
    EXPECT_TRUE(Alive(sendwell.Receiver));
    const std::string picture = BmpBytes({20, 10}, Qt::blue);
    EXPECT_EQ(FailureOf([&] { EXPECT_EQ(Post(picture), "OK              "); }), "no failure");
    EXPECT_TRUE(PumpUntil([&] { return ReadFile(here.Path("temp.bmp")) == picture; }, 10000));
}

// A send to a receiver that takes the connection and never answers waits
// for ever (the window sets no time-out): Escape ends it, the hint beside
// the bar said it would, and the user is told the send was canceled.
TEST_F(Desktop, EscapeCancelsASendToAReceiverThatNeverAnswers)
{
    RunningSendwell& sendwell = *this->sendwell;
    QString receiver;
    ASSERT_TRUE(sendwell.Step("receiver started", &receiver));
    ASSERT_TRUE(PumpUntil([] { return ListensOn(6711); }, 15000));
    ::kill(static_cast<pid_t>(receiver.toLongLong()), SIGTERM); // its place is taken by one that never answers
    ASSERT_TRUE(PumpUntil([] { return !ListensOn(6711); }, 10000));
    TcpListener silent(8, 6711);
    WriteFile(here.Path("pic.bmp"), BmpBytes({20, 10}, Qt::red));

    const qulonglong window = desktop.Window("'Msg Server Demo'");
    ASSERT_NE(window, 0u);
    // "Send Message" has the focus: no file is chosen yet, so the dialog opens.
    RunCommand("xdotool", {"windowactivate", "--sync", QString::number(window), "key", "space"}, desktop.Environment);
    PumpFor(1000);
    RunCommand("xdotool", {"type", "--delay", "20", here.Path("pic.bmp")}, desktop.Environment);
    RunCommand("xdotool", {"key", "Return"}, desktop.Environment);
    const int peer = silent.Accept(10000); // the picture goes out, and nothing answers it
    ASSERT_GE(peer, 0);
    PumpFor(500);
    RunCommand("xdotool", {"windowactivate", "--sync", QString::number(window), "key", "Escape"}, desktop.Environment);
    const qulonglong box = desktop.Window("Sendwell");
    ASSERT_NE(box, 0u) << "the cancel was not told";
    EXPECT_TRUE(PeerClosed(peer, 5000)) << "the connection stayed";
    CloseFd(peer);
    const QImage shot = desktop.Screenshot(here.Path("canceled.png"));
    EXPECT_FALSE(shot.isNull());
    RunCommand("xdotool", {"windowactivate", "--sync", QString::number(box), "key", "Return"}, desktop.Environment);
    EXPECT_TRUE(PumpUntil([&] { return desktop.Window("Sendwell", 0) == 0; }, 10000)) << "the box stayed";
    EXPECT_EQ(sendwell.Process.state(), QProcess::Running);
}
