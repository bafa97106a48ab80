// Internal: writing all of a buffer to a file descriptor, each platform's
// own (POSIX write, Windows WriteFile on the descriptor's handle).
#pragma once

#include <cstdint>

namespace ferro::detail {

// Writes all `n` bytes, retrying what the system cuts short.
// @throws EWriteError with the cause (a full disk: ENOSPC).
void WriteAll(int fd, const char* bytes, std::int64_t n);

} // namespace ferro::detail
