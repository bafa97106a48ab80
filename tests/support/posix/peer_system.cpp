// The peers' system calls on POSIX sockets.
#include "peer_system.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace peer {

namespace {

sockaddr_in Address(const char* dotted, std::uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, dotted, &a.sin_addr);
    return a;
}

} // namespace

int Socket(bool nonBlocking)
{
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

void Close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

bool Bind(int fd, const char* address, std::uint16_t port, bool overTimeWait)
{
    const int on = 1;
    if (overTimeWait)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = Address(address, port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(int fd, int backlog)
{
    return ::listen(fd, backlog) == 0;
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_in a {};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

bool Connect(int fd, std::uint16_t port)
{
    const sockaddr_in a = Address("127.0.0.1", port);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

int Accept(int fd)
{
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}

long Send(int fd, const char* bytes, std::size_t count)
{
    return ::send(fd, bytes, count, MSG_NOSIGNAL);
}

long Receive(int fd, char* into, std::size_t count)
{
    return ::recv(fd, into, count, 0);
}

bool ConnectedWithin(int fd, int timeoutMs)
{
    pollfd p {fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLOUT) && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
        error == 0;
}

int ReachesOverIPv6(std::uint16_t port)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 to {};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(port);
    to.sin6_addr = in6addr_loopback;
    const int outcome = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 1 : errno == ECONNREFUSED ? 0 : -1;
    ::close(fd);
    return outcome;
}

bool ReceiveMeetsReset(int fd)
{
    char byte;
    return ::recv(fd, &byte, 1, 0) < 0 && errno == ECONNRESET;
}

int WaitReadable(const int* fds, int count, int timeoutMs)
{
    std::vector<pollfd> polled;
    for (int i = 0; i < count; ++i)
        polled.push_back({fds[i], POLLIN, 0});
    if (::poll(polled.data(), polled.size(), timeoutMs) <= 0)
        return -1;
    for (int i = 0; i < count; ++i) {
        if (polled[i].revents)
            return i;
    }
    return -1;
}

bool PeerGone(int fd, int timeoutMs)
{
    pollfd gone {fd, POLLRDHUP, 0};
    return ::poll(&gone, 1, timeoutMs) > 0 && (gone.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void ShutdownSending(int fd)
{
    ::shutdown(fd, SHUT_WR);
}

void Reset(int fd)
{
    linger l {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

bool NoDelayOn(int fd)
{
    int on = 0;
    socklen_t length = sizeof on;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0 && on != 0;
}

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

void SetBufferSizes(int fd, int sendBytes, int receiveBytes)
{
    if (sendBytes > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
    if (receiveBytes > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
}

bool ListensOn(std::uint16_t port)
{
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
                return true;
        }
    }
    return false;
}

int OpenDescriptors()
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

long long Spawn(const std::string& program, const std::vector<std::string>& args, int& output, int& errors)
{
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return 0;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> argv {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool started = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (!started) {
        ::close(out[0]);
        ::close(err[0]);
        return 0;
    }
    output = out[0];
    errors = err[0];
    return pid;
}

bool Ended(long long process, int& code)
{
    int status = 0;
    if (::waitpid(static_cast<pid_t>(process), &status, WNOHANG) != static_cast<pid_t>(process))
        return false;
    code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

void Kill(long long process)
{
    ::kill(static_cast<pid_t>(process), SIGKILL);
}

long ReadPipe(int fd, char* into, std::size_t count)
{
    ssize_t n;
    do
        n = ::read(fd, into, count);
    while (n < 0 && errno == EINTR);
    return n;
}

void ClosePipe(int fd)
{
    ::close(fd);
}

int SystemSocketOf(unsigned handle)
{
    return static_cast<int>(handle); // the stand-in's handle is the descriptor
}

} // namespace peer
