// qbmsg's system seam on Windows: binary standard streams, UTF-8 on the
// console, the console's own width.
#include "console.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>

namespace qbmsgcli {

namespace {

std::wstring Wide(const std::string& utf8)
{
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string Narrow(const wchar_t* wide)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

HANDLE ConsoleOf(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

} // namespace

std::shared_ptr<void> PrepareProcess(int&, char**, std::vector<std::string>& args)
{
    // The command line as typed, in UTF-8 (the C runtime's argv is in the
    // system's code page).
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    args.clear();
    for (int i = 1; wide && i < count; ++i)
        args.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    // Bodies and reports are bytes: no CR LF translation, no ^Z as an end.
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8); // names and texts are UTF-8
    // The progress line redraws itself with the terminal's escapes, which a
    // console takes once asked to (Windows 10 and later).
    DWORD mode = 0;
    const HANDLE errors = ConsoleOf(stderr);
    if (::GetConsoleMode(errors, &mode))
        ::SetConsoleMode(errors, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return nullptr;
}

bool IsTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(ConsoleOf(stream), &mode) != 0;
}

int Columns(std::FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (!::GetConsoleScreenBufferInfo(ConsoleOf(stream), &info))
        return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

bool WriteStandardOutput(const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const int n = ::_write(1, bytes.data() + done, static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, 1 << 30)));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int OpenInput(const std::string& file, TInputKind& kind)
{
    if (file != "-") {
        const DWORD attributes = ::GetFileAttributesW(Wide(file).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            kind = TInputKind::Folder; // Windows opens no folder as a file: told as other systems tell it
            return ::_wopen(L"NUL", _O_RDONLY | _O_BINARY);
        }
    }
    const int fd = file == "-" ? ::_dup(0) : ::_wopen(Wide(file).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    struct _stat64 info {};
    kind = fd >= 0 && ::_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG ? TInputKind::File : TInputKind::Stream;
    return fd;
}

long ReadInput(int fd, char* into, std::size_t count)
{
    return ::_read(fd, into, static_cast<unsigned>(std::min<std::size_t>(count, 1 << 30)));
}

void CloseInput(int fd)
{
    ::_close(fd);
}

} // namespace qbmsgcli
