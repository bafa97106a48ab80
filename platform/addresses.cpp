#include "addresses.h"

#include "system_socket.h"

#include <algorithm>
#include <cstring>

namespace ferro::winsock {

namespace detail {

int TransportFamily(int family)
{
    return family == AF_INET ? sys::kInet4 : family == kFamilyInet6 ? sys::kInet6 : -1;
}

bool ToEndpoint(const sockaddr* name, int length, sys::TEndpoint& into)
{
    into = {};
    if (!name || length < static_cast<int>(sizeof(winsock::sockaddr_in)))
        return false;
    std::int16_t family;
    std::memcpy(&family, name, sizeof family);
    if (family == AF_INET) {
        winsock::sockaddr_in in;
        std::memcpy(&in, name, sizeof in);
        into.Family = sys::kInet4;
        std::memcpy(into.Port, &in.sin_port, 2);
        std::memcpy(into.Ip, &in.sin_addr.s_addr, 4);
        return true;
    }
    if (family == kFamilyInet6 && length >= static_cast<int>(sizeof(winsock::sockaddr_in6))) {
        winsock::sockaddr_in6 in;
        std::memcpy(&in, name, sizeof in);
        into.Family = sys::kInet6;
        std::memcpy(into.Port, &in.sin6_port, 2);
        std::memcpy(into.FlowInfo, &in.sin6_flowinfo, 4);
        std::memcpy(into.Ip, in.sin6_addr.Byte, 16);
        into.ScopeId = in.sin6_scope_id;
        return true;
    }
    return false;
}

sockaddr_storage FromEndpoint(const sys::TEndpoint& from)
{
    sockaddr_storage record {};
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    const bool v4 = from.Family != sys::kInet6 || std::memcmp(from.Ip, mapped, sizeof mapped) == 0; // ::ffff:a.b.c.d
    if (v4) {
        winsock::sockaddr_in out {};
        out.sin_family = AF_INET;
        std::memcpy(&out.sin_port, from.Port, 2);
        std::memcpy(&out.sin_addr.s_addr, from.Family == sys::kInet6 ? from.Ip + 12 : from.Ip, 4);
        std::memcpy(&record, &out, sizeof out);
        return record;
    }
    winsock::sockaddr_in6 out {};
    out.sin6_family = kFamilyInet6;
    std::memcpy(&out.sin6_port, from.Port, 2);
    std::memcpy(&out.sin6_flowinfo, from.FlowInfo, 4);
    std::memcpy(out.sin6_addr.Byte, from.Ip, 16);
    out.sin6_scope_id = from.ScopeId;
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
    sys::TEndpoint peer;
    if (sys::PeerAddress(fd, peer) != 0)
        return {};
    std::string bytes(1, static_cast<char>(peer.Family));
    bytes.append(reinterpret_cast<const char*>(peer.Ip), sizeof peer.Ip);
    bytes.append(reinterpret_cast<const char*>(peer.Port), sizeof peer.Port);
    bytes.append(std::to_string(peer.ScopeId));
    return bytes;
}

} // namespace detail

bool InetPton(const char* text, sockaddr_storage& into)
{
    into = {};
    sys::TEndpoint parsed;
    if (!sys::ParseIp(text, parsed))
        return false;
    if (parsed.Family == sys::kInet4) {
        winsock::sockaddr_in in {};
        in.sin_family = AF_INET;
        std::memcpy(&in.sin_addr.s_addr, parsed.Ip, 4);
        std::memcpy(&into, &in, sizeof in);
    } else {
        winsock::sockaddr_in6 in6 {}; // ::ffff:a.b.c.d written as such stays IPv6
        in6.sin6_family = kFamilyInet6;
        std::memcpy(in6.sin6_addr.Byte, parsed.Ip, 16);
        std::memcpy(&into, &in6, sizeof in6);
    }
    return true;
}

std::string AddressText(const sockaddr_storage& address)
{
    sys::TEndpoint endpoint;
    detail::ToEndpoint(reinterpret_cast<const sockaddr*>(&address), static_cast<int>(sizeof address), endpoint);
    const std::string port = std::to_string(endpoint.Port[0] << 8 | endpoint.Port[1]);
    const std::string ip = sys::IpText(endpoint);
    return endpoint.Family == sys::kInet6 ? "[" + ip + "]:" + port : ip + ":" + port;
}

int AddressLength(const sockaddr_storage& address)
{
    return address.ss_family == kFamilyInet6 ? static_cast<int>(sizeof(winsock::sockaddr_in6))
                                         : static_cast<int>(sizeof(winsock::sockaddr_in));
}

void SetPort(sockaddr_storage& address, std::uint16_t port)
{
    // Both records keep the port, in network order, right after the family.
    const unsigned char network[2] = {static_cast<unsigned char>(port >> 8), static_cast<unsigned char>(port & 0xFF)};
    std::memcpy(reinterpret_cast<char*>(&address) + 2, network, 2);
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
