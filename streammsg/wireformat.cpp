#include <ferrolink/wireformat.h>

#include <ferrolink/ferro.h>

#include <cstdio>

namespace ferro::qbmsg {

void CheckEncodable(const std::string& name, std::int64_t bodySize)
{
    if (bodySize > kMaxBodySize)
        throw ESockError("Message body too large (" + std::to_string(bodySize) + " bytes, at most 9999)");
    if (name.size() > static_cast<std::size_t>(kMaxNameLength))
        throw ESockError("Sender name too long (" + std::to_string(name.size()) + " characters, at most 251)");
    if (name.find('\0') != std::string::npos)
        throw ESockError("Sender name holds a NUL character");
}

std::string EncodeHeader(const std::string& name)
{
    char field[16];
    std::snprintf(field, sizeof field, "%.4d", static_cast<int>(name.size()));
    return CutShort(field + name);
}

std::string EncodeBodyLength(std::int64_t bodySize)
{
    char field[24];
    std::snprintf(field, sizeof field, "%4lld", static_cast<long long>(bodySize));
    return field;
}

std::int32_t ParseLength(const std::string& field)
{
    return StrToInt(field);
}

} // namespace ferro::qbmsg
