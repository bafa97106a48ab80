#include <ferrolink/sysutils.h>

#include <ferrolink/exceptions.h>

#include <cctype>

namespace ferro {

namespace {

[[noreturn]] void NotAnInteger(const std::string& text)
{
    throw EConvertError("'" + text + "' is not a valid integer value");
}

int DigitValue(char c, int base)
{
    const auto u = static_cast<unsigned char>(c);
    int value = 99;
    if (std::isdigit(u))
        value = c - '0';
    else if (base == 16 && std::isxdigit(u))
        value = std::tolower(u) - 'a' + 10;
    return value < base ? value : -1;
}

} // namespace

std::int32_t StrToInt(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;

    bool negative = false;
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        NotAnInteger(text);

    // Hexadecimal texts take 32 bits as they stand ("$FFFFFFFF" is -1);
    // decimal texts must fit the signed range.
    const std::int64_t limit = base == 16 ? 0xFFFFFFFFll : (negative ? 0x80000000ll : 0x7FFFFFFFll);
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0)
            NotAnInteger(text);
        value = value * base + digit;
        if (value > limit)
            NotAnInteger(text);
    }
    if (base == 16)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::uint16_t RangeCheckedWord(std::int64_t value)
{
    if (value < 0 || value > 0xFFFF)
        throw ERangeError();
    return static_cast<std::uint16_t>(value);
}

} // namespace ferro
