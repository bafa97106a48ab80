// Name lookups: the system's resolver (getaddrinfo), which blocks, so it is
// run on a thread of the caller's own; the addresses come in the order the
// resolver gives them (the system's address selection rules: RFC 6724,
// /etc/gai.conf).
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ferro::net {

struct TResolved {
    int Error = 0;                          // the resolver's EAI_ code; 0 when it answered
    std::string CanonicalName;              // when asked for and known
    std::vector<::sockaddr_storage> Addresses; // the system's records, the resolver's order
};

// Looks `name` up for TCP in `family` (PF_INET, PF_INET6, or PF_UNSPEC for
// either), keeping at most `most` addresses; with `canonical`, its
// canonical name too. Blocks until the resolver answers.
TResolved LookUp(const std::string& name, int family, std::size_t most, bool canonical);

} // namespace ferro::net
