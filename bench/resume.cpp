// What resuming costs: a send cut off part way (through a proxy that closes
// both ends after CUT bytes), then sent again to the same receiver, against
// the same file sent whole, in the same rounds, qbmsg send to qbmsg receive
// with a folder on tmpfs (/dev/shm). Timed from the sender's start until
// both ends have ended. The resumed pass moves only what the receiver had
// not kept, but both ends first compute the check of the part it kept.
// Then the same through a proxy that paces the sender's bytes to 100 MiB/s,
// a link slower than loopback and tmpfs.
//
//   resume [ROUNDS]                      runs it (3 rounds)
//   resume proxy FRONT BACK CUT RATE     (child) forwards one connection: CUT
//                                        bytes of the sender's at most (0: all),
//                                        RATE bytes a second at most (0: no limit)
#include "children.h"
#include "listening.h"
#include "loopback.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Forwards one connection from FRONT to BACK until either end closes, or
// CUT bytes of the client's have gone (a network that fails), the client's
// bytes paced to RATE a second.
int Proxy(int front, int back, long long cut, long long rate)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at = Loopback(front);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(listener, 1) != 0)
        Die("listen");
    const int a = ::accept(listener, nullptr, nullptr);
    const int b = ::socket(AF_INET, SOCK_STREAM, 0);
    at = Loopback(back);
    if (a < 0 || ::connect(b, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        Die("connect");
    std::vector<char> buffer(64 * 1024);
    const auto start = std::chrono::steady_clock::now();
    for (long long forwarded = 0; cut == 0 || forwarded < cut;) {
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0)
            break;
        const bool fromClient = fds[0].revents != 0;
        const long long left = cut == 0 ? static_cast<long long>(buffer.size()) : cut - forwarded;
        const std::size_t room = fromClient ? static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(buffer.size()))) : buffer.size();
        const ssize_t n = ::recv(fromClient ? a : b, buffer.data(), room, 0);
        if (n <= 0 || ::send(fromClient ? b : a, buffer.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
            break;
        if (fromClient)
            forwarded += n;
        if (fromClient && rate > 0)
            std::this_thread::sleep_until(start + std::chrono::microseconds(forwarded * 1000000 / rate));
    }
    ::close(a);
    ::close(b);
    return 0;
}

void AwaitListening(int port)
{
    for (int waited = 0; !ListensOn(port); ++waited) {
        if (waited == 10000) {
            std::fprintf(stderr, "resume: nothing listens on port %d\n", port);
            std::exit(1);
        }
        ::usleep(1000);
    }
}

// The size of the one part the receiver kept in `folder`; 0 when none.
long long KeptBytes(const std::string& folder)
{
    const std::string parts = folder + "/.qbmsg-partial";
    DIR* dir = ::opendir(parts.c_str());
    long long kept = 0;
    while (dir && !kept) {
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        struct stat info {};
        if (entry->d_name[0] != '.' && ::stat((parts + "/" + entry->d_name).c_str(), &info) == 0)
            kept = info.st_size;
    }
    if (dir)
        ::closedir(dir);
    return kept;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Starts the proxy from `front` to `back`, listening.
pid_t StartProxy(const std::string& self, int front, int back, long long cut, long long rate)
{
    const pid_t proxy = Start({self, "proxy", std::to_string(front), std::to_string(back), std::to_string(cut), std::to_string(rate)}, true);
    AwaitListening(front);
    return proxy;
}

// One pass to a receiver that stores one message in `folder`: `cut` bytes
// through a proxy first when `cut` > 0 (not timed), then the file sent
// again, through a proxy pacing it to `rate` when `rate` > 0, timed until
// both ends have ended. What was kept before the timed pass, and its time.
std::pair<long long, double> Pass(const std::string& folder, const std::string& source, int port, long long cut, long long rate,
                                  const std::string& self)
{
    std::system(("rm -rf '" + folder + "' && mkdir '" + folder + "'").c_str());
    const pid_t receiver = Start({QBMSG, "receive", "--port", std::to_string(port), "--count", "1", "--out", folder}, true); // the cut is reported
    AwaitListening(port);
    if (cut > 0) {
        const pid_t proxy = StartProxy(self, port + 1, port, cut, 0);
        if (ExitStatusOf(Start({QBMSG, "send", "--port", std::to_string(port + 1), "--progress", "never", source}, true)) == 0)
            Die("the cut pass was not cut");
        ExitStatusOf(proxy);
        for (int waited = 0; KeptBytes(folder) == 0 && waited < 5000; ++waited)
            ::usleep(1000);
    }
    const long long kept = KeptBytes(folder);
    const pid_t paced = rate > 0 ? StartProxy(self, port + 2, port, 0, rate) : 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string to = std::to_string(rate > 0 ? port + 2 : port);
    if (ExitStatusOf(Start({QBMSG, "send", "--port", to, "--progress", "never", source}, true)) != 0 || ExitStatusOf(receiver) != 0)
        Die("the timed pass failed");
    const double seconds = Seconds(start);
    if (paced)
        ExitStatusOf(paced);
    return {kept, seconds};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::string(argv[1]) == "proxy")
        return Proxy(std::atoi(argv[2]), std::atoi(argv[3]), std::atoll(argv[4]), std::atoll(argv[5]));
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    char dirTemplate[] = "/dev/shm/ferrolink-resume-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        Die("mkdtemp in /dev/shm");
    const std::string dir = dirTemplate, self = SelfPath();
    const int port = 47000 + ::getpid() % 10000;
    std::printf("%-12s %-10s %-10s %14s %12s %12s %10s %16s\n", "link", "body", "cut at", "moved again", "whole (s)", "resumed (s)", "ratio",
                "moved/whole");
    for (const long long rate : {0LL, 100LL << 20})
    for (const auto& [size, cut] : {std::pair {64LL << 20, 24LL << 20}, std::pair {256LL << 20, 96LL << 20}}) {
        const std::string source = dir + "/source";
        {
            std::ofstream out(source, std::ios::binary);
            std::vector<char> block(256 * 1024);
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<char>(i * 7 + i / 251);
            for (long long left = size; left > 0; left -= static_cast<long long>(block.size()))
                out.write(block.data(), static_cast<std::streamsize>(std::min<long long>(left, static_cast<long long>(block.size()))));
        }
        std::vector<double> whole, resumed, ratios;
        long long kept = 0;
        for (int round = 0; round < rounds; ++round) {
            const double w = Pass(dir + "/in", source, port, 0, rate, self).second;
            const auto [k, r] = Pass(dir + "/in", source, port, cut, rate, self);
            whole.push_back(w);
            resumed.push_back(r);
            ratios.push_back(r / w);
            kept = k;
        }
        const double moved = static_cast<double>(size - kept);
        std::printf("%-12s %-10s %-10s %10.1f MiB %12.3f %12.3f %10.2f %16.2f\n", rate ? "100 MiB/s" : "loopback", (std::to_string(size >> 20) + " MiB").c_str(),
                    (std::to_string(cut >> 20) + " MiB").c_str(), moved / (1 << 20), Median(whole), Median(resumed), Median(ratios),
                    moved / static_cast<double>(size));
        std::fflush(stdout);
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
