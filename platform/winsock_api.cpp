// The socket library's start-up, errors and conversions; the calls on
// sockets are in winsock.cpp, the notifications in selection.cpp.
#include "winsock.h"

#include "winsock_errors.h"

#include "channel.h"
#include "system_socket.h"

#include <atomic>
#include <cerrno>
#include <cstring>

// glibc may define these as macros; the stand-in defines functions of the
// same names.
#undef htons

namespace ferro::winsock {
namespace {

thread_local int tLastError = 0;
std::atomic<int> gStartups {0};

// Made before any code runs (it holds nothing), so asking for it costs no
// check of a first use.
constinit TPosixWinsock gPosixApi;
TWinsockApi* gApi = nullptr;

} // namespace

namespace detail {

int Fail(int error)
{
    tLastError = error;
    return SOCKET_ERROR;
}


bool Started() { return gStartups > 0; }

} // namespace detail

TWinsockApi& Api()
{
    return gApi ? *gApi : gPosixApi;
}

TWinsockOverride::TWinsockOverride(TWinsockApi& api) : FPrevious(gApi)
{
    gApi = &api;
}

TWinsockOverride::~TWinsockOverride()
{
    gApi = FPrevious;
}

int StartupCount()
{
    return gStartups;
}

int ErrorFromErrno(int error)
{
    // Some systems' EWOULDBLOCK is EAGAIN and cannot be a case of its own.
    if (error == EWOULDBLOCK)
        return WSAEWOULDBLOCK;
    switch (error) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case ENFILE: return WSAEMFILE;
    case ENOMEM: return WSAENOBUFS;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
#ifdef ESHUTDOWN // not every system's errno has these two
    case ESHUTDOWN: return WSAESHUTDOWN;
#endif
    case EPIPE: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
#ifdef EHOSTDOWN
    case EHOSTDOWN: return WSAEHOSTDOWN;
#endif
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case net::kTlsFailed: return ext::WSAETLSFAILED;
    default: return WSAEINVAL;
    }
}

std::uint32_t inet_addr(const char* text)
{
    // The common form, four decimal numbers without leading zeros, is read
    // here; every other form (octal, hexadecimal, fewer parts) the system's
    // way. Each connect and listen asks.
    unsigned char bytes[4];
    const char* at = text;
    for (unsigned char& byte : bytes) {
        const bool last = &byte == &bytes[3];
        unsigned value = 0;
        const char* digits = at;
        while (*at >= '0' && *at <= '9' && at - digits < 3)
            value = value * 10 + static_cast<unsigned>(*at++ - '0');
        const bool plain = at > digits && value <= 255 && !(*digits == '0' && at - digits > 1);
        if (!plain || *at != (last ? '\0' : '.'))
            return sys::InetAddr(text);
        byte = static_cast<unsigned char>(value);
        ++at;
    }
    std::uint32_t address; // network order: the bytes as written
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::uint16_t htons(std::uint16_t value)
{
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

int TPosixWinsock::WSAStartup(std::uint16_t versionRequested, WSADATA* data)
{
    if ((versionRequested & 0xFF) < 1)
        return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    std::strncpy(data->szDescription, "Ferrolink sockets on POSIX", WSADESCRIPTION_LEN);
    std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
    data->iMaxSockets = 0xFFFF;
    data->iMaxUdpDg = 0;
    ++gStartups;
    return 0;
}

int TPosixWinsock::WSACleanup()
{
    if (gStartups == 0)
        return detail::Fail(WSANOTINITIALISED);
    --gStartups;
    return 0;
}

int TPosixWinsock::WSAGetLastError()
{
    return tLastError;
}

void TPosixWinsock::WSASetLastError(int error)
{
    tLastError = error;
}

} // namespace ferro::winsock
