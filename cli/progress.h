// qbmsg send's progress line on a terminal: bytes, percentage, rate and
// time left, rewritten in place, completed or wiped at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qbmsgcli {

// "1.0 MiB": a size in the largest binary unit that keeps it at 1 or more.
std::string ReadableSize(std::int64_t bytes);

class TProgressLine {
public:
    // Writes to `out` only when `shown`.
    TProgressLine(std::FILE* out, bool shown);
    // The line for `done` of `total` bytes, in place of the last one.
    void Update(std::int64_t done, std::int64_t total);
    // Ends the line: completed (kept, with a line end) or wiped.
    void Finish(bool completed);

private:
    std::FILE* FOut;
    bool FShown;
    bool FDrawn = false;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

} // namespace qbmsgcli
