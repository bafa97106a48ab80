/// @file
/// The records of the socket library that a component holds (its start-up
/// information and its peer's address), and the handle types: types only, no
/// constants or calls, so that this header sits beside the system's socket
/// headers in any order.
#pragma once

#include <cstdint>

namespace ferro::winsock {

/// A socket number of the socket library.
using SOCKET = std::uintptr_t;
/// The handle of an asynchronous request (a name lookup).
using HANDLE = std::uintptr_t;

/// An IPv4 address.
struct in_addr {
    std::uint32_t s_addr; ///< the address, in network byte order
};

/// The 16-byte address record: family, port and address in network byte
/// order, eight zero bytes.
struct sockaddr_in {
    std::int16_t sin_family; ///< the address family: 2, IPv4
    std::uint16_t sin_port;  ///< the port, in network byte order
    in_addr sin_addr;        ///< the address
    char sin_zero[8];        ///< zero bytes
};
static_assert(sizeof(sockaddr_in) == 16);

/// Room for the socket library's description in WSADATA.
constexpr int WSADESCRIPTION_LEN = 256;
/// Room for the socket library's status text in WSADATA.
constexpr int WSASYS_STATUS_LEN = 128;

/// What the socket library tells of itself when a component starts it.
struct WSADATA {
    std::uint16_t wVersion;                          ///< the version in use: 1.1 is 0x0101
    std::uint16_t wHighVersion;                      ///< the highest version the library offers
    char szDescription[WSADESCRIPTION_LEN + 1];      ///< its description, zero-terminated
    char szSystemStatus[WSASYS_STATUS_LEN + 1];      ///< its status, zero-terminated
    std::uint16_t iMaxSockets;                       ///< how many sockets a process may open
    std::uint16_t iMaxUdpDg;                         ///< the largest datagram (0: no limit)
    char* lpVendorInfo;                              ///< unused: null
};

} // namespace ferro::winsock
