// Folders as POSIX descriptors: the number is the descriptor.
#include <ferrolink/folders.h>

#include <fcntl.h>
#include <unistd.h>

namespace ferro {

static_assert(kCurrentFolder == AT_FDCWD, "the current folder is the system's own number for it");

int OpenFolder(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void CloseFolder(int folder)
{
    if (folder >= 0)
        ::close(folder);
}

} // namespace ferro
