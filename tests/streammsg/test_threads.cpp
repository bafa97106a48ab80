// Components on other threads than the application's: each thread with a Qt
// event loop runs its own; misuse raises EThreadError with a clear text.
#include <ferrolink/qbmsg.h>

#include "helpers.h"
#include "peers.h"
#include "recorder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutex>
#include <QProcess>
#include <QAbstractEventDispatcher>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace ferro;

namespace {

// Qt's warnings while a test runs.
QStringList gWarnings;
QMutex gWarningsLock;

struct WarningRecorder {
    WarningRecorder() : Previous(qInstallMessageHandler(&Record)) {}
    ~WarningRecorder() { qInstallMessageHandler(Previous); }
    static void Record(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        QMutexLocker lock(&gWarningsLock);
        gWarnings << text;
    }
    QtMessageHandler Previous;
};

// Runs `work` on a new QThread inside its own event loop, and waits for it.
void RunOnQThread(const std::function<void()>& work)
{
    // A QThread has an event dispatcher of its own: the components' waits
    // run the thread's loop.
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    ASSERT_TRUE(PumpUntil([&] { return thread->isFinished(); }, 20000));
}

} // namespace

// Whatever pumps the receiver's thread delivers its notifications: our own
// pump, a QEventLoop, or a plain processEvents() loop as much Qt code has.
TEST(Threads, ComponentsOnTwoWorkerThreadsExchangeAMessageWithoutWarnings)
{
    const std::pair<const char*, std::function<void()>> pumps[] = {
        {"WaitAndProcessMessages", [] { WaitAndProcessMessages(); }},
        {"processEvents", [] {
             QCoreApplication::processEvents();
             QThread::usleep(200);
         }},
        {"QEventLoop::exec", [] { QEventLoop().exec(); }},
    };
    for (const auto& [name, pump] : pumps) {
        WarningRecorder warnings;
        const std::uint16_t port = FreePort();
        std::atomic<bool> listening {false};
        std::string received;
        std::atomic<bool> delivered {false};
        std::string reply;
        std::unique_ptr<QThread> receiver(QThread::create([&, pump = pump] {
            TQBStrmServ server(nullptr);
            server.Port = port;
            server.OnMSG = [&](TComponent*, const std::string& from, TStream& body) {
                std::string bytes(static_cast<std::size_t>(body.Size()), '\0');
                body.ReadBuffer(bytes.data(), body.Size());
                received = from + ":" + bytes;
                delivered = true;
            };
            server.Loaded();
            listening = true;
            while (!QThread::currentThread()->isInterruptionRequested())
                pump();
        }));
        receiver->start();
        ASSERT_TRUE(PumpUntil([&] { return listening.load(); }, 10000));
        RunOnQThread([&] {
            TQBStrm sender(nullptr);
            sender.Host = "127.0.0.1";
            sender.Port = port;
            sender.FromName = "worker";
            sender.TimeOut = 5000;
            TMemoryStream body = StreamOf("from a thread");
            reply = FailureOf([&] { reply = sender.PostIt(body); });
            if (reply == "no failure")
                reply = "OK              ";
        });
        EXPECT_TRUE(PumpUntil([&] { return delivered.load(); }, 5000)) << name; // handled on the receiver's thread
        receiver->requestInterruption();
        receiver->quit();
        receiver->eventDispatcher()->wakeUp();
        ASSERT_TRUE(PumpUntil([&] { return receiver->isFinished(); }, 10000)) << name;
        EXPECT_EQ(reply, "OK              ") << name;
        EXPECT_EQ(received, "worker:from a thread") << name;
        QMutexLocker lock(&gWarningsLock);
        EXPECT_TRUE(gWarnings.isEmpty()) << name << gWarnings.join("\n").toStdString();
        gWarnings.clear();
    }
}

TEST(Threads, MisuseRaisesAClearError)
{
    // Made on a thread without a Qt event loop.
    std::string failure;
    std::thread([&] { failure = FailureOf([] { TQBStrm sender(nullptr); }); }).join();
    EXPECT_EQ(failure, "This thread runs no Qt event loop: create Ferrolink components on the application's thread or in a QThread");

    // Used from another thread than its own.
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = UnusedPort();
    TMemoryStream body = StreamOf("x");
    RunOnQThread([&] { failure = FailureOf([&] { sender.PostIt(body); }); });
    EXPECT_EQ(failure, "A Ferrolink component was used on a thread other than the one that made it");
    EXPECT_EQ(FailureOf([&] { sender.PostIt(body); }), "Connection Failed"); // its own thread still works
}

TEST(Threads, AComponentWithoutAnApplicationRaisesInsteadOfCrashing)
{
    QProcess process;
    process.start(NO_APPLICATION, {});
    ASSERT_TRUE(PumpUntil([&] { return process.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput().toStdString(),
              "No QCoreApplication: create the application object (QCoreApplication or QApplication) before any Ferrolink component\n");
}
