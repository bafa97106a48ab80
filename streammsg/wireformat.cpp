#include <ferrolink/wireformat.h>

#include <ferrolink/ferro.h>

#include <charconv>

namespace ferro::qbmsg {

std::string EncodingProblem(const std::string& name, std::int64_t bodySize)
{
    if (bodySize > kMaxBodySize)
        return "Message body too large (" + std::to_string(bodySize) + " bytes, at most 9999)";
    if (name.size() > static_cast<std::size_t>(kMaxNameLength))
        return "Sender name too long (" + std::to_string(name.size()) + " characters, at most 251)";
    if (name.find('\0') != std::string::npos)
        return "Sender name holds a NUL character";
    return {};
}

void CheckEncodable(const std::string& name, std::int64_t bodySize)
{
    if (std::string problem = EncodingProblem(name, bodySize); !problem.empty())
        throw ESockError(problem);
}

namespace {

// `value` in decimal, at least four characters wide: `pad` fills the left.
std::string FourWide(std::int64_t value, char pad)
{
    char digits[24];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    std::string field(static_cast<const char*>(digits), end);
    if (field.size() < 4)
        field.insert(0, 4 - field.size(), pad);
    return field;
}

} // namespace

std::string EncodeHeader(const std::string& name)
{
    return CutShort(FourWide(static_cast<std::int64_t>(name.size()), '0') + name);
}

std::string EncodeBodyLength(std::int64_t bodySize)
{
    return FourWide(bodySize, ' ');
}

std::int32_t ParseLength(const std::string& field)
{
    return StrToInt(field);
}

bool StartsTlsHandshake(const std::string& field)
{
    return field.size() >= 3 && field[0] == '\x16' && field[1] == '\x03' && static_cast<unsigned char>(field[2]) <= 4;
}

} // namespace ferro::qbmsg
