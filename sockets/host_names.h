// What can be a host: refused before anything is looked up, so that no
// name is cut, and no text that merely begins with an address (the system's
// address parser stops at a blank) is taken for that address.
#pragma once

#include <string>

namespace ferro {

/// Why `host` (brackets removed) can be neither an address nor a host name,
/// in words ("261 characters, at most 253"); empty when it can be one.
std::string HostNameFault(const std::string& host);

} // namespace ferro
