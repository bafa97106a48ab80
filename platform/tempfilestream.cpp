#include <ferrolink/tempfilestream.h>

#include <ferrolink/exceptions.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ferro {

namespace {

std::string SystemTempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

} // namespace

TTempFileStream::TTempFileStream(const std::string& folder)
{
    const std::string where = folder.empty() ? SystemTempFolder() : folder;
    FFd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    FNameless = FFd >= 0;
    if (FFd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without nameless files: a named one, removed at once.
        std::string path = where + "/.ferrolink-XXXXXX";
        FFd = ::mkostemp(path.data(), O_CLOEXEC);
        if (FFd >= 0)
            ::unlink(path.c_str());
    }
    if (FFd < 0)
        throw EFCreateError("Cannot create a file in folder " + where, errno);
}

TTempFileStream::~TTempFileStream()
{
    ::close(FFd);
}

std::int64_t TTempFileStream::Read(void* buffer, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(FFd, static_cast<char*>(buffer) + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t TTempFileStream::Write(const void* buffer, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(FFd, static_cast<const char*>(buffer) + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EWriteError(errno);
        done += n;
    }
    return done;
}

std::int64_t TTempFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(FFd, offset, whence);
    return at < 0 ? ::lseek(FFd, 0, SEEK_CUR) : at; // a refused seek leaves the position
}

bool TTempFileStream::Keep(int folderFd, const std::string& name)
{
    if (::fsync(FFd) != 0)
        throw EWriteError(errno);
    // Linking a nameless file by its descriptor needs a privilege; by its
    // entry in /proc it needs none.
    const std::string self = "/proc/self/fd/" + std::to_string(FFd);
    if (::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    throw EFCreateError("Cannot create file " + name, errno);
}

} // namespace ferro
