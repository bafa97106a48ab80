/// @file
/// Conversions of the class library that the components rely on.
#pragma once

#include <cstdint>
#include <string>

namespace ferro {

/// The class library's integer conversion: leading blanks are skipped, then an
/// optional sign with decimal digits, or "$" with hexadecimal digits, must run
/// to the end of the text and fit 32 bits. Anything else raises EConvertError
/// "'<text>' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);

/// A 32-bit value that must fit a 16-bit unsigned word; raises ERangeError
/// otherwise.
std::uint16_t RangeCheckedWord(std::int64_t value);

} // namespace ferro
