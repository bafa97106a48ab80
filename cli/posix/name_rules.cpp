// POSIX takes any name but "/" and NUL, which every system's rules keep out.
#include "file_names.h"

namespace qbmsgcli {

const std::string kFolderSeparator = "/";

std::string SystemSafePart(std::string part)
{
    return part;
}

} // namespace qbmsgcli
