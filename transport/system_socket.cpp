#include "system_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace ferro::sys {

namespace {

// A result, or minus the errno the call left.
long Checked(long result)
{
    return result < 0 ? -errno : result;
}

} // namespace

int OpenStream(int family, int type, int protocol)
{
    return static_cast<int>(Checked(::socket(family, type | SOCK_CLOEXEC, protocol)));
}

int ReplaceStream(int fd, int family)
{
    const int fresh = OpenStream(family);
    if (fresh < 0)
        return fresh;
    const int moved = static_cast<int>(Checked(::dup3(fresh, fd, O_CLOEXEC)));
    ::close(fresh);
    return moved < 0 ? moved : 0;
}

int Close(int fd)
{
    return static_cast<int>(Checked(::close(fd)));
}

int Connect(int fd, const ::sockaddr_storage& to, socklen_t length)
{
    return static_cast<int>(Checked(::connect(fd, reinterpret_cast<const ::sockaddr*>(&to), length)));
}

int Bind(int fd, const ::sockaddr_storage& at, socklen_t length)
{
    return static_cast<int>(Checked(::bind(fd, reinterpret_cast<const ::sockaddr*>(&at), length)));
}

int Listen(int fd, int backlog)
{
    return static_cast<int>(Checked(::listen(fd, backlog)));
}

int Accept(int fd, ::sockaddr_storage& from)
{
    socklen_t length = sizeof from;
    return static_cast<int>(Checked(::accept4(fd, reinterpret_cast<::sockaddr*>(&from), &length, SOCK_CLOEXEC)));
}

int Shutdown(int fd, int how)
{
    return static_cast<int>(Checked(::shutdown(fd, how)));
}

long Receive(int fd, void* into, std::size_t length, int flags)
{
    return Checked(::recv(fd, into, length, flags));
}

long Send(int fd, const void* bytes, std::size_t length, int flags)
{
    return Checked(::send(fd, bytes, length, flags | MSG_NOSIGNAL));
}

long SendGathered(int fd, const ::iovec* parts, std::size_t count, int flags)
{
    ::msghdr message {};
    message.msg_iov = const_cast<::iovec*>(parts);
    message.msg_iovlen = count;
    return Checked(::sendmsg(fd, &message, flags | MSG_NOSIGNAL));
}

int Poll(int fd, short events, int ms)
{
    ::pollfd look {fd, events, 0};
    const int n = static_cast<int>(Checked(::poll(&look, 1, ms)));
    return n > 0 ? look.revents : n;
}

int SetOption(int fd, int level, int name, const void* value, socklen_t length)
{
    return static_cast<int>(Checked(::setsockopt(fd, level, name, value, length)));
}

int SetFlag(int fd, int level, int name, int value)
{
    return SetOption(fd, level, name, &value, sizeof value);
}

int GetOption(int fd, int level, int name, void* value, socklen_t& length)
{
    return static_cast<int>(Checked(::getsockopt(fd, level, name, value, &length)));
}

int PendingError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    const int r = GetOption(fd, SOL_SOCKET, SO_ERROR, &error, length);
    return r < 0 ? -r : error;
}

int PeerAddress(int fd, ::sockaddr_storage& peer, socklen_t& length)
{
    length = sizeof peer;
    return static_cast<int>(Checked(::getpeername(fd, reinterpret_cast<::sockaddr*>(&peer), &length)));
}

int LookUp(const char* name, const ::addrinfo& hints, ::addrinfo*& list)
{
    list = nullptr;
    return ::getaddrinfo(name, nullptr, &hints, &list);
}

void FreeAddresses(::addrinfo* list)
{
    if (list)
        ::freeaddrinfo(list);
}

bool NothingYet(long result)
{
    return result == -EAGAIN || result == -EWOULDBLOCK || result == -EINTR;
}

} // namespace ferro::sys
