// qbmsg send: posts a file (or standard input) as one stream message.
#include "commands.h"
#include "options.h"
#include "progress.h"
#include "text.h"
#include "tls_options.h"

#include <ferrolink/qbmsg.h>
#include <ferrolink/tempfilestream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace qbmsgcli {

bool gStandardInputClosed = false;

const char* const kSendHelp = R"(Usage: qbmsg send [OPTION]... FILE
Post FILE (standard input when FILE is -) as one stream message and print
the receiver's reply.

  -H, --host HOST       receiver's address (IPv4, or IPv6 bare or in brackets:
                        ::1, [::1]) or name (default 127.0.0.1); the
                        first 16 addresses of a name are tried in the
                        resolver's order
  -4, --ipv4            look the name up for IPv4 addresses only
  -6, --ipv6            look the name up for IPv6 addresses only
  -p, --port PORT       receiver's TCP port (default 6711)
  -f, --from NAME       sender's name put into the message (default Quillbrook)
  -t, --timeout MS      give up any single wait after MS milliseconds
                        (default 0: never)
  -v, --verbose LEVEL   print the component's status texts up to LEVEL on
                        standard error (1 replies, 2 operations, 4 socket
                        steps, 8 tracing, 16 error checks)
      --progress WHEN   show a progress line on standard error: auto (the
                        default: when it is a terminal), always or never
      --tls             encrypt the message (TLS 1.3, 1.2 at the least) and
                        verify the receiver: by --pin, by --ca, or else by
                        the system's CAs and the name (or address) in --host
      --pin FINGERPRINT the receiver's certificate must have this SHA-256
                        fingerprint, as qbmsg identity prints it (and
                        openssl x509 -noout -fingerprint -sha256 does),
                        colons and case as you like; may be given more
                        than once; its issuer and names are not looked at
      --ca FILE         the receiver's certificate must be issued by a CA of
                        FILE (PEM) and name the host
      --identity DIR    present the identity in DIR (see 'qbmsg identity')
                        to a receiver that admits only known senders; made
                        when DIR has none
  -h, --help            show this help and exit

A file of any size can be sent. A body of up to 9999 bytes goes in the fixed
form that every receiver takes; a larger one in the large form, which a
receiver that knows only the fixed form refuses at once ("The receiver does
not take messages over 9999 bytes"), and which the receiver checks end to
end before it answers. Bytes of the reply outside printable ASCII are
printed as escapes (\xNN).

With --tls nothing is sent in the clear: a receiver that cannot be verified,
or one that does not speak TLS, fails the handshake before any byte of the
message leaves, and says why, for example: TLS Handshake Failed: certificate
verify failed (self-signed certificate). The message inside TLS is byte for byte the one sent
without it.

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

// The body to send: a regular file is sent from the disk as it is read;
// standard input or any other stream is first copied into a nameless
// temporary file, so that its size is known and nothing sits in memory.
std::unique_ptr<ferro::TStream> OpenBody(const std::string& file)
{
    const bool standardInput = file == "-";
    const std::string name = standardInput ? "standard input" : "file " + file;
    if (standardInput && gStandardInputClosed)
        throw Failure("Cannot read standard input: it is closed");
    const int fd = standardInput ? ::dup(STDIN_FILENO) : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Failure("Cannot open " + name + ": " + SystemCause(errno));
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw Failure("Cannot read " + name + ": " + SystemCause(EISDIR));
    }
    if (S_ISREG(info.st_mode) && !standardInput) {
        ::close(fd);
        try {
            return std::make_unique<ferro::TFileStream>(file, ferro::fmOpenRead);
        } catch (const ferro::Exception& e) {
            throw Failure("Cannot open " + name + ": " + SystemCause(e.SystemError() ? e.SystemError() : errno));
        }
    }
    auto copy = std::make_unique<ferro::TTempFileStream>("");
    std::vector<char> chunk(65536);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw Failure("Cannot read " + name + ": " + SystemCause(error));
        }
        if (n == 0)
            break;
        try {
            copy->WriteBuffer(chunk.data(), n);
        } catch (const ferro::Exception& e) {
            ::close(fd);
            throw Failure("Cannot hold " + name + " in a temporary file: " + SystemCause(e.SystemError()));
        }
    }
    ::close(fd);
    return copy;
}

// Whether the progress line is shown: WHEN is auto (on a terminal), always
// or never.
bool ProgressShown(const std::string& when)
{
    if (when == "auto")
        return ::isatty(STDERR_FILENO) == 1;
    if (when == "always" || when == "never")
        return when == "always";
    throw UsageError("--progress must be auto, always or never, not \"" + Escaped(when) + "\"");
}

