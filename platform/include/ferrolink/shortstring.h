/// @file
/// Short strings: texts of at most 255 single-byte characters. They are plain
/// std::string values; the places that must respect the limit cut explicitly
/// with CutShort, so a cut is always visible where it happens.
#pragma once

#include <cstddef>
#include <string>

namespace ferro {

/// The most characters a short string holds.
constexpr std::size_t kShortStringMax = 255;

/// `text` cut to its first 255 characters.
inline std::string CutShort(std::string text)
{
    if (text.size() > kShortStringMax)
        text.resize(kShortStringMax);
    return text;
}

/// The characters of a zero-terminated text held in a buffer of `size` bytes:
/// up to the first NUL, never beyond the buffer.
inline std::string ZeroTerminated(const char* buffer, std::size_t size)
{
    std::size_t n = 0;
    while (n < size && buffer[n] != '\0')
        ++n;
    return std::string(buffer, n);
}

} // namespace ferro
