// Time per stream message for bodies from 0 to 9 999 bytes: our components,
// plain blocking sockets, a Qt peer (QTcpSocket and QTcpServer) and a
// Boost.Asio peer speaking the same wire format, each sender in this process
// and each receiver in a child process, measured in the same run. The four
// take turns in every round; the median of the rounds counts. Then ours and
// plain sockets again over IPv6 (::1), at three sizes; then ours without
// and with TLS (a pinned identity, a connection per message resuming the
// session before), at three sizes, beside OpenSSL alone.
//
//   messages                          runs the comparison
//   messages tls                      ours without and with TLS only
//   messages profile SIZE N [HOST]    ours to ours only, for callgrind or strace (HOST ::1: over IPv6)
//   messages profile-tls SIZE N       the same over TLS (pinned, resumed)
//   messages profile-plain SIZE N     plain to plain, the same way
//   messages receive-ours PORT N      (child) serves N messages with TQBStrmServ
//   messages receive-tls PORT N       (child) the same over TLS, with the identity in FERRO_BENCH_IDENTITY
//   messages receive-plain PORT N     (child) serves N messages with blocking sockets
//   messages receive-plain6 PORT N    (child) the same on ::1
//   messages receive-qt PORT N        (child) serves N messages with QTcpServer
//   messages receive-asio PORT N      (child) serves N messages with Boost.Asio
#include "asio_peer.h"
#include "idle.h"
#include "loopback.h"
#include "openssl_alone.h"
#include "qt_peer.h"

#include <ferrolink/qbmsg.h>
#include <ferrolink/tls.h>

#include <QTemporaryDir>

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

constexpr int kMessages = 200;
constexpr int kRounds = 15;
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

// The loopback address of IPv6 (::1) or IPv4, and its length.
socklen_t LoopbackOf(bool v6, int port, sockaddr_storage& into)
{
    into = {};
    if (v6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(into);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<std::uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        return sizeof a;
    }
    auto& a = reinterpret_cast<sockaddr_in&>(into);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sizeof a;
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

int ReceivePlain(int port, int count, bool v6 = false)
{
    const int listener = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage a;
    const socklen_t length = LoopbackOf(v6, port, a);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), length) != 0 || ::listen(listener, 1) != 0)
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

bool PostPlain(int port, const std::string& name, const std::string& body, bool v6 = false)
{
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a;
    const socklen_t length = LoopbackOf(v6, port, a);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), length) == 0;
    char header[300];
    const int headerLength = std::snprintf(header, sizeof header, "%.4d%s%4d", static_cast<int>(name.size()), name.c_str(), static_cast<int>(body.size()));
    char reply[16];
    ok = ok && WriteAll(fd, header, static_cast<std::size_t>(headerLength)) && WriteAll(fd, body.data(), body.size())
        && ReadExactly(fd, reply, sizeof reply);
    ::close(fd);
    return ok;
}

// --- our components ---------------------------------------------------------------

int ReceiveOurs(int port, int count, bool tls = false)
{
    TQBStrmServ server(nullptr);
    server.Port = port;
    if (tls) {
        const TTlsIdentity identity = EnsureIdentity(qEnvironmentVariable("FERRO_BENCH_IDENTITY").toStdString());
        server.Tls.Enabled = true;
        server.Tls.CertificateFile = identity.CertificateFile;
        server.Tls.KeyFile = identity.KeyFile;
        server.PrepareTls(true);
    }
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
        const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit(); // this program, also under a profiler
        ::execl(self.constData(), "messages", mode, p.c_str(), n.c_str(), static_cast<char*>(nullptr));
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
double MicrosecondsPerMessage(const char* mode, Post post, int messages = kMessages)
{
    const int port = FreePort();
    const Child child = StartReceiver(mode, port, kWarmUp + messages);
    for (int i = 0; i < kWarmUp; ++i)
        post(port);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < messages; ++i)
        post(port);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!Finish(child))
        std::fprintf(stderr, "receiver %s failed\n", mode);
    return seconds * 1e6 / messages;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The slope of the least-squares line through (size, time): microseconds
// per kilobyte.
double SlopePerKilobyte(const std::vector<int>& sizes, const std::vector<double>& us)
{
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const double x = sizes[i] / 1024.0;
        n += 1;
        sx += x;
        sy += us[i];
        sxx += x * x;
        sxy += x * us[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

// The median of each round's ratio: the two were measured one right after
// the other, so a drift of the machine's speed between rounds cancels out.
double MedianRatio(const std::vector<double>& ours, const std::vector<double>& theirs)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < ours.size(); ++i)
        ratios.push_back(ours[i] / theirs[i]);
    return Median(ratios);
}

struct Implementation {
    const char* Name;
    const char* Receiver; // the child's mode
    std::vector<double> Median; // per size
    std::vector<double> OursOverThis; // per size: the median of the rounds' ratios
};

