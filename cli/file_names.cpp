#include "file_names.h"

namespace qbmsgcli {

namespace {

constexpr std::size_t kMaxPart = 255;  // what a Linux or Windows file system takes in one name
constexpr std::size_t kMaxDepth = 64;

// One part, its unsafe bytes replaced and its length cut at a character's
// start, so that a name in UTF-8 stays whole characters.
std::string SafePart(std::string part)
{
    for (char& c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\')
            c = '_';
    }
    if (part.size() > kMaxPart) {
        std::size_t end = kMaxPart;
        while (end > 0 && (static_cast<unsigned char>(part[end]) & 0xC0) == 0x80)
            --end;
        part.resize(end);
    }
    return SystemSafePart(part);
}

} // namespace

std::vector<std::string> SafeParts(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..")
            parts.push_back(SafePart(part));
        start = end + 1;
    }
    if (parts.size() > kMaxDepth)
        return {};
    if (!parts.empty() && parts.front() == kKeptPartsFolder)
        parts.front() = "_" + parts.front();
    return parts;
}

std::string Numbered(const std::string& name, int n)
{
    if (n == 0)
        return name;
    const std::size_t dot = name.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0;
    const std::string stem = extension ? name.substr(0, dot) : name;
    return stem + "-" + std::to_string(n) + (extension ? name.substr(dot) : "");
}

} // namespace qbmsgcli
