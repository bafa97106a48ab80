// The peers' system calls on ws2_32.
#include "peer_system.h"

#include "system_handles.h" // the transport's: the SOCKET behind a handle

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

namespace peer {

namespace {

SOCKET Of(int fd)
{
    return static_cast<SOCKET>(fd);
}

sockaddr_in Address(const char* dotted, std::uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, dotted, &a.sin_addr);
    return a;
}

void StartWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

// The listeners of one family's table on `port`.
template <typename Table>
bool TableListensOn(ULONG family, std::uint16_t port)
{
    DWORD size = 0;
    ::GetExtendedTcpTable(nullptr, &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
    std::vector<char> bytes(size + 1024);
    size = static_cast<DWORD>(bytes.size());
    if (::GetExtendedTcpTable(bytes.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0) != NO_ERROR)
        return false;
    const auto* table = reinterpret_cast<const Table*>(bytes.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
            return true;
    }
    return false;
}

} // namespace

int Socket(bool nonBlocking)
{
    StartWinsock();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return -1;
    u_long on = nonBlocking ? 1 : 0;
    ::ioctlsocket(s, FIONBIO, &on);
    return static_cast<int>(s);
}

void Close(int fd)
{
    if (fd >= 0)
        ::closesocket(Of(fd));
}

bool Bind(int fd, const char* address, std::uint16_t port, bool)
{
    // Exclusive, so that no other listener can share the port; Windows binds
    // over TIME_WAIT by itself.
    const BOOL on = TRUE;
    ::setsockopt(Of(fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    const sockaddr_in a = Address(address, port);
    return ::bind(Of(fd), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool Listen(int fd, int backlog)
{
    return ::listen(Of(fd), backlog) == 0;
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_in a {};
    int length = sizeof a;
    ::getsockname(Of(fd), reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

bool Connect(int fd, std::uint16_t port)
{
    const sockaddr_in a = Address("127.0.0.1", port);
    return ::connect(Of(fd), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

int Accept(int fd)
{
    const SOCKET s = ::accept(Of(fd), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

long Send(int fd, const char* bytes, std::size_t count)
{
    return ::send(Of(fd), bytes, static_cast<int>(count), 0);
}

long Receive(int fd, char* into, std::size_t count)
{
    return ::recv(Of(fd), into, static_cast<int>(count), 0);
}

bool ConnectedWithin(int fd, int timeoutMs)
{
    WSAPOLLFD p {Of(fd), POLLWRNORM, 0};
    int error = 0;
    int length = sizeof error;
    return ::WSAPoll(&p, 1, timeoutMs) > 0 && (p.revents & POLLWRNORM) &&
        ::getsockopt(Of(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

int ReachesOverIPv6(std::uint16_t port)
{
    StartWinsock();
    const SOCKET s = ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in6 to {};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(port);
    to.sin6_addr = in6addr_loopback;
    const int outcome = ::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 1
        : ::WSAGetLastError() == WSAECONNREFUSED                                             ? 0
                                                                                             : -1;
    ::closesocket(s);
    return outcome;
}

bool ReceiveMeetsReset(int fd)
{
    char byte;
    return ::recv(Of(fd), &byte, 1, 0) == SOCKET_ERROR && ::WSAGetLastError() == WSAECONNRESET;
}

int WaitReadable(const int* fds, int count, int timeoutMs)
{
    std::vector<WSAPOLLFD> polled;
    for (int i = 0; i < count; ++i)
        polled.push_back({Of(fds[i]), POLLRDNORM, 0});
    if (::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeoutMs) <= 0)
        return -1;
    for (int i = 0; i < count; ++i) {
        if (polled[i].revents)
            return i;
    }
    return -1;
}

bool PeerGone(int fd, int timeoutMs)
{
    // Windows has no "peer hung up" poll event beside data: a readable socket
    // whose peek finds the end (or an error) is gone; one with bytes waiting
    // is taken as still there.
    if (WaitReadable(&fd, 1, timeoutMs) < 0)
        return false;
    char byte;
    return ::recv(Of(fd), &byte, 1, MSG_PEEK) <= 0;
}

void ShutdownSending(int fd)
{
    ::shutdown(Of(fd), SD_SEND);
}

void Reset(int fd)
{
    const linger l {1, 0};
    ::setsockopt(Of(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    ::closesocket(Of(fd));
}

bool NoDelayOn(int fd)
{
    BOOL on = FALSE;
    int length = sizeof on;
    return ::getsockopt(Of(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on), &length) == 0 && on;
}

bool IsOpen(int fd)
{
    int type = 0;
    int length = sizeof type;
    return ::getsockopt(Of(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

void SetBufferSizes(int fd, int sendBytes, int receiveBytes)
{
    if (sendBytes > 0)
        ::setsockopt(Of(fd), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBytes), sizeof sendBytes);
    if (receiveBytes > 0)
        ::setsockopt(Of(fd), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBytes), sizeof receiveBytes);
}

bool ListensOn(std::uint16_t port)
{
    return TableListensOn<MIB_TCPTABLE_OWNER_PID>(AF_INET, port) || TableListensOn<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, port);
}

int OpenDescriptors()
{
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return static_cast<int>(count);
}

namespace {

std::wstring Wide(const std::string& utf8)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

// One argument as the C runtime's parser reads it back.
std::wstring Quoted(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

} // namespace

long long Spawn(const std::string& program, const std::vector<std::string>& args, int& output, int& errors)
{
    SECURITY_ATTRIBUTES inherited {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!::CreatePipe(&outRead, &outWrite, &inherited, 0) || !::CreatePipe(&errRead, &errWrite, &inherited, 0))
        return 0;
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0); // our ends stay ours
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    std::wstring line = Quoted(Wide(program));
    for (const std::string& arg : args)
        line += L" " + Quoted(Wide(arg));
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION started {};
    const bool ok = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started);
    ::CloseHandle(startup.hStdInput);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (!ok) {
        ::CloseHandle(outRead);
        ::CloseHandle(errRead);
        return 0;
    }
    ::CloseHandle(started.hThread);
    output = ::_open_osfhandle(reinterpret_cast<intptr_t>(outRead), _O_BINARY);
    errors = ::_open_osfhandle(reinterpret_cast<intptr_t>(errRead), _O_BINARY);
    return reinterpret_cast<long long>(started.hProcess);
}

bool Ended(long long process, int& code)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(process);
    DWORD status = 0;
    if (::WaitForSingleObject(handle, 0) != WAIT_OBJECT_0 || !::GetExitCodeProcess(handle, &status))
        return false;
    code = static_cast<int>(status);
    return true;
}

void Kill(long long process)
{
    ::TerminateProcess(reinterpret_cast<HANDLE>(process), 137);
}

long ReadPipe(int fd, char* into, std::size_t count)
{
    return ::_read(fd, into, static_cast<unsigned>(count)); // a broken pipe is its end: -1
}

void ClosePipe(int fd)
{
    ::_close(fd);
}

int SystemSocketOf(unsigned handle)
{
    const SOCKET s = ferro::sys::SystemHandle(static_cast<int>(handle));
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

} // namespace peer
