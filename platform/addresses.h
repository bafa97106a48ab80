// Addresses of both families: the interface's records (sockaddr_in, family
// 2; sockaddr_in6, family 23) and the transport's endpoints, both ways. An
// IPv4 peer of a dual-stack socket, which the system reports as
// ::ffff:a.b.c.d, is told as the IPv4 address it is.
#pragma once

#include "winsock.h"

#include "system_socket.h"

#include <string>

namespace ferro::winsock::detail {

// The transport's family for the interface's (AF_INET, AF_INET6: 23); -1
// for one the stand-in does not know.
int TransportFamily(int family);
// An interface record (`length` bytes at `name`) as an endpoint; false
// when it is too short or of an unknown family.
bool ToEndpoint(const sockaddr* name, int length, sys::TEndpoint& into);
// An endpoint as the interface's record.
sockaddr_storage FromEndpoint(const sys::TEndpoint& from);
// Copies `address` into a caller's record of `*addrLen` bytes, as accept
// does; the length is set to what the family needs, and a record too small
// for it is left alone.
void CopyAddress(const sockaddr_storage& address, sockaddr* addr, int* addrLen);
// The address and port the connected system socket `fd` is connected to,
// as bytes that tell peers apart (a key, not a text to show); empty when
// the system cannot tell.
std::string PeerAddressBytes(int fd);

} // namespace ferro::winsock::detail
