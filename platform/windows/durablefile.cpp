// Durable files on Windows: written under a temporary name, flushed by
// FlushFileBuffers, then named by a rename written through to the disk
// (MOVEFILE_WRITE_THROUGH returns once the rename is there, which is what
// flushing the folder does elsewhere). Windows' files have no POSIX
// permissions: the mode is not used.
#include <ferrolink/durablefile.h>

#include <ferrolink/exceptions.h>
#include <ferrolink/folders.h>

#include "files.h"
#include "write_all.h"

#include <io.h>
#include <process.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace ferro {

using detail::ErrnoOfLastError;
using detail::HandleOf;
using detail::PathIn;

void detail::WriteAll(int fd, const char* bytes, std::int64_t n)
{
    for (std::int64_t done = 0; done < n;) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(n - done, 1 << 30));
        if (!::WriteFile(HandleOf(fd), bytes + done, chunk, &written, nullptr))
            throw EWriteError(ErrnoOfLastError());
        if (written == 0)
            throw EWriteError(ENOSPC);
        done += written;
    }
}

TDurableFile::TDurableFile(int folderFd, const std::string& prefix, const std::string& shownAs, unsigned)
    : FFolder(folderFd)
{
    static unsigned counter = 0;
    int error = 0;
    for (int attempt = 0; attempt < 100 && FFd < 0; ++attempt) {
        FPart = prefix + std::to_string(::_getpid()) + "." + std::to_string(++counter) + ".part";
        const HANDLE file = ::CreateFileW(PathIn(FFolder, FPart).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        error = file == INVALID_HANDLE_VALUE ? ErrnoOfLastError() : 0;
        if (!error)
            FFd = detail::DescriptorOf(file);
        else if (error != EEXIST)
            break;
    }
    if (FFd < 0)
        throw EFCreateError("Cannot create file " + shownAs, error ? error : EMFILE);
}

TDurableFile::~TDurableFile()
{
    if (FFd >= 0)
        ::_close(FFd);
    if (!FCommitted)
        ::DeleteFileW(PathIn(FFolder, FPart).c_str());
}

void TDurableFile::Finish(bool durable)
{
    if (durable && !::FlushFileBuffers(HandleOf(FFd)))
        throw EWriteError(ErrnoOfLastError());
    ::_close(std::exchange(FFd, -1));
}

bool TDurableFile::Commit(const std::string& name, bool replace)
{
    const DWORD how = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(PathIn(FFolder, FPart).c_str(), PathIn(FFolder, name).c_str(), how)) {
        const int error = ErrnoOfLastError();
        if (!replace && error == EEXIST)
            return false;
        throw EFCreateError("Cannot create file " + name, error);
    }
    FCommitted = true;
    return true;
}

// The write-through rename is on the disk when it returns: a folder holds
// nothing more to flush.
void SyncFolder(int) {}
void SyncFolder(const std::string&) {}

} // namespace ferro
