// Folders and their files on POSIX calls: a folder's number is its
// descriptor.
#include <ferrolink/folders.h>

#include <ferrolink/exceptions.h>

#include "open_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ferro {

static_assert(kCurrentFolder == AT_FDCWD, "the current folder is the system's own number for it");

int OpenFolder(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int OpenFolderIn(int folder, const std::string& name)
{
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    // A link to a folder fails as no folder here: told as the link it is.
    if (fd < 0 && errno == ENOTDIR && ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
        errno = ELOOP;
    return fd;
}

void CloseFolder(int folder)
{
    if (folder >= 0)
        ::close(folder);
}

bool MakeFolderIn(int folder, const std::string& name, unsigned mode)
{
    return ::mkdirat(folder, name.c_str(), mode) == 0;
}

bool RemoveFileIn(int folder, const std::string& name)
{
    return ::unlinkat(folder, name.c_str(), 0) == 0;
}

bool RenameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to)
{
    if (::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without it: a second name, then the first one goes.
    if (::linkat(fromFolder, from.c_str(), toFolder, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(fromFolder, from.c_str(), 0);
    return true;
}

std::vector<TFolderEntry> FolderEntries(int folder)
{
    std::vector<TFolderEntry> entries;
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); // a position of its own
    DIR* stream = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!stream) {
        CloseFolder(listed);
        return entries;
    }
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." || ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entries.push_back({name, S_ISREG(info.st_mode), info.st_size, info.st_mtime});
    }
    ::closedir(stream);
    return entries;
}

std::unique_ptr<TFolderFile> TFolderFile::Open(int folder, const std::string& name)
{
    const int fd = ::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        return std::unique_ptr<TFolderFile>(new TFolderFile(fd));
    if (fd >= 0) {
        ::close(fd);
        errno = EISDIR;
    }
    return nullptr;
}

TFolderFile::~TFolderFile()
{
    ::close(FFd);
}

std::int64_t TFolderFile::Read(void* buffer, std::int64_t count)
{
    ssize_t n;
    do
        n = ::read(FFd, buffer, static_cast<std::size_t>(count));
    while (n < 0 && errno == EINTR);
    if (n < 0)
        throw EReadError();
    return n;
}

std::int64_t TFolderFile::Write(const void* buffer, std::int64_t count)
{
    const char* bytes = static_cast<const char*>(buffer);
    for (std::int64_t left = count; left > 0;) {
        const ssize_t n = ::write(FFd, bytes, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EWriteError(n < 0 ? errno : ENOSPC);
        bytes += n;
        left -= n;
    }
    return count;
}

std::int64_t TFolderFile::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    return ::lseek(FFd, offset, whence);
}

std::int64_t TFolderFile::Size()
{
    struct stat info {};
    return ::fstat(FFd, &info) == 0 ? info.st_size : 0;
}

void TFolderFile::Flush()
{
    if (::fsync(FFd) != 0)
        throw EWriteError(errno);
}

std::FILE* detail::OpenFile(const std::string& utf8Name, const char* mode)
{
    return std::fopen(utf8Name.c_str(), mode);
}

} // namespace ferro
