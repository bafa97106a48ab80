// Internal to the platforms' system units: what they share, written once
// because the systems' records and calls have the same fields and forms on
// every system we build for (only AF_INET6's value differs): an endpoint as
// the system's socket address record and back, IP texts, a lookup's hints
// and answer. Include after the system's socket headers.
#pragma once

#include "system_socket.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace ferro::sys {
namespace {

// `endpoint` as the system's record; its length.
int ToSystem(const TEndpoint& endpoint, sockaddr_storage& into)
{
    into = {};
    if (endpoint.Family == kInet6) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(into);
        in6.sin6_family = AF_INET6;
        std::memcpy(&in6.sin6_port, endpoint.Port, 2);
        std::memcpy(&in6.sin6_flowinfo, endpoint.FlowInfo, 4);
        std::memcpy(&in6.sin6_addr, endpoint.Ip, 16);
        in6.sin6_scope_id = endpoint.ScopeId;
        return sizeof in6;
    }
    auto& in = reinterpret_cast<sockaddr_in&>(into);
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_port, endpoint.Port, 2);
    std::memcpy(&in.sin_addr, endpoint.Ip, 4);
    return sizeof in;
}

TEndpoint FromSystem(const sockaddr* from)
{
    TEndpoint endpoint;
    if (from->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(from);
        endpoint.Family = kInet6;
        std::memcpy(endpoint.Port, &in6->sin6_port, 2);
        std::memcpy(endpoint.FlowInfo, &in6->sin6_flowinfo, 4);
        std::memcpy(endpoint.Ip, &in6->sin6_addr, 16);
        endpoint.ScopeId = in6->sin6_scope_id;
        return endpoint;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(from);
    std::memcpy(endpoint.Port, &in->sin_port, 2);
    std::memcpy(endpoint.Ip, &in->sin_addr, 4);
    return endpoint;
}

bool ParseIpText(const char* text, TEndpoint& into)
{
    std::uint8_t ip[16] = {};
    if (::inet_pton(AF_INET, text, ip) == 1)
        into.Family = kInet4;
    else if (::inet_pton(AF_INET6, text, ip) == 1)
        into.Family = kInet6;
    else
        return false;
    std::memcpy(into.Ip, ip, sizeof ip);
    return true;
}

std::string WrittenIp(const TEndpoint& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(address.Family == kInet6 ? AF_INET6 : AF_INET, address.Ip, text, sizeof text);
    return text;
}

addrinfo LookupHints(int family, bool canonical)
{
    addrinfo hints {};
    hints.ai_family = family == kInet6 ? AF_INET6 : family == kInet4 ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = canonical ? AI_CANONNAME : 0;
    return hints;
}

// The addresses of `list` (either family, at most `most`) and its
// canonical name when asked for, into `found`.
void TakeFound(const addrinfo* list, bool canonical, std::size_t most, TFound& found)
{
    if (canonical && list && list->ai_canonname)
        found.CanonicalName = list->ai_canonname;
    for (const addrinfo* a = list; a && found.Endpoints.size() < most; a = a->ai_next)
        if (a->ai_family == AF_INET || a->ai_family == AF_INET6)
            found.Endpoints.push_back(FromSystem(a->ai_addr));
}

} // namespace
} // namespace ferro::sys
