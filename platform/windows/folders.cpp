// Folders held open by number on Windows: a handle that lets nobody rename
// or remove the folder while it is held (no FILE_SHARE_DELETE), so that its
// full name, taken at the opening, stays true.
#include <ferrolink/folders.h>

#include "files.h"
#include "open_file.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <map>
#include <mutex>

namespace ferro {

namespace {

struct TFolder {
    HANDLE Held;
    std::wstring Path;
};

std::mutex gFoldersLock;
std::map<int, TFolder> gFolders;
int gNextFolder = 3;

std::wstring FullName(const std::wstring& path)
{
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return full;
}

} // namespace

std::wstring detail::Wide(const std::string& utf8)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::wstring detail::PathIn(int folder, const std::string& name)
{
    if (folder == kCurrentFolder)
        return Wide(name);
    const std::lock_guard<std::mutex> hold(gFoldersLock);
    const auto found = gFolders.find(folder);
    if (found == gFolders.end())
        return std::wstring();
    const std::wstring& path = found->second.Path;
    return path + (path.ends_with(L'\\') ? L"" : L"\\") + Wide(name);
}

int detail::ErrnoOfLastError()
{
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EIO;
    }
}

std::FILE* detail::OpenFile(const std::string& utf8Name, const char* mode)
{
    return ::_wfopen(Wide(utf8Name).c_str(), Wide(mode).c_str());
}

HANDLE detail::HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

int detail::DescriptorOf(HANDLE file)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0)
        ::CloseHandle(file);
    return fd;
}

namespace {

// Holds the folder at the full name `full` open, through a link only when
// `followLinks`; its number, or -1.
int HoldFolder(const std::wstring& full, bool followLinks)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE held = full.empty() ? INVALID_HANDLE_VALUE
                                     : ::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, flags, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        errno = full.empty() ? EINVAL : detail::ErrnoOfLastError();
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION about {};
    const bool read = ::GetFileInformationByHandle(held, &about);
    const bool link = read && !followLinks && (about.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!read || !(about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || link) {
        ::CloseHandle(held);
        errno = link ? ELOOP : ENOTDIR;
        return -1;
    }
    const std::lock_guard<std::mutex> hold(gFoldersLock);
    const int number = gNextFolder++;
    gFolders[number] = {held, full};
    return number;
}

std::string Narrow(const wchar_t* wide)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

// Seconds since 1970 of a file time (100 ns steps since 1601).
std::int64_t UnixSeconds(const FILETIME& time)
{
    const std::int64_t steps = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return steps / 10000000 - 11644473600LL;
}

// Sets errno from the last error and says false.
bool Failed()
{
    errno = detail::ErrnoOfLastError();
    return false;
}

} // namespace

int OpenFolder(const std::string& path)
{
    return HoldFolder(FullName(detail::Wide(path)), true); // a link's target, as on other systems
}

int OpenFolderIn(int folder, const std::string& name)
{
    return HoldFolder(FullName(detail::PathIn(folder, name)), false);
}

bool MakeFolderIn(int folder, const std::string& name, unsigned)
{
    return ::CreateDirectoryW(detail::PathIn(folder, name).c_str(), nullptr) || Failed();
}

bool RemoveFileIn(int folder, const std::string& name)
{
    return ::DeleteFileW(detail::PathIn(folder, name).c_str()) || Failed();
}

bool RenameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to)
{
    return ::MoveFileExW(detail::PathIn(fromFolder, from).c_str(), detail::PathIn(toFolder, to).c_str(), MOVEFILE_WRITE_THROUGH) || Failed();
}

std::vector<TFolderEntry> FolderEntries(int folder)
{
    std::vector<TFolderEntry> entries;
    WIN32_FIND_DATAW found {};
    const HANDLE search = ::FindFirstFileW(detail::PathIn(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const std::string name = Narrow(found.cFileName);
        if (name == "." || name == "..")
            continue;
        const bool file = !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
        const std::int64_t size = (static_cast<std::int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entries.push_back({name, file, size, UnixSeconds(found.ftLastWriteTime)});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return entries;
}

void CloseFolder(int folder)
{
    const std::lock_guard<std::mutex> hold(gFoldersLock);
    const auto found = gFolders.find(folder);
    if (found == gFolders.end())
        return;
    ::CloseHandle(found->second.Held);
    gFolders.erase(found);
}

} // namespace ferro
