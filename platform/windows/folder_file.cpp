// A regular file of a folder on Windows, open with every sharing allowed, so
// that it can be renamed or removed while it is open, as on other systems.
#include <ferrolink/folders.h>

#include <ferrolink/exceptions.h>

#include "files.h"

#include <io.h>

#include <algorithm>
#include <cerrno>

namespace ferro {

using detail::ErrnoOfLastError;
using detail::HandleOf;

std::unique_ptr<TFolderFile> TFolderFile::Open(int folder, const std::string& name)
{
    const HANDLE file = ::CreateFileW(detail::PathIn(folder, name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoOfLastError();
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION about {};
    if (!::GetFileInformationByHandle(file, &about) || (about.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        ::CloseHandle(file);
        errno = EISDIR;
        return nullptr;
    }
    const int fd = detail::DescriptorOf(file);
    if (fd < 0) {
        errno = EMFILE;
        return nullptr;
    }
    return std::unique_ptr<TFolderFile>(new TFolderFile(fd));
}

TFolderFile::~TFolderFile()
{
    ::_close(FFd);
}

std::int64_t TFolderFile::Read(void* buffer, std::int64_t count)
{
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count, 1 << 30));
    if (!::ReadFile(HandleOf(FFd), buffer, chunk, &n, nullptr))
        throw EReadError();
    return n;
}

std::int64_t TFolderFile::Write(const void* buffer, std::int64_t count)
{
    const char* bytes = static_cast<const char*>(buffer);
    for (std::int64_t left = count; left > 0;) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(left, 1 << 30));
        if (!::WriteFile(HandleOf(FFd), bytes, chunk, &n, nullptr))
            throw EWriteError(ErrnoOfLastError());
        if (n == 0)
            throw EWriteError(ENOSPC);
        bytes += n;
        left -= n;
    }
    return count;
}

std::int64_t TFolderFile::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const DWORD how = origin == TSeekOrigin::soBeginning ? FILE_BEGIN : origin == TSeekOrigin::soCurrent ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance {}, at {};
    distance.QuadPart = offset;
    return ::SetFilePointerEx(HandleOf(FFd), distance, &at, how) ? at.QuadPart : -1;
}

std::int64_t TFolderFile::Size()
{
    LARGE_INTEGER size {};
    return ::GetFileSizeEx(HandleOf(FFd), &size) ? size.QuadPart : 0;
}

void TFolderFile::Flush()
{
    if (!::FlushFileBuffers(HandleOf(FFd)))
        throw EWriteError(ErrnoOfLastError());
}

} // namespace ferro