// A failed post with the host, the port and the cause the component knows.
std::string Explained(const std::string& text, const ferro::TFerrolink& sender)
{
    const bool lookup = text.rfind("Host Lookup", 0) == 0;
    const bool connection = text.rfind("Connection", 0) == 0;
    if (!lookup && !connection)
        return InWords(text, "receiver"); // the text says it all ("Read Timed Out"), or its number does
    std::string cause = SocketCause(sender.FailureCause());
    if (cause.empty() && text.find("Timed Out") != std::string::npos)
        cause = "timed out";
    const std::string suffix = cause.empty() ? "" : " (" + cause + ")";
    if (lookup)
        return text + ": " + Escaped(sender.Host) + suffix;
    return text + ": " + Escaped(sender.Host) + " port " + std::to_string(sender.Port) + suffix;
}

// The sender as the options ask for it.
void Configure(ferro::TQBStrm& sender, const TCommandLine& line)
{
    sender.Host = line.Bytes("host", "127.0.0.1");
    sender.IPVersion = line.IsSet("ipv4") ? 4 : line.IsSet("ipv6") ? 6 : 0;
    sender.Port = static_cast<std::int32_t>(line.Number("port", ferro::qbmsg::kPort, 1, 65535));
    sender.FromName = line.Bytes("from", "Quillbrook");
    if (sender.FromName.size() > static_cast<std::size_t>(ferro::qbmsg::kMaxNameLength))
        throw UsageError("--from may be at most " + std::to_string(ferro::qbmsg::kMaxNameLength) + " characters, not " +
                         std::to_string(sender.FromName.size()));
    sender.TimeOut = static_cast<std::int32_t>(line.Number("timeout", 0, 0, 2147483647));
    sender.ReportLevel = static_cast<std::int32_t>(line.Number("verbose", 0, 0, 255));
    sender.OnStatus = [](ferro::TComponent*, const std::string& text) { std::fprintf(stderr, "%s\n", Escaped(text).c_str()); };
}

// Posts `file` and tells the reply; the exit status. Raises what failed.
int Post(ferro::TQBStrm& sender, const std::string& file, TProgressLine& progress)
{
    const std::unique_ptr<ferro::TStream> body = OpenBody(file);
    std::string reply;
    try {
        reply = sender.PostIt(*body);
    } catch (...) {
        progress.Finish(false);
        throw;
    }
    progress.Finish(true);
    if (!sender.TlsPeerNote().empty())
        std::fprintf(stderr, "%snote: %s (a pin trusts the key, not the certificate's dates)\n", kPrefix, sender.TlsPeerNote().c_str());
    std::printf("%s\n", Escaped(reply).c_str());
    if (reply != ferro::qbmsg::kReply) {
        std::fprintf(stderr, "%sthe receiver did not answer \"OK\": the message was not stored\n", kPrefix);
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int SendCommand(const std::vector<std::string>& args)
{
    TCommandLine line(QList<QCommandLineOption> {ValueOption("host", "H", "HOST"), ValueOption("port", "p", "PORT"), ValueOption("from", "f", "NAME"),
                                                 ValueOption("timeout", "t", "MS"), ValueOption("verbose", "v", "LEVEL"),
                                                 ValueOption("progress", "", "WHEN"), FlagOption("ipv4", "4"), FlagOption("ipv6", "6"), HelpOption()} +
                      TlsOptions(false));
    line.Parse(args);
    if (line.IsSet("help")) {
        std::fputs(kSendHelp, stdout);
        return kExitOk;
    }
    const std::vector<std::string> files = line.Positional();
    if (files.size() != 1)
        throw UsageError(files.empty() ? "no FILE to send" : "only one FILE can be sent");

    const bool progressShown = ProgressShown(line.Bytes("progress", "auto"));
    if (line.IsSet("ipv4") && line.IsSet("ipv6"))
        throw UsageError("-4 and -6 exclude each other");
    ferro::TQBStrm sender(nullptr);
    Configure(sender, line);
    try {
        sender.Tls = TlsSettings(line, false, kPrefix);
    } catch (const ferro::Exception& e) {
        std::fprintf(stderr, "%s%s%s\n", kPrefix, Escaped(e.Message()).c_str(), e.SystemError() ? (": " + SystemCause(e.SystemError())).c_str() : "");
        return kExitFailed;
    }

    TProgressLine progress(stderr, progressShown);
    sender.OnPacketRecvd = [&](ferro::TComponent*) { progress.Update(sender.BytesRecvd(), sender.BytesTotal()); };
    try {
        return Post(sender, files.front(), progress);
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
