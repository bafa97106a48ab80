// qbmsg send: posts a file (or standard input) as one stream message.
#include "commands.h"
#include "console.h"
#include "options.h"
#include "progress.h"
#include "send_list.h"
#include "stop_requests.h"
#include "text.h"
#include "tls_options.h"

#include <ferrolink/qbmsg.h>
#include <ferrolink/tempfilestream.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace qbmsgcli {

bool gStandardInputClosed = false;

const char* const kSendHelp = R"(Usage: qbmsg send [OPTION]... FILE|FOLDER...
Post each FILE (standard input when FILE is -), and each file under each
FOLDER, as one stream message, and print the receiver's reply.

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
      --no-name         send no file names: each file goes in the forms every
                        receiver knows, stored under the receiver's own names
                        (message-N.bin from qbmsg receive); nothing resumes
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

Each file goes with its name, and a folder's files with their paths inside
it ("photos/2024/a.jpg"), for the receiver to store them under; a receiver
that does not know names is sent the file without one, in the form it
knows, and names it itself. Each file goes on a connection of its own, one
after the other, with one progress line for the whole. With one FILE the
receiver's reply is printed; with more, or a folder, a line per file at the
end ("OK photos/a.jpg" on standard output, the cause of a failure on
standard error), and a file that fails does not stop the others.

A send that is cut off (Ctrl-C, the connection lost) is resumed by the same
command: the receiver offers what it kept of the file, and only the rest is
sent when this file begins with exactly that; the end-to-end check still
covers the whole file. Ctrl-C says where the send stopped and exits 130.

A file of any size can be sent. Without a name (--no-name, or standard
input), a body of up to 9999 bytes goes in the fixed form that every
receiver takes; a larger one in the large form, which a receiver that knows
only the fixed form refuses at once ("The receiver does not take messages
over 9999 bytes"), and which the receiver checks end to end before it
answers. Bytes of the reply outside printable ASCII are
printed as escapes (\xNN).

With --tls nothing is sent in the clear: a receiver that cannot be verified,
or one that does not speak TLS, fails the handshake before any byte of the
message leaves, and says why, for example: TLS Handshake Failed: certificate
verify failed (self-signed certificate). The message inside TLS is byte for byte the one sent
without it.

Exit status: 0 when the receiver answered "OK" to every file, 1 when a file
could not be read, a transfer failed or the receiver did not answer "OK"
(it did not store the message), 2 for a usage error, 130 when interrupted.
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
    TInputKind kind = TInputKind::Stream;
    const int fd = OpenInput(file, kind);
    if (fd < 0)
        throw Failure("Cannot open " + name + ": " + SystemCause(errno));
    if (kind == TInputKind::Folder) {
        CloseInput(fd);
        throw Failure("Cannot read " + name + ": " + SystemCause(EISDIR));
    }
    if (kind == TInputKind::File && !standardInput) {
        CloseInput(fd);
        try {
            return std::make_unique<ferro::TFileStream>(file, ferro::fmOpenRead);
        } catch (const ferro::Exception& e) {
            throw Failure("Cannot open " + name + ": " + SystemCause(e.SystemError() ? e.SystemError() : errno));
        }
    }
    auto copy = std::make_unique<ferro::TTempFileStream>("");
    std::vector<char> chunk(65536);
    for (;;) {
        const long n = ReadInput(fd, chunk.data(), chunk.size());
        if (n < 0) {
            const int error = errno;
            CloseInput(fd);
            throw Failure("Cannot read " + name + ": " + SystemCause(error));
        }
        if (n == 0)
            break;
        try {
            copy->WriteBuffer(chunk.data(), n);
        } catch (const ferro::Exception& e) {
            CloseInput(fd);
            throw Failure("Cannot hold " + name + " in a temporary file: " + SystemCause(e.SystemError()));
        }
    }
    CloseInput(fd);
    return copy;
}

