// qbmsg's system seam on POSIX, with QtCore's application object for the
// event loop the components pump.
#include "commands.h"
#include "console.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace qbmsgcli {

namespace {

// Standard input, output and error that were closed are opened on
// /dev/null before anything else makes a descriptor: else the next socket
// would be descriptor 1 or 2, and what qbmsg prints would go onto the
// connection. Standard input is told closed when it is read.
void HoldStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDIN_FILENO)
            gStandardInputClosed = true;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

} // namespace

std::shared_ptr<void> PrepareProcess(int& argc, char** argv, std::vector<std::string>& args)
{
    args.assign(argv + 1, argv + argc);
    HoldStandardDescriptors();
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN); // a file beyond the size limit fails its write, told as such
    return std::make_shared<QCoreApplication>(argc, argv);
}

bool IsTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

int Columns(std::FILE* stream)
{
    winsize size {};
    return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

bool WriteStandardOutput(const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int OpenInput(const std::string& file, TInputKind& kind)
{
    const int fd = file == "-" ? ::dup(STDIN_FILENO) : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    kind = fd >= 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? TInputKind::Folder
        : fd >= 0 && S_ISREG(info.st_mode)                             ? TInputKind::File
                                                                       : TInputKind::Stream;
    return fd;
}

long ReadInput(int fd, char* into, std::size_t count)
{
    ssize_t n;
    do
        n = ::read(fd, into, count);
    while (n < 0 && errno == EINTR);
    return n;
}

void CloseInput(int fd)
{
    ::close(fd);
}

} // namespace qbmsgcli
