// qbmsg send: posts a file (or standard input) as one stream message.
#include "commands.h"
#include "options.h"
#include "text.h"

#include <ferrolink/qbmsg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qbmsgcli {

const char* const kSendHelp = R"(Usage: qbmsg send [OPTION]... FILE
Post FILE (standard input when FILE is -) as one stream message and print
the receiver's reply.

  -H, --host HOST       receiver's address or name (default 127.0.0.1)
  -p, --port PORT       receiver's TCP port (default 6711)
  -f, --from NAME       sender's name put into the message (default Quillbrook)
  -t, --timeout MS      give up any single wait after MS milliseconds
                        (default 0: never)
  -v, --verbose LEVEL   print the component's status texts up to LEVEL on
                        standard error (1 replies, 2 operations, 4 socket
                        steps, 8 tracing, 16 error checks)
  -h, --help            show this help and exit

A body holds at most 9999 bytes. Bytes of the reply outside printable ASCII
are printed as escapes (\xNN).

Exit status: 0 when the receiver answered "OK", 1 when the file could not be
read, the transfer failed or the receiver did not answer "OK" (it did not
store the message), 2 for a usage error.
)";

namespace {

constexpr const char* kPrefix = "qbmsg send: ";

// A failure that is told as it is and ends the command with status 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the whole input into `body`: the file, or standard input for "-".
// A stream that is no file is read only until it holds more than a body may,
// so that one without end is refused rather than read forever; a file too
// large is refused by its size, before anything is read.
void LoadBody(const std::string& file, ferro::TMemoryStream& body)
{
    const bool standardInput = file == "-";
    const std::string name = standardInput ? "standard input" : "file " + file;
    const int fd = standardInput ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Failure("Cannot open " + name + ": " + SystemCause(errno));
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        if (!standardInput)
            ::close(fd);
        throw Failure("Cannot read " + name + ": " + SystemCause(EISDIR));
    }
    // A file's size is known: one too large is refused before it is read.
    if (S_ISREG(info.st_mode) && info.st_size > ferro::qbmsg::kMaxBodySize) {
        if (!standardInput)
            ::close(fd);
        throw Failure("Message body too large (" + std::to_string(info.st_size) + " bytes, at most 9999)");
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            if (!standardInput)
                ::close(fd);
            throw Failure("Cannot read " + name + ": " + SystemCause(error));
        }
        if (n == 0)
            break;
        body.WriteBuffer(chunk, n);
        if (body.Size() > ferro::qbmsg::kMaxBodySize && !S_ISREG(info.st_mode)) {
            if (!standardInput)
                ::close(fd);
            throw Failure("Message body too large (more than 9999 bytes, at most 9999)");
        }
    }
    if (!standardInput)
        ::close(fd);
}

// A failed post with the host, the port and the cause the component knows.
std::string Explained(const std::string& text, const ferro::TFerrolink& sender)
{
    const bool lookup = text.rfind("Host Lookup", 0) == 0;
    const bool connection = text.rfind("Connection", 0) == 0;
    if (!lookup && !connection)
        return text; // the text says it all ("Read Timed Out", "Unknown Error No. 10054")
    std::string cause = SocketCause(sender.FailureCause());
    if (cause.empty() && text.find("Timed Out") != std::string::npos)
        cause = "timed out";
    const std::string suffix = cause.empty() ? "" : " (" + cause + ")";
    if (lookup)
        return text + ": " + Escaped(sender.Host) + suffix;
    return text + ": " + Escaped(sender.Host) + " port " + std::to_string(sender.Port) + suffix;
}

} // namespace

int SendCommand(const std::vector<std::string>& args)
{
    TCommandLine line({ValueOption("host", "H", "HOST"), ValueOption("port", "p", "PORT"), ValueOption("from", "f", "NAME"),
                       ValueOption("timeout", "t", "MS"), ValueOption("verbose", "v", "LEVEL"), HelpOption()});
    line.Parse(args);
    if (line.IsSet("help")) {
        std::fputs(kSendHelp, stdout);
        return kExitOk;
    }
    const std::vector<std::string> files = line.Positional();
    if (files.size() != 1)
        throw UsageError(files.empty() ? "no FILE to send" : "only one FILE can be sent");

    ferro::TQBStrm sender(nullptr);
    sender.Host = line.Bytes("host", "127.0.0.1");
    sender.Port = static_cast<std::int32_t>(line.Number("port", ferro::qbmsg::kPort, 1, 65535));
    sender.FromName = line.Bytes("from", "Quillbrook");
    sender.TimeOut = static_cast<std::int32_t>(line.Number("timeout", 0, 0, 2147483647));
    sender.ReportLevel = static_cast<std::int32_t>(line.Number("verbose", 0, 0, 255));
    sender.OnStatus = [](ferro::TComponent*, const std::string& text) { std::fprintf(stderr, "%s\n", Escaped(text).c_str()); };

    try {
        ferro::TMemoryStream body;
        LoadBody(files.front(), body);
        const std::string reply = sender.PostIt(body);
        std::printf("%s\n", Escaped(reply).c_str());
        if (reply != ferro::qbmsg::kReply) {
            std::fprintf(stderr, "%sthe receiver did not answer \"OK\": the message was not stored\n", kPrefix);
            return kExitFailed;
        }
        return kExitOk;
    } catch (const ferro::ESockError& e) {
        std::fprintf(stderr, "%s%s\n", kPrefix, Explained(e.what(), sender).c_str());
    } catch (const ferro::Exception& e) {
        std::fprintf(stderr, "%s%s\n", kPrefix, Escaped(e.Message()).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s%s\n", kPrefix, Escaped(e.what()).c_str());
    }
    return kExitFailed;
}

} // namespace qbmsgcli
