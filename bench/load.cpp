// Load and soak against a real receiver process (qbmsg receive):
//   1 000 messages one after another, then 20 senders at nearly the same
//   time, checking that every message answered "OK" was delivered byte for
//   byte, once, and nothing else was; then a soak of 5 000 messages that
//   prints the receiver's resident memory after warm-up and at the end.
// Exits non-zero when a check fails. Prints counts, not timings.
#include "listening.h"

#include <ferrolink/qbmsg.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

using namespace ferro;

namespace {

constexpr int kSequential = 1000;
constexpr int kConcurrent = 20;
constexpr int kSoak = 5000;
constexpr int kWarmUp = 500;
constexpr long kAllowedGrowthKiB = 1024;

int gFailures = 0;

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        ++gFailures;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A body that names its message and whose length varies with it.
std::string Body(const std::string& tag, int n)
{
    std::string body = tag + "-" + std::to_string(n) + ":";
    const std::size_t size = 40 + static_cast<std::size_t>(n * 37 % 9900);
    while (body.size() < size)
        body += static_cast<char>('a' + (body.size() * 7 + static_cast<std::size_t>(n)) % 26);
    return body;
}

long ResidentKiB(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

struct Receiver {
    explicit Receiver(const QString& out) : Port(FreePort())
    {
        Process.start(QBMSG, {"receive", "--port", QString::number(Port), "--out", out, "--timeout", "10000"});
        Process.waitForStarted();
        for (int i = 0; i < 200 && !Listening(); ++i)
            ::usleep(20000);
    }
    bool Listening() const { return ListensOn(Port); }
    // Ends it and returns its lines: name, size, file.
    QStringList Stop()
    {
        ::kill(static_cast<pid_t>(Process.processId()), SIGTERM);
        Process.waitForFinished(10000);
        return QString(Process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    int Port;
    QProcess Process;
};

// Every file the receiver wrote, by content.
std::multiset<std::string> Delivered(const QStringList& lines)
{
    std::multiset<std::string> bodies;
    for (const QString& line : lines) {
        QFile file(line.section(' ', -1)); // the file comes last
        file.open(QIODevice::ReadOnly);
        bodies.insert(file.readAll().toStdString());
    }
    return bodies;
}

bool PostOne(TQBStrm& sender, const std::string& body)
{
    TMemoryStream stream;
    stream.WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
    try {
        return sender.PostIt(stream) == qbmsg::kReply;
    } catch (const ESockError& e) {
        std::printf("  a sender was told: %s\n", e.what());
        return false;
    }
}

void CheckDelivery(const std::map<std::string, bool>& sent, const std::multiset<std::string>& delivered, const char* what)
{
    int answered = 0, lost = 0, doubled = 0, strays = 0;
    for (const auto& [body, ok] : sent) {
        answered += ok;
        const auto copies = delivered.count(body);
        lost += ok && copies == 0;
        doubled += copies > 1;
    }
    for (const auto& body : delivered)
        strays += sent.count(body) == 0;
    std::printf("%s: %d sent, %d answered OK, %zu delivered; lost %d, doubled %d, out of any message %d\n", what,
                static_cast<int>(sent.size()), answered, delivered.size(), lost, doubled, strays);
    Check(lost == 0 && doubled == 0 && strays == 0, what);
}

void LoadRun()
{
    QTemporaryDir out, in;
    Receiver receiver(out.path());
    std::map<std::string, bool> sent;

    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = receiver.Port;
    sender.FromName = "load";
    sender.TimeOut = 10000;
    for (int n = 0; n < kSequential; ++n) {
        const std::string body = Body("seq", n);
        sent[body] = PostOne(sender, body);
    }

    // Twenty senders in processes of their own, started together.
    std::vector<std::unique_ptr<QProcess>> senders;
    std::vector<std::string> bodies;
    for (int n = 0; n < kConcurrent; ++n) {
        bodies.push_back(Body("par", n));
        const QString file = in.filePath(QString::number(n));
        std::ofstream(file.toStdString(), std::ios::binary) << bodies.back();
        senders.push_back(std::make_unique<QProcess>());
        senders.back()->start(QBMSG, {"send", "--port", QString::number(receiver.Port), "--timeout", "10000", file});
    }
    int told = 0;
    for (int n = 0; n < kConcurrent; ++n) {
        senders[n]->waitForFinished(30000);
        const bool ok = senders[n]->exitCode() == 0;
        sent[bodies[n]] = ok;
        // A sender without "OK" must have said so on its error output.
        if (!ok)
            told += !senders[n]->readAllStandardError().isEmpty();
    }
    const QStringList lines = receiver.Stop();
    CheckDelivery(sent, Delivered(lines), "sequential and concurrent");
    int concurrentOk = 0;
    for (const auto& body : bodies)
        concurrentOk += sent[body];
    std::printf("concurrent: %d of %d got \"OK\"; the other %d were told so by an error (%d)\n", concurrentOk, kConcurrent,
                kConcurrent - concurrentOk, told);
    Check(told == kConcurrent - concurrentOk, "every sender without OK was told so");
}

void SoakRun()
{
    QTemporaryDir out;
    Receiver receiver(out.path());
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = receiver.Port;
    sender.FromName = "soak";
    sender.TimeOut = 10000;
    int ok = 0;
    long atWarmUp = 0;
    for (int n = 0; n < kSoak; ++n) {
        ok += PostOne(sender, Body("soak", n));
        if (n + 1 == kWarmUp)
            atWarmUp = ResidentKiB(receiver.Process.processId());
    }
    const long atEnd = ResidentKiB(receiver.Process.processId());
    receiver.Stop();
    std::printf("soak: %d of %d answered OK; receiver resident memory %ld KiB after %d messages, %ld KiB after %d (growth %ld KiB)\n",
                ok, kSoak, atWarmUp, kWarmUp, atEnd, kSoak, atEnd - atWarmUp);
    Check(ok == kSoak, "every soak message answered");
#ifdef FERRO_SANITIZED
    // AddressSanitizer keeps freed memory in quarantine: resident memory
    // says nothing about leaks in such a build.
    std::printf("soak: memory growth not judged in a sanitizer build\n");
#else
    Check(atEnd - atWarmUp <= kAllowedGrowthKiB, "no growth beyond 1 MiB after warm-up");
#endif
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    LoadRun();
    SoakRun();
    std::printf(gFailures ? "load and soak: FAILED\n" : "load and soak: all checks passed\n");
    return gFailures ? 1 : 0;
}
