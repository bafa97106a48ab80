#include <ferrolink/tempfilestream.h>

#include <ferrolink/exceptions.h>
#include <ferrolink/folders.h>

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
    FFd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
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

TTempFileStream::TTempFileStream(int folderFd, const std::string& shownAs, bool named)
{
    if (!named) {
        FFd = ::openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        FNameless = FFd >= 0;
        named = FFd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL);
    }
    static unsigned counter = 0;
    for (int attempt = 0; named && attempt < 100 && FFd < 0; ++attempt) {
        FPart = ".body-" + std::to_string(::getpid()) + "." + std::to_string(++counter) + ".part";
        FFd = ::openat(folderFd, FPart.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (FFd < 0 && errno != EEXIST)
            break;
    }
    if (FFd < 0) {
        FPart.clear();
        throw EFCreateError("Cannot create a file in folder " + shownAs, errno);
    }
    FFolder = FPart.empty() ? -1 : folderFd;
}

bool TTempFileStream::NamelessCanBeKept(int folderFd)
{
    try {
        const TTempFileStream trial(folderFd, std::string(), false);
        const std::string name = ".trial-" + std::to_string(::getpid()) + ".nameless";
        if (!trial.FNameless || !trial.LinkNameless(folderFd, name))
            return false;
        ::unlinkat(folderFd, name.c_str(), 0);
        return true;
    } catch (const EFCreateError&) {
        return false;
    }
}

TTempFileStream::~TTempFileStream()
{
    ::close(FFd);
    if (!FPart.empty())
        ::unlinkat(FFolder, FPart.c_str(), 0);
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

bool TTempFileStream::LinkNameless(int folderFd, const std::string& name) const
{
    // By its entry in /proc a nameless file is linked without a privilege;
    // where there is no /proc, by its descriptor (which needs one on older
    // systems).
    const std::string self = "/proc/self/fd/" + std::to_string(FFd);
    if (::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    return ::linkat(FFd, "", folderFd, name.c_str(), AT_EMPTY_PATH) == 0;
}

bool TTempFileStream::Keep(int folderFd, const std::string& name)
{
    if (::fsync(FFd) != 0)
        throw EWriteError(errno);
    const bool kept = FPart.empty() ? LinkNameless(folderFd, name) : RenameNoReplace(FFolder, FPart, folderFd, name);
    if (kept && !FPart.empty())
        FPart.clear();
    if (kept)
        return true;
    if (errno == EEXIST)
        return false;
    throw EFCreateError("Cannot create file " + name, errno);
}

} // namespace ferro
