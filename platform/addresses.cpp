#include "addresses.h"

#include "system_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace ferro::winsock {

namespace detail {

int PosixFamily(int family)
{
    return family == AF_INET ? PF_INET : family == kFamilyInet6 ? PF_INET6 : -1;
}

bool ToPosix(const sockaddr* name, int length, ::sockaddr_storage& into, socklen_t& intoLength)
{
    into = {};
    if (!name || length < static_cast<int>(sizeof(winsock::sockaddr_in)))
        return false;
    std::int16_t family;
    std::memcpy(&family, name, sizeof family);
    if (family == AF_INET) {
        winsock::sockaddr_in in;
        std::memcpy(&in, name, sizeof in);
        auto& out = reinterpret_cast<::sockaddr_in&>(into);
        out.sin_family = PF_INET;
        out.sin_port = in.sin_port;
        out.sin_addr.s_addr = in.sin_addr.s_addr;
        intoLength = sizeof(::sockaddr_in);
        return true;
    }
    if (family == kFamilyInet6 && length >= static_cast<int>(sizeof(winsock::sockaddr_in6))) {
        winsock::sockaddr_in6 in;
        std::memcpy(&in, name, sizeof in);
        auto& out = reinterpret_cast<::sockaddr_in6&>(into);
        out.sin6_family = PF_INET6;
        out.sin6_port = in.sin6_port;
        out.sin6_flowinfo = in.sin6_flowinfo;
        std::memcpy(&out.sin6_addr, in.sin6_addr.Byte, 16);
        out.sin6_scope_id = in.sin6_scope_id;
        intoLength = sizeof(::sockaddr_in6);
        return true;
    }
    return false;
}

sockaddr_storage FromPosix(const ::sockaddr_storage& from)
{
    sockaddr_storage record {};
    if (from.ss_family == PF_INET6) {
        const auto& in = reinterpret_cast<const ::sockaddr_in6&>(from);
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::memcmp(&in.sin6_addr, mapped, sizeof mapped) == 0) { // ::ffff:a.b.c.d
            winsock::sockaddr_in out {};
            out.sin_family = AF_INET;
            out.sin_port = in.sin6_port;
            std::memcpy(&out.sin_addr.s_addr, reinterpret_cast<const unsigned char*>(&in.sin6_addr) + 12, 4);
            std::memcpy(&record, &out, sizeof out);
            return record;
        }
        winsock::sockaddr_in6 out {};
        out.sin6_family = kFamilyInet6;
        out.sin6_port = in.sin6_port;
        out.sin6_flowinfo = in.sin6_flowinfo;
        std::memcpy(out.sin6_addr.Byte, &in.sin6_addr, 16);
        out.sin6_scope_id = in.sin6_scope_id;
        std::memcpy(&record, &out, sizeof out);
        return record;
    }
    const auto& in = reinterpret_cast<const ::sockaddr_in&>(from);
    winsock::sockaddr_in out {};
    out.sin_family = AF_INET;
    out.sin_port = in.sin_port;
    out.sin_addr.s_addr = in.sin_addr.s_addr;
    std::memcpy(&record, &out, sizeof out);
    return record;
}

void CopyAddress(const sockaddr_storage& address, sockaddr* addr, int* addrLen)
{
    const int needed = AddressLength(address);
    if (!addr || !addrLen || *addrLen < needed)
        return;
    std::memcpy(addr, &address, static_cast<std::size_t>(needed));
    *addrLen = needed;
}

std::string PeerAddressBytes(int fd)
{
    ::sockaddr_storage peer {};
    socklen_t length = 0;
    if (sys::PeerAddress(fd, peer, length) != 0)
        return {};
    return std::string(reinterpret_cast<const char*>(&peer), std::min<std::size_t>(length, sizeof peer));
}

} // namespace detail

bool InetPton(const char* text, sockaddr_storage& into)
{
    into = {};
    winsock::sockaddr_in in {};
    if (::inet_pton(PF_INET, text, &in.sin_addr.s_addr) == 1) {
        in.sin_family = AF_INET;
        std::memcpy(&into, &in, sizeof in);
        return true;
    }
    winsock::sockaddr_in6 in6 {};
    if (::inet_pton(PF_INET6, text, in6.sin6_addr.Byte) == 1) {
        in6.sin6_family = kFamilyInet6;
        std::memcpy(&into, &in6, sizeof in6);
        return true;
    }
    return false;
}

std::string AddressText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == kFamilyInet6) {
        winsock::sockaddr_in6 in6;
        std::memcpy(&in6, &address, sizeof in6);
        ::inet_ntop(PF_INET6, in6.sin6_addr.Byte, text, sizeof text);
        std::string shown = "[";
        shown.append(text).append("]:").append(std::to_string(ntohs(in6.sin6_port)));
        return shown;
    }
    winsock::sockaddr_in in;
    std::memcpy(&in, &address, sizeof in);
    ::inet_ntop(PF_INET, &in.sin_addr.s_addr, text, sizeof text);
    std::string shown = text;
    shown.append(":").append(std::to_string(ntohs(in.sin_port)));
    return shown;
}

int AddressLength(const sockaddr_storage& address)
{
    return address.ss_family == kFamilyInet6 ? static_cast<int>(sizeof(winsock::sockaddr_in6))
                                         : static_cast<int>(sizeof(winsock::sockaddr_in));
}

void SetPort(sockaddr_storage& address, std::uint16_t port)
{
    // Both records keep the port, in network order, right after the family.
    const std::uint16_t network = htons(port);
    std::memcpy(reinterpret_cast<char*>(&address) + 2, &network, 2);
}

bool IsAnyAddress(const sockaddr_storage& address)
{
    static const char zeros[16] = {};
    if (address.ss_family == kFamilyInet6) {
        winsock::sockaddr_in6 in6;
        std::memcpy(&in6, &address, sizeof in6);
        return std::memcmp(in6.sin6_addr.Byte, zeros, 16) == 0;
    }
    winsock::sockaddr_in in;
    std::memcpy(&in, &address, sizeof in);
    return in.sin_addr.s_addr == 0;
}

} // namespace ferro::winsock
