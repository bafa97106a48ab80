// Name lookups: the system's resolver, which blocks, so it is run on a
// thread of the caller's own; the addresses come in the order the resolver
// gives them (the system's address selection rules: RFC 6724,
// /etc/gai.conf).
#pragma once

#include "system_socket.h"

#include <cstddef>
#include <string>

namespace ferro::net {

using TResolved = sys::TFound;

// Looks `name` up for TCP in `family` (sys::kInet4, sys::kInet6, or 0 for
// either), keeping at most `most` addresses; with `canonical`, its
// canonical name too. Blocks until the resolver answers.
TResolved LookUp(const std::string& name, int family, std::size_t most, bool canonical);

} // namespace ferro::net