// Ours and plain sockets over ::1 (our receiver listens on both families),
// beside the IPv4 figures above.
void CompareOverIPv6()
{
    std::printf("\nIPv6 (::1), plain and ours:\n%6s %10s %10s   %s\n", "bytes", "plain us", "ours us", "ours/plain");
    TQBStrm sender(nullptr);
    sender.Host = "::1";
    sender.FromName = "Quillbrook";
    for (int size : {0, 2000, 9999}) {
        const std::string body(static_cast<std::size_t>(size), 'b');
        TMemoryStream stream;
        stream.WriteBuffer(body.data(), size);
        std::vector<double> p, o;
        for (int round = 0; round < kRounds; ++round) {
            p.push_back(MicrosecondsPerMessage("receive-plain6", [&](int port) {
                if (!PostPlain(port, "Quillbrook", body, true))
                    std::fprintf(stderr, "plain post over IPv6 failed\n");
            }));
            o.push_back(MicrosecondsPerMessage("receive-ours", [&](int port) {
                sender.Port = port;
                sender.PostIt(stream);
            }));
        }
        std::printf("%6d %10.1f %10.1f   %10.2f\n", size, Median(p), Median(o), MedianRatio(o, p));
        std::fflush(stdout);
    }
}

// Ours without TLS and with it (TLS 1.3, the receiver pinned), one
// connection per message, each resuming the session of the one before;
// beside them OpenSSL alone doing the same exchanges in one thread, resumed
// and in full: the floor under what TLS can cost us.
void CompareOverTls()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("identity");
    const TTlsIdentity identity = EnsureIdentity(folder.toStdString());
    qputenv("FERRO_BENCH_IDENTITY", folder.toLocal8Bit());
    std::printf("\nTLS (1.3, pinned; a connection per message, resumed), ours without and with it, and OpenSSL alone:\n"
                "%6s %10s %10s %10s   %14s %12s %14s\n",
                "bytes", "plain us", "TLS us", "TLS/plain", "OpenSSL res us", "floor ratio", "OpenSSL full us");
    TQBStrm plain(nullptr), secure(nullptr);
    for (TQBStrm* sender : {&plain, &secure}) {
        sender->Host = "127.0.0.1";
        sender->FromName = "Quillbrook";
    }
    secure.Tls.Enabled = true;
    secure.Tls.Pins = {identity.Fingerprint};
    for (int size : {0, 2000, 9999}) {
        const std::string body(static_cast<std::size_t>(size), 'b');
        TMemoryStream stream;
        stream.WriteBuffer(body.data(), size);
        std::vector<double> p, t, resumed, full;
        for (int round = 0; round < kRounds; ++round) {
            p.push_back(MicrosecondsPerMessage("receive-ours", [&](int port) {
                plain.Port = port;
                plain.PostIt(stream);
            }));
            t.push_back(MicrosecondsPerMessage("receive-tls", [&](int port) {
                secure.Port = port;
                secure.PostIt(stream);
            }));
            resumed.push_back(OpenSslMicrosecondsPerExchange(identity.CertificateFile, identity.KeyFile, body.size(), true, kMessages));
            full.push_back(OpenSslMicrosecondsPerExchange(identity.CertificateFile, identity.KeyFile, body.size(), false, kMessages));
        }
        std::printf("%6d %10.1f %10.1f %10.2f   %14.1f %12.2f %14.1f\n", size, Median(p), Median(t), MedianRatio(t, p), Median(resumed),
                    (Median(p) + Median(resumed)) / Median(p), Median(full));
        std::fflush(stdout);
    }
}

