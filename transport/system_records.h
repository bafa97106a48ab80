// Internal to the platforms' system units: an endpoint as the system's
// socket address record and back. IPv4's and IPv6's records have the same
// fields on every system we build for (only AF_INET6's value differs);
// include after the system's socket headers.
#pragma once

#include "system_socket.h"

#include <cstring>

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

} // namespace
} // namespace ferro::sys
