#include "store.h"

#include "text.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qbmsgcli {

namespace {

[[noreturn]] void Fail(const std::string& what, int error)
{
    throw StoreError(what + ": " + SystemCause(error));
}

// Gives `from` the name `to` unless a file of that name exists.
bool RenameNoReplace(const std::string& from, const std::string& to, int& error)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS)
        return false;
    // A file system without it: a second name, then the first one goes.
    if (::link(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

void WriteAll(int fd, ferro::TStream& body, const std::string& file)
{
    char chunk[8192];
    for (std::int64_t n; (n = body.Read(chunk, sizeof chunk)) > 0;) {
        for (std::int64_t done = 0; done < n;) {
            const ssize_t written = ::write(fd, chunk + done, static_cast<std::size_t>(n - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                Fail("Cannot write file " + file, written < 0 ? errno : ENOSPC);
            done += written;
        }
    }
}

} // namespace

void CheckWritableFolder(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        Fail("Cannot use folder " + folder, errno);
    if (!S_ISDIR(info.st_mode))
        Fail("Cannot use folder " + folder, ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        Fail("Cannot write in folder " + folder, errno);
}

std::string StoreDurably(const std::string& folder, int& counter, ferro::TStream& body)
{
    static unsigned serial = 0;
    const std::string part = folder + "/.message-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail("Cannot create file " + part, errno);
    bool open = true;
    try {
        WriteAll(fd, body, part);
        if (::fsync(fd) != 0)
            Fail("Cannot write file " + part, errno);
        open = false;
        if (::close(fd) != 0)
            Fail("Cannot write file " + part, errno);
    } catch (...) {
        if (open)
            ::close(fd);
        ::unlink(part.c_str());
        throw;
    }
    std::string path;
    for (int error = EEXIST; error == EEXIST;) {
        path = folder + "/message-" + std::to_string(counter + 1) + ".bin";
        if (RenameNoReplace(part, path, error))
            break;
        if (error != EEXIST) {
            ::unlink(part.c_str());
            Fail("Cannot create file " + path, error);
        }
        ++counter;
    }
    ++counter;
    // The new name is on the disk once the folder is.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = dir < 0 || ::fsync(dir) != 0 ? errno : 0;
    if (dir >= 0)
        ::close(dir);
    if (error) {
        ::unlink(path.c_str());
        Fail("Cannot write folder " + folder, error);
    }
    return path;
}

} // namespace qbmsgcli
