// The IPv4 loopback address with a port, for the benchmarks' own plain
// sockets and proxies.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

inline sockaddr_in Loopback(int port)
{
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return at;
}
