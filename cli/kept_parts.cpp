#include "kept_parts.h"

#include "file_names.h"

#include <ferrolink/durablefile.h>
#include <ferrolink/exceptions.h>
#include <ferrolink/largeform.h>
#include <ferrolink/tempfilestream.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <tuple>
#include <vector>

namespace qbmsgcli {

namespace {

constexpr std::time_t kMaxAgeSeconds = 24 * 60 * 60; // a send resumed the same day; older parts are litter

// The part's file name: the check of what tells the file apart, in hex, so
// that no byte of a sender's text names anything on the disk.
std::string KeyOf(const TKeptParts::TLabel& label)
{
    ferro::qbmsg::TBodyCheck key;
    const std::string text = label.From + '\0' + label.Path + '\0' + std::to_string(label.Size);
    key.Add(text.data(), text.size());
    std::string hex;
    for (const char byte : key.Value()) {
        static const char kDigits[] = "0123456789abcdef";
        hex += kDigits[(static_cast<unsigned char>(byte) >> 4) & 0xF];
        hex += kDigits[static_cast<unsigned char>(byte) & 0xF];
    }
    return hex + ".part";
}

} // namespace

TKeptPart::TKeptPart(int fd, int folderFd, std::string name) : FFd(fd), FFolder(folderFd), FName(std::move(name)) {}

TKeptPart::~TKeptPart()
{
    if (FRemoved)
        ::unlinkat(FFolder, FName.c_str(), 0);
    ::close(FFd);
}

std::int64_t TKeptPart::Read(void* buffer, std::int64_t count)
{
    ssize_t n;
    do
        n = ::read(FFd, buffer, static_cast<std::size_t>(count));
    while (n < 0 && errno == EINTR);
    if (n < 0)
        throw ferro::EReadError();
    return n;
}

std::int64_t TKeptPart::Write(const void* buffer, std::int64_t count)
{
    const char* bytes = static_cast<const char*>(buffer);
    for (std::int64_t left = count; left > 0;) {
        const ssize_t n = ::write(FFd, bytes, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ferro::EWriteError(n < 0 ? errno : ENOSPC);
        bytes += n;
        left -= n;
    }
    return count;
}

std::int64_t TKeptPart::Seek(std::int64_t offset, ferro::TSeekOrigin origin)
{
    const int whence = origin == ferro::TSeekOrigin::soBeginning ? SEEK_SET : origin == ferro::TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    return ::lseek(FFd, offset, whence);
}

std::int64_t TKeptPart::Size()
{
    struct stat info {};
    return ::fstat(FFd, &info) == 0 ? info.st_size : 0;
}

void TKeptPart::Retain()
{
    ::fsync(FFd); // a part that is not on the disk is offered again all the same: its check tells
    FRemoved = false;
}

bool TKeptPart::MoveTo(int folderFd, const std::string& name)
{
    if (::fsync(FFd) != 0)
        throw ferro::EWriteError(errno);
    // A link is made only where no file has the name: nothing is replaced.
    if (::linkat(FFolder, FName.c_str(), folderFd, name.c_str(), 0) != 0) {
        if (errno == EEXIST)
            return false;
        throw ferro::EFCreateError("Cannot create file " + name, errno);
    }
    ::unlinkat(FFolder, FName.c_str(), 0);
    FRemoved = false;
    return true;
}

TKeptParts::TKeptParts(int folderFd, std::int64_t totalLimit) : FTotalLimit(totalLimit)
{
    if (::mkdirat(folderFd, kKeptPartsFolder.c_str(), 0700) != 0 && errno != EEXIST)
        throw ferro::EFCreateError("Cannot create folder " + kKeptPartsFolder, errno);
    FFd = ::openat(folderFd, kKeptPartsFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (FFd < 0)
        throw ferro::EFCreateError("Cannot use folder " + kKeptPartsFolder, errno);
    Prune();
}

TKeptParts::~TKeptParts()
{
    ::close(FFd);
}

std::unique_ptr<ferro::TStream> TKeptParts::Find(const TLabel& label) const
{
    Prune(); // a part past its day is never offered, however long the receiver has run
    const std::string name = KeyOf(label);
    const int fd = ::openat(FFd, name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<TKeptPart>(fd, FFd, name);
}

std::int64_t TKeptParts::Keep(const TLabel& label, std::unique_ptr<ferro::TStream> arrived)
{
    if (auto* part = dynamic_cast<TKeptPart*>(arrived.get())) {
        part->Retain(); // already in its place, longer now
        return part->Size();
    }
    auto* body = dynamic_cast<ferro::TTempFileStream*>(arrived.get());
    if (!body || !body->CanKeep() || body->Size() == 0)
        return 0;
    const std::string name = KeyOf(label);
    ::unlinkat(FFd, name.c_str(), 0); // an older part of the same file
    if (!body->Keep(FFd, name))
        return 0;
    Prune();
    struct stat info {};
    return ::fstatat(FFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? info.st_size : 0; // gone when beyond the total
}

void TKeptParts::Prune() const
{
    const int listed = ::dup(FFd);
    DIR* folder = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!folder)
        return;
    ::rewinddir(folder); // the copy shares its position with FFd: where the last listing ended
    std::vector<std::tuple<std::time_t, std::int64_t, std::string>> parts; // newest first, once sorted
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(folder)) {
        struct stat info {};
        if (entry->d_name[0] == '.' || ::fstatat(FFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISREG(info.st_mode) || now - info.st_mtime > kMaxAgeSeconds)
            ::unlinkat(FFd, entry->d_name, 0);
        else
            parts.emplace_back(info.st_mtime, info.st_size, entry->d_name);
    }
    ::closedir(folder);
    std::sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return std::get<0>(a) > std::get<0>(b); });
    std::int64_t total = 0;
    for (const auto& [when, size, name] : parts) {
        total += size;
        if (total > FTotalLimit)
            ::unlinkat(FFd, name.c_str(), 0);
    }
}

} // namespace qbmsgcli
