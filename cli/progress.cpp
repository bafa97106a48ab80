#include "progress.h"

#include <cinttypes>

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

void TProgressLine::Update(std::int64_t done, std::int64_t total)
{
    if (!FShown || total <= 0)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::string left = "--:--";
    if (rate > 0) {
        const auto s = static_cast<std::int64_t>(static_cast<double>(total - done) / rate + 0.5);
        char text[32];
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64, s / 60, s % 60);
        left = text;
    }
    // "\r" returns to the line's start, "\033[K" clears what a longer line left.
    std::fprintf(FOut, "\r%s of %s  %3d%%  %s/s  %s left\033[K", ReadableSize(done).c_str(), ReadableSize(total).c_str(),
                 static_cast<int>(done * 100 / total), ReadableSize(static_cast<std::int64_t>(rate)).c_str(), left.c_str());
    std::fflush(FOut);
    FDrawn = true;
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
