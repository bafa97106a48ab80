// Time per stream message: our components, plain blocking sockets and a Qt
// peer (QTcpSocket and QTcpServer) speaking the same wire format, each sender
// in this process and each receiver in a child process, measured in the same
// run. The three take turns, three rounds each; the median counts.
//
//   messages                          runs the comparison (MESSAGES_SPLIT=1 adds
//                                     each sender against the other receiver)
//   messages receive-ours PORT N      (child) serves N messages with TQBStrmServ
//   messages receive-plain PORT N     (child) serves N messages with blocking sockets
//   messages receive-qt PORT N        (child) serves N messages with QTcpServer
#include "idle.h"
#include <ferrolink/qbmsg.h>
#include "qt_peer.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ferro;

namespace {

constexpr int kMessages = 300;
constexpr int kRounds = 3;
constexpr int kWarmUp = 20;
const std::string kReply = "OK              ";

// --- plain blocking sockets --------------------------------------------------------

bool ReadExactly(int fd, char* buf, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, buf + got, n - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const char* buf, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        done += static_cast<std::size_t>(r);
    }
    return true;
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

void ServePlain(int fd)
{
    char field[5] = {};
    char buf[10000];
    if (!ReadExactly(fd, field, 4))
        return;
    const int nameLength = std::atoi(field);
    if (nameLength < 0 || nameLength > 255 || !ReadExactly(fd, buf, static_cast<std::size_t>(nameLength)))
        return;
    if (!ReadExactly(fd, field, 4))
        return;
    const int bodyLength = std::atoi(field);
    if (bodyLength < 0 || bodyLength > 9999 || !ReadExactly(fd, buf, static_cast<std::size_t>(bodyLength)))
        return;
    WriteAll(fd, kReply.data(), kReply.size());
}

int ReceivePlain(int port, int count)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0)
        return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    for (int i = 0; i < count; ++i) {
        const int fd = ::accept(listener, nullptr, nullptr);
        ServePlain(fd);
        ::close(fd);
    }
    ::close(listener);
    return 0;
}

bool PostPlain(int port, const std::string& name, const std::string& body)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    char header[300];
    const int headerLength = std::snprintf(header, sizeof header, "%.4d%s%4d", static_cast<int>(name.size()), name.c_str(), static_cast<int>(body.size()));
    char reply[16];
    ok = ok && WriteAll(fd, header, static_cast<std::size_t>(headerLength)) && WriteAll(fd, body.data(), body.size())
        && ReadExactly(fd, reply, sizeof reply);
    ::close(fd);
    return ok;
}

// --- our components ---------------------------------------------------------------

int ReceiveOurs(int port, int count)
{
    TQBStrmServ server(nullptr);
    server.Port = port;
    int received = 0;
    server.OnMSG = [&](TComponent*, const std::string&, TStream&) { ++received; };
    server.Loaded();
    std::printf("listening\n");
    std::fflush(stdout);
    while (received < count)
        WaitAndProcessMessages();
    return 0;
}

// --- the comparison ------------------------------------------------------------

struct Child {
    pid_t Pid = -1;
};

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Starts this program as a receiver and waits until it listens.
Child StartReceiver(const char* mode, int port, int count)
{
    int out[2];
    if (::pipe(out) != 0)
        std::exit(1);
    Child child;
    child.Pid = ::fork();
    if (child.Pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        const std::string p = std::to_string(port), n = std::to_string(count);
        ::execl("/proc/self/exe", "messages", mode, p.c_str(), n.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(out[1]);
    char line[32] = {};
    if (::read(out[0], line, sizeof line - 1) <= 0)
        std::exit(1);
    ::close(out[0]);
    return child;
}

bool Finish(Child child)
{
    int status = 0;
    ::waitpid(child.Pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <class Post>
double MicrosecondsPerMessage(const char* mode, Post post)
{
    const int port = FreePort();
    const Child child = StartReceiver(mode, port, kWarmUp + kMessages);
    for (int i = 0; i < kWarmUp; ++i)
        post(port);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kMessages; ++i)
        post(port);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!Finish(child))
        std::fprintf(stderr, "receiver %s failed\n", mode);
    return seconds * 1e6 / kMessages;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void PrintRow(const char* what, double us)
{
    std::printf("  %-22s %8.1f us  %8.0f msg/s\n", what, us, 1e6 / us);
}

int Compare()
{
    std::printf("%d messages per round after %d to warm up, %d rounds, median shown;\n", kMessages, kWarmUp, kRounds);
    std::printf("each sender in this process, its receiver in a child process\n");
    double ratioPlain = 0, ratioQt = 0;
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.FromName = "Quillbrook";
    for (int size : {100, 2000, 9999}) {
        const std::string body(static_cast<std::size_t>(size), 'b');
        const QByteArray qtBody(size, 'b');
        TMemoryStream stream;
        stream.WriteBuffer(body.data(), size);
        std::vector<double> plain, qt, ours;
        for (int round = 0; round < kRounds; ++round) {
            plain.push_back(MicrosecondsPerMessage("receive-plain", [&](int port) {
                if (!PostPlain(port, "Quillbrook", body))
                    std::fprintf(stderr, "plain post failed\n");
            }));
            qt.push_back(MicrosecondsPerMessage("receive-qt", [&](int port) {
                if (PostWithQt(port, "Quillbrook", qtBody, 1) != 1)
                    std::fprintf(stderr, "Qt post failed\n");
            }));
            ours.push_back(MicrosecondsPerMessage("receive-ours", [&](int port) {
                sender.Port = port;
                sender.PostIt(stream);
            }));
        }
        std::printf("\nbody of %d bytes\n", size);
        PrintRow("plain blocking sockets", Median(plain));
        PrintRow("Qt peer", Median(qt));
        PrintRow("Ferrolink components", Median(ours));
        ratioPlain = Median(ours) / Median(plain);
        ratioQt = Median(ours) / Median(qt);
        std::printf("  ours / plain %.2f, ours / Qt peer %.2f\n", ratioPlain, ratioQt);
        if (std::getenv("MESSAGES_SPLIT")) {
            const double oursToPlain = MicrosecondsPerMessage("receive-plain", [&](int port) {
                sender.Port = port;
                sender.PostIt(stream);
            });
            const double plainToOurs = MicrosecondsPerMessage("receive-ours", [&](int port) { PostPlain(port, "Quillbrook", body); });
            std::printf("  our sender to plain receiver %.1f us; plain sender to our receiver %.1f us\n", oursToPlain, plainToOurs);
        }
    }
    std::printf("\nidle: a Read waiting 3 s on a silent connection uses %.2f %% of a core\n", SilentReadCoreShare(3000));
    std::printf("ratio to Qt peer at 9999 bytes: %.2f\n", ratioQt);
    std::printf("ratio at 9999 bytes: %.2f\n", ratioPlain);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "receive-ours" && argc == 4)
        return ReceiveOurs(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "receive-plain" && argc == 4)
        return ReceivePlain(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "receive-qt" && argc == 4)
        return ReceiveWithQt(std::atoi(argv[2]), std::atoi(argv[3]));
    return Compare();
}