// Whether the progress line is shown: WHEN is auto (on a terminal), always
// or never.
bool ProgressShown(const std::string& when)
{
    if (when == "auto")
        return IsTerminal(stderr);
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

// What became of one file.
struct TSent {
    std::string Name;    // as shown: the path it was sent under, or its source
    std::string Reply;   // the receiver's reply, when it gave one
    std::string Failure; // why it did not arrive; empty when it did
};

// A failure of the component or of the file, in the words the command uses.
std::string FailureText(const ferro::TQBStrm& sender)
{
    try {
        throw;
    } catch (const ferro::ESockError& e) {
        return Explained(e.what(), sender);
    } catch (const ferro::Exception& e) {
        return Escaped(e.Message());
    } catch (const std::exception& e) {
        return Escaped(e.what());
    }
}

// Sends the items one after the other, the progress line over all of them.
class TBatch {
public:
    TBatch(ferro::TQBStrm& sender, const std::vector<TSendItem>& items, TProgressLine& progress);
    // Sends each item until one is interrupted; what became of each sent.
    std::vector<TSent> SendAll();
    // Whether a stop request ended it.
    bool Interrupted() const { return FInterrupted; }
    // Stops the send under way.
    void Interrupt();

private:
    TSent SendOne(const TSendItem& item);
    // Notes on the post just made, kept for the end (the progress line is
    // on the same terminal).
    void Note(const TSendItem& item);
    std::string InterruptedText(const TSendItem& item) const;

    ferro::TQBStrm& FSender;
    const std::vector<TSendItem>& FItems;
    TProgressLine& FProgress;
    std::int64_t FTotal = 0;
    std::int64_t FDone = 0; // of the items before the one in hand
    bool FInterrupted = false;
    bool FToldNoNames = false;

public:
    std::vector<std::string> Notes; // each a line, for the end
    bool NoNames = false;           // files go without their names
};

TBatch::TBatch(ferro::TQBStrm& sender, const std::vector<TSendItem>& items, TProgressLine& progress)
    : FSender(sender), FItems(items), FProgress(progress)
{
    for (const TSendItem& item : items)
        FTotal += item.Size;
    FSender.OnPacketRecvd = [this](ferro::TComponent*) {
        FProgress.Update(FDone + FSender.ResumedAt() + FSender.BytesRecvd(), std::max(FTotal, FDone + FSender.ResumedAt() + FSender.BytesTotal()));
    };
}

void TBatch::Interrupt()
{
    FInterrupted = true;
    FSender.BeenCanceled = true;
}

std::vector<TSent> TBatch::SendAll()
{
    std::vector<TSent> sent;
    bool allArrived = true;
    for (const TSendItem& item : FItems) {
        sent.push_back(SendOne(item));
        allArrived = allArrived && sent.back().Failure.empty();
        if (FInterrupted)
            break;
        FDone += item.Size;
    }
    FProgress.Finish(allArrived);
    return sent;
}

TSent TBatch::SendOne(const TSendItem& item)
{
    TSent result {item.Name.empty() ? item.Source : item.Name, {}, {}};
    try {
        const std::unique_ptr<ferro::TStream> body = OpenBody(item.Source);
        FSender.FileName = NoNames ? std::string() : item.Name;
        FSender.BeenCanceled = false;
        result.Reply = FSender.PostIt(*body);
        Note(item);
        if (result.Reply != ferro::qbmsg::kReply)
            result.Failure = "the receiver did not answer \"OK\": the message was not stored";
    } catch (...) {
        result.Failure = FInterrupted ? InterruptedText(item) : FailureText(FSender);
    }
    return result;
}

void TBatch::Note(const TSendItem& item)
{
    if (!FSender.FileName.empty() && !FSender.NameTaken() && !FToldNoNames) {
        FToldNoNames = true;
        Notes.push_back("the receiver does not know file names; it stores what it is sent under names of its own");
    }
    if (FSender.ResumedAt() > 0)
        Notes.push_back(Escaped(item.Name) + " resumed at " + std::to_string(FSender.ResumedAt()) + " bytes (" + ReadableSize(FSender.ResumedAt()) +
                        "): the receiver had kept them from a send that was cut off");
    if (!FSender.TlsPeerNote().empty() && (Notes.empty() || Notes.back().rfind(FSender.TlsPeerNote(), 0) != 0))
        Notes.push_back(FSender.TlsPeerNote() + " (a pin trusts the key, not the certificate's dates)");
}

std::string TBatch::InterruptedText(const TSendItem& item) const
{
    const std::int64_t done = FSender.ResumedAt() + FSender.BytesRecvd();
    const std::int64_t size = std::max(item.Size, done);
    const int percent = size > 0 ? static_cast<int>(done * 100 / size) : 0;
    const bool resumable = !item.Name.empty() && FSender.NameTaken() && done > 0;
    return "interrupted at " + std::to_string(percent) + " % (" + std::to_string(done) + " of " + std::to_string(size) + " bytes sent); " +
           (resumable ? "the same command again resumes it" : "the same command again sends it again");
}

// The lines for a batch, at its end; the exit status.
int Told(const std::vector<TSent>& sent, const TSendList& list, const std::vector<std::string>& notes, bool interrupted)
{
    for (const std::string& note : notes)
        std::fprintf(stderr, "%snote: %s\n", kPrefix, note.c_str());
    bool failed = !list.Failures.empty();
    for (const std::string& failure : list.Failures)
        std::fprintf(stderr, "%s%s\n", kPrefix, Escaped(failure).c_str());
    for (const TSent& one : sent) {
        failed = failed || !one.Failure.empty();
        if (!list.Several) { // one file: the reply as it came, as it always was
            if (!one.Reply.empty())
                std::printf("%s\n", Escaped(one.Reply).c_str());
            if (!one.Failure.empty())
                std::fprintf(stderr, "%s%s\n", kPrefix, one.Failure.c_str());
        } else if (one.Failure.empty()) {
            std::printf("OK %s\n", Escaped(one.Name).c_str());
        } else {
            std::fprintf(stderr, "%s%s: %s\n", kPrefix, Escaped(one.Name).c_str(), one.Failure.c_str());
        }
    }
    if (interrupted)
        return kExitInterrupted;
    return failed || sent.empty() ? kExitFailed : kExitOk;
}

} // namespace

int SendCommand(const std::vector<std::string>& args)
{
    TCommandLine line(TOptions {ValueOption("host", "H"), ValueOption("port", "p"), ValueOption("from", "f"),
                            ValueOption("timeout", "t"), ValueOption("verbose", "v"),
                            ValueOption("progress", ""), FlagOption("no-name", ""), FlagOption("ipv4", "4"), FlagOption("ipv6", "6"), HelpOption()} +
                      TlsOptions(false));
    line.Parse(args);
    if (line.IsSet("help")) {
        std::fputs(kSendHelp, stdout);
        return kExitOk;
    }
    const std::vector<std::string> files = line.Positional();
    if (files.empty())
        throw UsageError("no FILE to send");
    if (std::count(files.begin(), files.end(), "-") > 1)
        throw UsageError("standard input (-) can be sent once");

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

    const TSendList list = ListFiles(files);
    TProgressLine progress(stderr, progressShown);
    TBatch batch(sender, list.Items, progress);
    batch.NoNames = line.IsSet("no-name");
    TStopRequests stop([&batch] { batch.Interrupt(); }, true);
    const std::vector<TSent> sent = batch.SendAll();
    return Told(sent, list, batch.Notes, batch.Interrupted());
}

} // namespace qbmsgcli
