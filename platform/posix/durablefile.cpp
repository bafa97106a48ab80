#include <ferrolink/durablefile.h>

#include <ferrolink/exceptions.h>
#include <ferrolink/folders.h>

#include "write_all.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace ferro {

void detail::WriteAll(int fd, const char* bytes, std::int64_t n)
{
    for (std::int64_t done = 0; done < n;) {
        const ssize_t written = ::write(fd, bytes + done, static_cast<std::size_t>(n - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw EWriteError(written < 0 ? errno : ENOSPC);
        done += written;
    }
}

TDurableFile::TDurableFile(int folderFd, const std::string& prefix, const std::string& shownAs, unsigned mode)
    : FFolder(folderFd)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
        FPart = prefix + std::to_string(::getpid()) + "." + std::to_string(++counter) + ".part";
        FFd = ::openat(FFolder, FPart.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (FFd < 0 && errno != EEXIST)
            break;
    }
    if (FFd < 0)
        throw EFCreateError("Cannot create file " + shownAs, errno);
}

TDurableFile::~TDurableFile()
{
    if (FFd >= 0)
        ::close(FFd);
    if (!FCommitted)
        ::unlinkat(FFolder, FPart.c_str(), 0);
}

void TDurableFile::Finish(bool durable)
{
    if (durable && ::fsync(FFd) != 0)
        throw EWriteError(errno);
    const int fd = std::exchange(FFd, -1);
    if (::close(fd) != 0)
        throw EWriteError(errno); // a deferred write failed
}

bool TDurableFile::Commit(const std::string& name, bool replace)
{
    const bool done = replace ? ::renameat(FFolder, FPart.c_str(), FFolder, name.c_str()) == 0
                              : RenameNoReplace(FFolder, FPart, FFolder, name);
    if (!done && !replace && errno == EEXIST)
        return false;
    if (!done)
        throw EFCreateError("Cannot create file " + name, errno);
    FCommitted = true;
    return true;
}

void SyncFolder(int folderFd)
{
    if (::fsync(folderFd) != 0)
        throw EWriteError(errno);
}

void SyncFolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = fd < 0 || ::fsync(fd) != 0 ? errno : 0;
    if (fd >= 0)
        ::close(fd);
    if (error)
        throw EWriteError(error);
}

} // namespace ferro
