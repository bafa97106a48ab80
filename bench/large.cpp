// Large bodies, from a file to a file on tmpfs (/dev/shm): qbmsg send to
// qbmsg receive (the large form, its check included, the body flushed and
// named) against plain blocking C sockets that stream the same file into a
// file and fsync it. Both ends are processes; a round is timed from the
// sender's start until both have ended. The two take turns; the median of
// the rounds counts. Each receiver runs under /usr/bin/time, which tells its
// peak resident memory. Then ours again over TLS (a pinned identity), and
// its ratio to ours without TLS, measured in the same rounds.
//
//   large [ROUNDS]                  runs the comparison (3 rounds)
//   large plain-receive PORT FILE   (child) takes one body into FILE
//   large plain-send PORT FILE      (child) sends FILE
#include "children.h"
#include "listening.h"
#include "loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunk = 256 * 1024;


int PlainReceive(int port, const char* path)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at = Loopback(port);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(listener, 1) != 0)
        Die("listen");
    const int fd = ::accept(listener, nullptr, nullptr);
    const int out = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n)
            Die("write");
    }
    if (::fsync(out) != 0)
        Die("fsync");
    ::close(out);
    ::close(fd);
    return 0;
}

int PlainSend(int port, const char* path)
{
    const int in = ::open(path, O_RDONLY);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at = Loopback(port);
    if (in < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        Die("connect");
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t k = ::send(fd, buffer.data() + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
            if (k <= 0)
                Die("send");
            sent += k;
        }
    }
    ::shutdown(fd, SHUT_WR);
    char byte;
    while (::recv(fd, &byte, 1, 0) > 0) {
    }
    ::close(fd);
    return 0;
}

void Await(pid_t pid)
{
    if (const int status = ExitStatusOf(pid); status != 0) {
        std::fprintf(stderr, "large: a child failed (status %d)\n", status);
        std::exit(1);
    }
}

long PeakKiB(const std::string& file)
{
    std::ifstream in(file);
    long kib = 0;
    in >> kib;
    return kib;
}

struct Run {
    double Seconds;
    long PeakKiB;
};

// One transfer: the receiver under /usr/bin/time, then the sender; timed
// from the sender's start until both have ended.
Run Transfer(const std::vector<std::string>& receiver, const std::vector<std::string>& sender, int port, const std::string& rss)
{
    std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M", "-o", rss};
    timed.insert(timed.end(), receiver.begin(), receiver.end());
    const pid_t r = Start(timed);
    for (int waited = 0; !ListensOn(port); ++waited) {
        if (waited == 10000) {
            std::fprintf(stderr, "large: the receiver %s does not listen on port %d\n", receiver.front().c_str(), port);
            std::exit(1);
        }
        ::usleep(1000);
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t s = Start(sender);
    Await(s);
    Await(r);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {seconds, PeakKiB(rss)};
}

// A TLS identity for the receiver, made by qbmsg; its fingerprint.
std::string MakeIdentity(const std::string& folder)
{
    FILE* out = ::popen((std::string(QBMSG) + " identity '" + folder + "'").c_str(), "r");
    char line[128] = {};
    if (!out || !std::fgets(line, sizeof line, out) || ::pclose(out) != 0)
        Die("qbmsg identity");
    std::string fingerprint = line;
    while (!fingerprint.empty() && fingerprint.back() == '\n')
        fingerprint.pop_back();
    return fingerprint;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "plain-receive" && argc == 4)
        return PlainReceive(std::atoi(argv[2]), argv[3]);
    if (mode == "plain-send" && argc == 4)
        return PlainSend(std::atoi(argv[2]), argv[3]);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    char dirTemplate[] = "/dev/shm/ferrolink-large-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        Die("mkdtemp in /dev/shm");
    const std::string dir = dirTemplate;
    const std::string self = SelfPath();
    const std::string rss = dir + "/rss";
    const int port = 46000 + ::getpid() % 10000;
    const std::string identity = dir + "/identity";
    const std::string pin = MakeIdentity(identity);

    std::printf("%-10s %12s %12s %8s %14s %14s %12s %10s\n", "body", "ours (s)", "plain (s)", "ratio", "ours peak RSS", "plain peak RSS",
                "TLS (s)", "TLS/ours");
    for (const long long size : {1LL << 20, 64LL << 20, 256LL << 20}) {
        const std::string source = dir + "/source";
        {
            std::ofstream out(source, std::ios::binary);
            std::vector<char> block(kChunk);
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<char>(i * 7 + i / 251);
            for (long long left = size; left > 0; left -= static_cast<long long>(kChunk))
                out.write(block.data(), static_cast<std::streamsize>(std::min<long long>(left, kChunk)));
        }
        std::vector<double> ours, plain, secure, secureRatios;
        long oursPeak = 0, plainPeak = 0;
        for (int round = 0; round < rounds; ++round) {
            const std::string in = dir + "/in";
            std::system(("rm -rf '" + in + "' && mkdir '" + in + "'").c_str());
            const Run o = Transfer({QBMSG, "receive", "--port", std::to_string(port), "--count", "1", "--out", in},
                                   {QBMSG, "send", "--port", std::to_string(port), "--progress", "never", source}, port, rss);
            const Run p = Transfer({self, "plain-receive", std::to_string(port + 1), in + "/plain"},
                                   {self, "plain-send", std::to_string(port + 1), source}, port + 1, rss);
            std::system(("rm -rf '" + in + "' && mkdir '" + in + "'").c_str());
            const Run t = Transfer({QBMSG, "receive", "--port", std::to_string(port + 2), "--count", "1", "--out", in, "--tls", "--identity", identity},
                                   {QBMSG, "send", "--port", std::to_string(port + 2), "--progress", "never", "--tls", "--pin", pin, source},
                                   port + 2, rss);
            ours.push_back(o.Seconds);
            plain.push_back(p.Seconds);
            secure.push_back(t.Seconds);
            secureRatios.push_back(t.Seconds / o.Seconds);
            oursPeak = std::max(oursPeak, o.PeakKiB);
            plainPeak = std::max(plainPeak, p.PeakKiB);
        }
        const double o = Median(ours), p = Median(plain);
        std::printf("%-10s %12.3f %12.3f %8.2f %10ld KiB %10ld KiB %12.3f %10.2f\n", (std::to_string(size >> 20) + " MiB").c_str(), o, p,
                    o / p, oursPeak, plainPeak, Median(secure), Median(secureRatios));
        std::fflush(stdout);
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
