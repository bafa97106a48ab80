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

// The system's <winsock2.h>, where it came first, makes s_addr a macro;
// the record is the same without it.
#pragma push_macro("s_addr")
#undef s_addr
/// An IPv4 address.
struct in_addr {
    std::uint32_t s_addr; ///< the address, in network byte order
};
#pragma pop_macro("s_addr")

/// The 16-byte address record: family, port and address in network byte
/// order, eight zero bytes.
struct sockaddr_in {
    std::int16_t sin_family; ///< the address family: 2, IPv4
    std::uint16_t sin_port;  ///< the port, in network byte order
    in_addr sin_addr;        ///< the address
    char sin_zero[8];        ///< zero bytes
};
static_assert(sizeof(sockaddr_in) == 16);

/// An IPv6 address.
struct in6_addr {
    std::uint8_t Byte[16]; ///< the address, in network byte order (s6_addr is a macro of the system headers)
};

/// The 28-byte IPv6 address record of the later socket interface.
struct sockaddr_in6 {
    std::int16_t sin6_family;    ///< the address family: 23, IPv6
    std::uint16_t sin6_port;     ///< the port, in network byte order
    std::uint32_t sin6_flowinfo; ///< the flow label: 0
    in6_addr sin6_addr;          ///< the address
    std::uint32_t sin6_scope_id; ///< the interface of a link-local address, else 0
};
static_assert(sizeof(sockaddr_in6) == 28);

/// Room for an address record of either family (sockaddr_in, sockaddr_in6),
/// told apart by the family at its start.
struct sockaddr_storage {
    std::int16_t ss_family; ///< 2 (IPv4) or 23 (IPv6)
    char ss_pad[126];       ///< the rest of the record
};
static_assert(sizeof(sockaddr_storage) == 128);

/// The most addresses a name lookup reports.
constexpr int MAXADDRESSES = 16;

/// A name's addresses, in the order the system's resolver gave them (ports 0).
struct ADDRESSLIST {
    int Count;                               ///< how many of Address are filled
    sockaddr_storage Address[MAXADDRESSES]; ///< the addresses
};

// Where the system's <winsock2.h> came first, its macros of the same values
// stand for these.
#ifndef WSADESCRIPTION_LEN
/// Room for the socket library's description in WSADATA.
constexpr int WSADESCRIPTION_LEN = 256;
#endif
#ifndef WSASYS_STATUS_LEN
/// Room for the socket library's status text in WSADATA.
constexpr int WSASYS_STATUS_LEN = 128;
#endif

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
