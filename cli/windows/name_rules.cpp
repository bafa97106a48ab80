// Windows' rules for a name in a folder, beyond those every system has.
#include "file_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qbmsgcli {

const std::string kFolderSeparator = "\\";

namespace {

// The names of devices, which no file can have, whatever its extension.
bool IsDeviceName(std::string stem)
{
    std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return true;
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

std::string SystemSafePart(std::string part)
{
    for (char& c : part) {
        if (std::strchr("<>:\"|?*", c) && c != '\0')
            c = '_';
    }
    // Windows drops a name's trailing dots and spaces: they are kept as "_".
    for (std::size_t i = part.size(); i > 0 && (part[i - 1] == '.' || part[i - 1] == ' '); --i)
        part[i - 1] = '_';
    if (IsDeviceName(part.substr(0, part.find('.'))))
        part = "_" + part;
    return part;
}

} // namespace qbmsgcli
