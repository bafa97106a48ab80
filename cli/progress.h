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

// The progress line for `done` of `total` bytes after `seconds`, fitted to
// a terminal of `columns`: the time left, then the rate, then the sizes are
// left out where the whole does not fit.
std::string ProgressText(std::int64_t done, std::int64_t total, double seconds, int columns);

// Rewritten in place, fitted to the terminal's width at every update, so a
// terminal resized meanwhile is followed.
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
    std::size_t FDrawnLength = 0; // of the line last drawn
    int FColumns = 0;             // the terminal's width then
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

} // namespace qbmsgcli
