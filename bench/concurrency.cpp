// Many senders at once against one qbmsg receive: messages per second and
// how many senders failed, for 1, 16 and 128 sender processes, with the
// listening backlog of 1 and with a larger one.
//
//   concurrency                     the table
//   concurrency post PORT N SIZE    (child) posts N messages, exits with the failures
#include "listening.h"

#include <ferrolink/qbmsg.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kMessagesEach = 10;
constexpr int kBodySize = 2000;

int Post(int port, int count, int size)
{
    ferro::TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = port;
    sender.FromName = "Quillbrook";
    sender.TimeOut = 30000;
    const std::string body(static_cast<std::size_t>(size), 'c');
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        ferro::TMemoryStream stream;
        stream.WriteBuffer(body.data(), size);
        try {
            failed += sender.PostIt(stream) != ferro::qbmsg::kReply;
        } catch (const ferro::Exception&) {
            ++failed;
        }
    }
    return failed;
}

bool Listening(int port)
{
    return ListensOn(port);
}

struct Result {
    double MessagesPerSecond = 0;
    int FailedSenders = 0;
    int FailedMessages = 0;
};

Result Run(int senders, int backlog, int& port)
{
    // The bodies go to memory, so that the disk's flushes do not set the pace.
    QTemporaryDir out(QDir("/dev/shm").exists() ? "/dev/shm/ferrolink-XXXXXX" : QDir::tempPath() + "/ferrolink-XXXXXX");
    QProcess receiver;
    receiver.setStandardOutputFile(QProcess::nullDevice()); // a pipe nobody reads would stop it when full
    receiver.setStandardErrorFile(out.filePath("receiver.err"));
    // A port that a connection of an earlier run still holds cannot be
    // listened on: the next one is tried.
    for (;; ++port) {
        receiver.start(QBMSG, {"receive", "-p", QString::number(port), "-o", out.path(), "-b", QString::number(backlog)});
        while (!Listening(port) && !receiver.waitForFinished(10)) {
        }
        if (Listening(port))
            break;
        QFile err(out.filePath("receiver.err"));
        err.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "port %d: %s", port, err.readAll().constData());
    }
    const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (int i = 0; i < senders; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            const std::string p = std::to_string(port), n = std::to_string(kMessagesEach), s = std::to_string(kBodySize);
            ::execl(self.constData(), "concurrency", "post", p.c_str(), n.c_str(), s.c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        children.push_back(child);
    }
    Result result;
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        const int failed = WIFEXITED(status) ? WEXITSTATUS(status) : kMessagesEach;
        result.FailedMessages += failed;
        result.FailedSenders += failed > 0;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.MessagesPerSecond = (senders * kMessagesEach - result.FailedMessages) / seconds;
    receiver.terminate();
    receiver.waitForFinished();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && std::string(argv[1]) == "post")
        return Post(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    std::printf("senders at once against qbmsg receive, %d messages of %d bytes each, one connection each\n\n",
                kMessagesEach, kBodySize);
    std::printf("%8s %8s %14s %16s %17s\n", "senders", "backlog", "messages/s", "senders failed", "messages failed");
    int port = 20000 + static_cast<int>(::getpid() % 20000);
    for (int backlog : {1, 128})
        for (int senders : {1, 16, 128}) {
            const Result r = Run(senders, backlog, ++port);
            std::printf("%8d %8d %14.0f %16d %17d\n", senders, backlog, r.MessagesPerSecond, r.FailedSenders, r.FailedMessages);
            std::fflush(stdout);
        }
    return 0;
}
