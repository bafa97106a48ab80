// Internal: a C stream on a file named in UTF-8, each platform's own (on
// Windows a name goes to the system in UTF-16, so that any name opens).
#pragma once

#include <cstdio>
#include <string>

namespace ferro::detail {

// As std::fopen, errno set when it fails.
std::FILE* OpenFile(const std::string& utf8Name, const char* mode);

} // namespace ferro::detail