int Compare()
{
    const std::vector<int> sizes = {0, 1, 100, 255, 256, 1000, 2000, 4000, 9999};
    std::printf("%d messages per round after %d to warm up, %d rounds, the implementations in turn; median shown;\n",
                kMessages, kWarmUp, kRounds);
    std::printf("a ratio is the median of the rounds' ratios;\n");
    std::printf("each sender in this process, its receiver in a child process, loopback\n\n");
    Implementation plain {"plain", "receive-plain", {}, {}}, qt {"Qt", "receive-qt", {}, {}}, asio {"Asio", "receive-asio", {}, {}},
        ours {"ours", "receive-ours", {}, {}};
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.FromName = "Quillbrook";
    std::printf("%6s %10s %10s %10s %10s   %s\n", "bytes", "plain us", "Qt us", "Asio us", "ours us", "ours/plain ours/Qt ours/Asio");
    for (int size : sizes) {
        const std::string body(static_cast<std::size_t>(size), 'b');
        const QByteArray qtBody(size, 'b');
        TMemoryStream stream;
        stream.WriteBuffer(body.data(), size);
        std::vector<double> p, q, a, o;
        for (int round = 0; round < kRounds; ++round) {
            p.push_back(MicrosecondsPerMessage(plain.Receiver, [&](int port) {
                if (!PostPlain(port, "Quillbrook", body))
                    std::fprintf(stderr, "plain post failed\n");
            }));
            q.push_back(MicrosecondsPerMessage(qt.Receiver, [&](int port) {
                if (PostWithQt(port, "Quillbrook", qtBody, 1) != 1)
                    std::fprintf(stderr, "Qt post failed\n");
            }));
            a.push_back(MicrosecondsPerMessage(asio.Receiver, [&](int port) {
                if (PostWithAsio(port, "Quillbrook", body, 1) != 1)
                    std::fprintf(stderr, "Asio post failed\n");
            }));
            o.push_back(MicrosecondsPerMessage(ours.Receiver, [&](int port) {
                sender.Port = port;
                sender.PostIt(stream);
            }));
        }
        plain.Median.push_back(Median(p));
        qt.Median.push_back(Median(q));
        asio.Median.push_back(Median(a));
        ours.Median.push_back(Median(o));
        plain.OursOverThis.push_back(MedianRatio(o, p));
        qt.OursOverThis.push_back(MedianRatio(o, q));
        asio.OursOverThis.push_back(MedianRatio(o, a));
        std::printf("%6d %10.1f %10.1f %10.1f %10.1f   %10.2f %7.2f %9.2f\n", size, plain.Median.back(), qt.Median.back(),
                    asio.Median.back(), ours.Median.back(), plain.OursOverThis.back(), qt.OursOverThis.back(),
                    asio.OursOverThis.back());
        std::fflush(stdout);
    }
    std::printf("\nslope (us per KiB):");
    const double plainSlope = SlopePerKilobyte(sizes, plain.Median);
    for (const Implementation* i : {&plain, &qt, &asio, &ours})
        std::printf(" %s %.2f,", i->Name, SlopePerKilobyte(sizes, i->Median));
    std::printf(" ours / plain %.2f\n", SlopePerKilobyte(sizes, ours.Median) / plainSlope);
    CompareOverIPv6();
    CompareOverTls();
    std::printf("\nidle: a Read waiting 3 s on a silent connection uses %.2f %% of a core\n", SilentReadCoreShare(3000));
    const std::size_t last = sizes.size() - 1;
    std::printf("ratio to Asio peer at 9999 bytes: %.2f\n", asio.OursOverThis[last]);
    std::printf("ratio to Qt peer at 9999 bytes: %.2f\n", qt.OursOverThis[last]);
    std::printf("ratio at 9999 bytes: %.2f\n", plain.OursOverThis[last]);
    return 0;
}

// Our sender posting `count` messages of `size` bytes to our receiver in a
// child process, for callgrind or strace to look at one side.
int Profile(int size, int count, const char* host = "127.0.0.1", bool tls = false)
{
    TQBStrm sender(nullptr);
    sender.Host = host;
    sender.FromName = "Quillbrook";
    QTemporaryDir dir;
    if (tls) {
        const QString folder = dir.filePath("identity");
        sender.Tls.Enabled = true;
        sender.Tls.Pins = {EnsureIdentity(folder.toStdString()).Fingerprint};
        qputenv("FERRO_BENCH_IDENTITY", folder.toLocal8Bit());
    }
    const std::string body(static_cast<std::size_t>(size), 'b');
    TMemoryStream stream;
    stream.WriteBuffer(body.data(), size);
    const double us = MicrosecondsPerMessage(tls ? "receive-tls" : "receive-ours", [&](int port) {
        sender.Port = port;
        sender.PostIt(stream);
    }, count);
    std::printf("%.1f us per message\n", us);
    return 0;
}

int ProfilePlain(int size, int count)
{
    const std::string body(static_cast<std::size_t>(size), 'b');
    MicrosecondsPerMessage("receive-plain", [&](int port) { PostPlain(port, "Quillbrook", body); }, count);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "profile" && (argc == 4 || argc == 5)) // ours to ours: SIZE COUNT [HOST], for a profiler
        return Profile(std::atoi(argv[2]), std::atoi(argv[3]), argc == 5 ? argv[4] : "127.0.0.1");
    if (mode == "profile-tls" && argc == 4) // the same over TLS
        return Profile(std::atoi(argv[2]), std::atoi(argv[3]), "127.0.0.1", true);
    if (mode == "profile-plain" && argc == 4) // plain to plain, the same way
        return ProfilePlain(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "receive-ours" && argc == 4)
        return ReceiveOurs(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "receive-tls" && argc == 4)
        return ReceiveOurs(std::atoi(argv[2]), std::atoi(argv[3]), true);
    if (mode == "tls") {
        CompareOverTls();
        return 0;
    }
    if (mode == "receive-plain" && argc == 4)
        return ReceivePlain(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "receive-plain6" && argc == 4)
        return ReceivePlain(std::atoi(argv[2]), std::atoi(argv[3]), true);
    if (mode == "receive-asio" && argc == 4)
        return ReceiveWithAsio(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "receive-qt" && argc == 4)
        return ReceiveWithQt(std::atoi(argv[2]), std::atoi(argv[3]));
    return Compare();
}
