// Test support for the qbmsg suites: the real executable, run and awaited.
#pragma once

#include "peers.h"
#include "recorder.h"

#include "qt_helpers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <string>

using namespace ferro;

inline const std::string kOk = "OK              ";

struct Outcome {
    int Exit = -1;
    std::string Out, Err;
};

inline bool Finished(QProcess& p, int ms = 15000)
{
    return PumpUntil([&] { return p.state() == QProcess::NotRunning; }, ms);
}

inline Outcome Qbmsg(const QStringList& args, const QString& input = {})
{
    QProcess p;
    if (!input.isEmpty())
        p.setStandardInputFile(input);
    p.start(QBMSG, args);
    Finished(p);
    return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

// qbmsg receive on a free port, storing into a folder of its own. With a
// `wrapper` (strace, setpriv), the wrapper runs it.
struct Receiver {
    explicit Receiver(QStringList extra = {}, QStringList wrapper = {}) : Port(FreePort())
    {
        const QStringList args = QStringList {"receive", "--port", QString::number(Port), "--out", Dir.path()} + extra;
        if (wrapper.isEmpty()) {
            Process.start(QBMSG, args);
        } else {
            // LeakSanitizer cannot work in a traced process.
            auto env = QProcessEnvironment::systemEnvironment();
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
            Process.setProcessEnvironment(env);
            Process.start(wrapper.takeFirst(), wrapper + QStringList {QBMSG} + args);
        }
        EXPECT_TRUE(PumpUntil([&] { return ListensOn(Port); }, 10000));
    }
    // qbmsg's own process, found by its command line (its folder is this
    // receiver's alone) where a wrapper runs it.
    qint64 Pid() const
    {
        const QByteArray folder = Dir.path().toLocal8Bit();
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            QFile cmdline("/proc/" + entry + "/cmdline");
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> words = cmdline.readAll().split('\0');
            if (!words.isEmpty() && words.front() == QByteArray(QBMSG) && words.contains(folder))
                return entry.toLongLong();
        }
        return Process.processId();
    }
    ~Receiver()
    {
        // A tracer's tracee lives on without it: both go.
        if (const qint64 own = Pid(); own != Process.processId())
            ::kill(static_cast<pid_t>(own), SIGKILL);
        Process.kill();
        Process.waitForFinished();
    }
    // What it has reported on standard error so far.
    QString Errors()
    {
        Err += QString(Process.readAllStandardError());
        return Err;
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
    QString Err;
};

