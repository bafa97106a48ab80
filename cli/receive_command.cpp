// qbmsg receive: listens and writes each message's body to a new file.
#include "commands.h"
#include "options.h"
#include "watched.h"

#include <ferrolink/qbmsg.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace qbmsgcli {

namespace {

const char* const kReceiveHelp = R"(Usage: qbmsg receive [OPTION]...
Listen for stream messages and write each body to a new file, printing one
line per message: the sender's name (quoted), the byte count and the file.
File names come from a counter (message-1.bin, message-2.bin, ...), never
from the message. A failed message is reported on standard error and the
receiver goes on.

  --port PORT      TCP port to listen on (default 6711)
  --count N        stop after N messages (default: run until interrupted)
  --out DIR        folder for the bodies (default: the current folder)
  --timeout MS     give up on a client that stalls for MS milliseconds
                   (default 0: wait as long as it takes)
  --verbose LEVEL  print the component's status texts up to LEVEL on
                   standard error
  --help           show this help and exit

SIGINT and SIGTERM end it cleanly. Exit status: 0, or 1 when the port cannot
be listened on, 2 for a usage error.
)";

int gSignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    (void)!::write(gSignalPipe[1], &byte, 1);
}

// Creates the next free "message-N.bin" in `folder`; returns its path and
// leaves the file open in `fd`.
std::string CreateNextFile(const std::string& folder, int& counter, int& fd)
{
    for (;;) {
        const std::string path = folder + "/message-" + std::to_string(++counter) + ".bin";
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0)
            return path;
        if (errno != EEXIST)
            throw Exception("Cannot create file " + path);
    }
}

void WriteBody(int fd, TStream& body, const std::string& path)
{
    char chunk[4096];
    for (std::int64_t n; (n = body.Read(chunk, sizeof chunk)) > 0;)
        if (::write(fd, chunk, static_cast<std::size_t>(n)) != n)
            throw Exception("Cannot write file " + path);
}

} // namespace

std::string Printable(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int ReceiveCommand(const std::vector<std::string>& args)
{
    const ParsedOptions o = ParseOptions(args, {"port", "count", "out", "timeout", "verbose"}, {"help"});
    if (o.Has("help")) {
        std::fputs(kReceiveHelp, stdout);
        return kExitOk;
    }
    if (!o.Positional.empty())
        throw UsageError("unexpected argument '" + o.Positional.front() + "'");
    const long count = o.Number("count", 0, 1, 2147483647);
    const std::string folder = o.Text("out", ".");
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw UsageError("--out " + folder + " is not a folder");
    const int verbose = static_cast<int>(o.Number("verbose", 0, 0, 255));

    TWatched<TQBStrmServ> server(nullptr);
    server.Port = static_cast<std::int32_t>(o.Number("port", qbmsg::kPort, 1, 65535));
    server.TimeOut = static_cast<std::int32_t>(o.Number("timeout", 0, 0, 2147483647));
    int counter = 0;
    long received = 0;
    server.OnMSG = [&](TComponent*, const std::string& from, TStream& body) {
        int fd = -1;
        const std::string path = CreateNextFile(folder, counter, fd);
        try {
            WriteBody(fd, body, path);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0)
            throw Exception("Cannot write file " + path);
        ++received;
        std::printf("%s %lld %s\n", Printable(from).c_str(), static_cast<long long>(body.Size()), path.c_str());
        std::fflush(stdout);
    };
    SetApplicationExceptionHandler([](const std::exception& e) { std::fprintf(stderr, "qbmsg receive: %s\n", e.what()); });

    // Listening reports a port it cannot have at level 2; watch for it.
    std::string listenFailure;
    server.ReportLevel = std::max(verbose, 2);
    server.WatchStatus([&](const std::string& text) {
        if (text.rfind("Cannot Listen", 0) == 0)
            listenFailure = text;
        else if (verbose >= 2)
            std::fprintf(stderr, "%s\n", text.c_str());
    });
    server.Loaded();
    if (!listenFailure.empty()) {
        std::fprintf(stderr, "qbmsg receive: %s\n", listenFailure.c_str());
        return kExitFailed;
    }
    server.ReportLevel = verbose;
    server.WatchStatus([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });

    bool interrupted = false;
    if (::pipe2(gSignalPipe, O_CLOEXEC) != 0)
        return kExitFailed;
    QSocketNotifier signalNotifier(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        interrupted = true;
        server.BeenCanceled = true; // ends a wait for a stalled client
    });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    while (!interrupted && (count == 0 || received < count))
        WaitAndProcessMessages();
    return kExitOk;
}

} // namespace qbmsgcli
