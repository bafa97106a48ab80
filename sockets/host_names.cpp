#include "host_names.h"

#include <cstdio>

namespace ferro {

namespace {

constexpr std::size_t kMaxName = 253;  // a name's length in the DNS, its final dot aside
constexpr std::size_t kMaxLabel = 63;  // one label's

bool Allowed(unsigned char c)
{
    // Letters, digits and hyphens (and the underscores some names carry),
    // dots between labels; colons and a zone's % for IPv6 addresses.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':' ||
        c == '%';
}

std::string CharacterFault(unsigned char c, std::size_t at)
{
    char text[64];
    if (c == ' ')
        std::snprintf(text, sizeof text, "a blank at character %zu", at + 1);
    else if (c < 0x20 || c > 0x7E)
        std::snprintf(text, sizeof text, "the byte 0x%02X at character %zu", c, at + 1);
    else
        std::snprintf(text, sizeof text, "'%c' at character %zu", c, at + 1);
    return text;
}

} // namespace

std::string HostNameFault(const std::string& host)
{
    for (std::size_t i = 0; i < host.size(); ++i)
        if (!Allowed(static_cast<unsigned char>(host[i])))
            return CharacterFault(static_cast<unsigned char>(host[i]), i);
    const std::size_t length = !host.empty() && host.back() == '.' ? host.size() - 1 : host.size();
    if (length > kMaxName)
        return std::to_string(length) + " characters, at most " + std::to_string(kMaxName);
    std::size_t label = 0;
    for (std::size_t i = 0; i < length; ++i) {
        label = host[i] == '.' ? 0 : label + 1;
        if (label > kMaxLabel)
            return "a label of more than " + std::to_string(kMaxLabel) + " characters";
    }
    return {};
}

} // namespace ferro
