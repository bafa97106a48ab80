// Folders held open by number on Windows: a handle that lets nobody rename
// or remove the folder while it is held (no FILE_SHARE_DELETE), so that its
// full name, taken at the opening, stays true.
#include <ferrolink/folders.h>

#include "files.h"

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

int OpenFolder(const std::string& path)
{
    const std::wstring full = FullName(detail::Wide(path));
    const HANDLE held = full.empty() ? INVALID_HANDLE_VALUE
                                     : ::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        errno = full.empty() ? EINVAL : detail::ErrnoOfLastError();
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION about {};
    if (!::GetFileInformationByHandle(held, &about) || !(about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(held);
        errno = ENOTDIR;
        return -1;
    }
    const std::lock_guard<std::mutex> hold(gFoldersLock);
    const int number = gNextFolder++;
    gFolders[number] = {held, full};
    return number;
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
