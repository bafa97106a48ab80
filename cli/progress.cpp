#include "progress.h"

#include "console.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

namespace qbmsgcli {

std::string ReadableSize(std::int64_t bytes)
{
    static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 6) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

TProgressLine::TProgressLine(std::FILE* out, bool shown) : FOut(out), FShown(shown) {}

std::string ProgressText(std::int64_t done, std::int64_t total, double seconds, int columns)
{
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::string left = "--:--";
    if (rate > 0) {
        const auto s = static_cast<std::int64_t>(static_cast<double>(total - done) / rate + 0.5);
        char text[32];
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64, s / 60, s % 60);
        left = text;
    }
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(done * 100 / total));
    // What matters least goes first, so that the line never wraps: a
    // wrapped line cannot be rewritten in place.
    const std::string pct = std::string(percent).substr(std::strspn(percent, " "));
    const std::string sizes = ReadableSize(done) + " of " + ReadableSize(total);
    const std::string rateText = ReadableSize(static_cast<std::int64_t>(rate)) + "/s";
    const std::string candidates[] = {sizes + "  " + percent + "  " + rateText + "  " + left + " left", sizes + "  " + percent + "  " + rateText,
                                      sizes + "  " + percent, pct + "  " + ReadableSize(done), pct};
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    for (const std::string& line : candidates)
        if (line.size() <= room)
            return line;
    return pct.substr(0, room);
}

void TProgressLine::Update(std::int64_t done, std::int64_t total)
{
    if (!FShown || total <= 0)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    const int columns = Columns(FOut);
    // A terminal made narrower may have wrapped the last line: its rows go.
    std::string clear = "\r\033[K";
    for (std::size_t rows = FDrawnLength > 0 ? (FDrawnLength - 1) / static_cast<std::size_t>(columns) : 0; FDrawn && columns < FColumns && rows > 0; --rows)
        clear += "\033[1A\033[K";
    const std::string line = ProgressText(done, total, seconds, columns);
    // "\r" returns to the line's start, "\033[K" clears what a longer line left.
    std::fprintf(FOut, "%s%s", clear.c_str(), line.c_str());
    std::fflush(FOut);
    FDrawn = true;
    FDrawnLength = line.size();
    FColumns = columns;
}

void TProgressLine::Finish(bool completed)
{
    if (!FDrawn)
        return;
    std::fputs(completed ? "\n" : "\r\033[K", FOut);
    std::fflush(FOut);
    FDrawn = false;
}

} // namespace qbmsgcli
