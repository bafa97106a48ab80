// Temporary files on Windows: a hidden file pending deletion (its
// disposition set, so that the system removes it when its last handle
// closes, even when the program is killed), which Keep names by taking the
// deletion back and renaming the open file. Every temporary file can be
// kept this way; the folder must be on the same volume as the name's.
#include <ferrolink/tempfilestream.h>

#include <ferrolink/exceptions.h>
#include <ferrolink/folders.h>

#include "files.h"

#include <io.h>
#include <process.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace ferro {

using detail::ErrnoOfLastError;
using detail::HandleOf;
using detail::PathIn;

namespace {

// Others may read, write, rename or remove the file while it is open, as on
// other systems: a kept file is an ordinary one at once.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string SystemTempFolder()
{
    wchar_t path[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
    std::string utf8(static_cast<std::size_t>(length) * 3, '\0');
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(std::max(size, 0)));
    while (!utf8.empty() && (utf8.back() == '\\' || utf8.back() == '/'))
        utf8.pop_back();
    return utf8;
}

bool SetPendingDeletion(HANDLE file, bool pending)
{
    FILE_DISPOSITION_INFO disposition {};
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Creates ".body-PID.N.part" in `folder`, pending deletion; its descriptor,
// or -1 with the cause in `error`.
int CreatePendingFile(int folder, std::string& part, int& error)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        part = ".body-" + std::to_string(::_getpid()) + "." + std::to_string(++counter) + ".part";
        const HANDLE file = ::CreateFileW(PathIn(folder, part).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if ((error = ErrnoOfLastError()) != EEXIST)
                return -1;
            continue;
        }
        if (!SetPendingDeletion(file, true)) {
            error = ErrnoOfLastError();
            ::CloseHandle(file);
            ::DeleteFileW(PathIn(folder, part).c_str());
            return -1;
        }
        return detail::DescriptorOf(file);
    }
    error = EEXIST;
    return -1;
}

// Renames the open `file` to `to` (a full name), never over a file.
bool RenameOpenFile(HANDLE file, const std::wstring& to)
{
    std::vector<char> bytes(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::copy(to.begin(), to.end(), rename->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(bytes.size()));
}

// A kept file is an ordinary one: no longer hidden or temporary.
void ShowFile(HANDLE file)
{
    FILE_BASIC_INFO basic {};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
}

} // namespace

TTempFileStream::TTempFileStream(const std::string& folder)
{
    // A folder given by its path is known here by its full name.
    const std::string where = folder.empty() ? SystemTempFolder() : folder;
    const int number = OpenFolder(where);
    int error = errno;
    if (number >= 0) {
        FFd = CreatePendingFile(number, FPart, error);
        if (FFd >= 0)
            FPart = where + "\\" + FPart;
        CloseFolder(number);
    }
    if (FFd < 0) {
        FPart.clear();
        throw EFCreateError("Cannot create a file in folder " + where, error);
    }
    FFolder = kCurrentFolder;
}

TTempFileStream::TTempFileStream(int folderFd, const std::string& shownAs, bool)
{
    int error = 0;
    FFd = CreatePendingFile(folderFd, FPart, error);
    if (FFd < 0) {
        FPart.clear();
        throw EFCreateError("Cannot create a file in folder " + shownAs, error);
    }
    FFolder = folderFd;
}

bool TTempFileStream::NamelessCanBeKept(int)
{
    return true; // every temporary file here is one that can be kept
}

TTempFileStream::~TTempFileStream()
{
    ::_close(FFd); // pending deletion: the system removes it now
}

std::int64_t TTempFileStream::Read(void* buffer, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
        if (!::ReadFile(HandleOf(FFd), static_cast<char*>(buffer) + done, chunk, &n, nullptr) || n == 0)
            break;
        done += n;
    }
    return done;
}

std::int64_t TTempFileStream::Write(const void* buffer, std::int64_t count)
{
    std::int64_t done = 0;
    while (done < count) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
        if (!::WriteFile(HandleOf(FFd), static_cast<const char*>(buffer) + done, chunk, &n, nullptr))
            throw EWriteError(ErrnoOfLastError());
        if (n == 0)
            throw EWriteError(ENOSPC);
        done += n;
    }
    return done;
}

std::int64_t TTempFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const DWORD how = origin == TSeekOrigin::soBeginning ? FILE_BEGIN : origin == TSeekOrigin::soCurrent ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance {}, at {};
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(HandleOf(FFd), distance, &at, how)) {
        distance.QuadPart = 0; // a refused seek leaves the position
        ::SetFilePointerEx(HandleOf(FFd), distance, &at, FILE_CURRENT);
    }
    return at.QuadPart;
}

bool TTempFileStream::LinkNameless(int, const std::string&) const
{
    return false; // no nameless files here: Keep renames
}

bool TTempFileStream::Keep(int folderFd, const std::string& name)
{
    const HANDLE file = HandleOf(FFd);
    if (!::FlushFileBuffers(file))
        throw EWriteError(ErrnoOfLastError());
    if (!SetPendingDeletion(file, false))
        throw EFCreateError("Cannot create file " + name, ErrnoOfLastError());
    if (RenameOpenFile(file, PathIn(folderFd, name))) {
        ShowFile(file);
        FPart.clear();
        return true;
    }
    const int error = ErrnoOfLastError();
    SetPendingDeletion(file, true); // as it was: gone with the stream
    if (error == EEXIST)
        return false;
    throw EFCreateError("Cannot create file " + name, error);
}

} // namespace ferro
