// qbmsg receive: listens and stores each message's body in a new file,
// answering "OK" only once the body is on the disk.
#include "commands.h"
#include "options.h"
#include "progress.h"
#include "report_lines.h"
#include "stop_requests.h"
#include "kept_parts.h"
#include "store.h"
#include "text.h"
#include "tls_options.h"

#include <ferrolink/qbmsg.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <functional>
#include <memory>

namespace qbmsgcli {

const char* const kReceiveHelp = R"(Usage: qbmsg receive [OPTION]...
Listen for stream messages and store each body in a new file, printing one
line per message: the sender's name (quoted), the byte count, the size in a
readable unit in brackets, the sender's address ("from 127.0.0.1:41234",
"from [::1]:41234") and, last, the file.
A file sent by name (qbmsg send) is stored under that name, its folders
made inside this folder: a name is never a path out of it (".." and a
leading "/" are left out, no link is followed), control characters become
"_", and a name that is taken gets a number ("report-1.bin"). Anything else
gets a name from a counter (message-1.bin, message-2.bin, ...). An existing
file is never replaced.

When a named file's send is cut off (the sender interrupted or killed, the
connection lost), what arrived is kept in the hidden folder .qbmsg-partial
of the folder, and the same file sent again by the same sender goes on from
there once the sender has checked that its file begins with it. Parts are
kept for a day at most and, the oldest dropped first, never more than
--max-size in all.

A body is written to a temporary file in the folder opened at the start,
flushed to the disk, and then given its name (mode 0666 less the umask);
only then is "OK" answered. A large body (over 9999 bytes) goes to the
folder's disk as it arrives, never whole into memory, and is answered only
when its end-to-end check matches; past --deadline it goes on only while it
keeps to 64 KiB/s over what has arrived. A message that cannot be stored (a
full disk, no descriptor left) is not answered "OK", its sender is told it
failed, and the receiver goes on. A failed message is reported on
standard error, bytes from the network escaped (\xNN).

  -p, --port PORT       TCP port to listen on (default 6711)
      --bind ADDR       listen on this address only (IPv4 or IPv6, such as
                        127.0.0.1 or ::1, or a name); default: every
                        address of both families
  -n, --count N         stop after N stored messages (default: run until
                        interrupted)
  -o, --out DIR         folder for the bodies (default: the current folder)
  -t, --timeout MS      give up on a client after any single wait of MS
                        milliseconds (default 0: no limit)
      --idle MS         give up on a client that sends no byte for MS
                        milliseconds (default 10000; 0: no limit)
      --deadline MS     give up on a client whose whole message takes more
                        than MS milliseconds, unless it is a large body that
                        keeps to 64 KiB/s (default 60000; 0: no limit)
      --max-size BYTES  refuse a body of more than BYTES bytes before any of
                        it is read; K, M and G multiply by 1024, 1024^2 and
                        1024^3 (default 1G)
  -b, --backlog N       let the system hold N connections waiting while one
                        is served (default 1); many senders at once want
                        more, such as 128
  -v, --verbose LEVEL   print the component's status texts up to LEVEL on
                        standard error
      --tls             take only TLS connections (TLS 1.3, 1.2 at the
                        least), presenting the identity of --identity
      --identity DIR    this receiver's identity (see 'qbmsg identity'),
                        made when DIR has none; its fingerprint is told on
                        standard error at the start, for senders to --pin
      --allow FINGERPRINT  serve only senders whose certificate has this
                        SHA-256 fingerprint (may be given more than once);
                        others fail their handshake and store nothing
      --ca FILE         serve only senders whose certificate is issued by a
                        CA of FILE (PEM)
  -h, --help            show this help and exit

A TLS receiver closes a connection that does not complete its handshake
within 10 seconds (or --timeout, when shorter), so an unknown client cannot
hold it; a plain sender's bytes are never taken for a message.

SIGINT and SIGTERM end it cleanly: the message in progress is stored and
answered, or neither, and senders still waiting are told they failed.
Exit status: 0, or 1 when the port cannot be listened on or the folder
cannot be used, 2 for a usage error.
)";

namespace {

constexpr const char* kPrefix = "qbmsg receive: ";
constexpr long kDefaultIdleMs = 10000;
constexpr long kDefaultDeadlineMs = 60000;
constexpr long long kDefaultMaxSize = 1LL << 30; // files, not pictures: the disk bounds it, not memory
constexpr int kStopGraceMs = 500; // for report lines still queued at a stop request

void Report(const std::string& text)
{
    std::fprintf(stderr, "%s%s\n", kPrefix, Escaped(text).c_str());
}

// A size in bytes, with an optional K, M or G (powers of 1024).
long long SizeOption(const TCommandLine& line, const std::string& name, long long fallback)
{
    std::string text = line.Bytes(name, "");
    if (text.empty())
        return fallback;
    int shift = 0;
    switch (text.back()) {
    case 'K': case 'k': shift = 10; break;
    case 'M': case 'm': shift = 20; break;
    case 'G': case 'g': shift = 30; break;
    default: break;
    }
    if (shift)
        text.pop_back();
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        throw UsageError("--" + name + " must be a number of bytes, with K, M or G if wanted");
    // Taken whole or not at all: a value that overflows is no limit of 0.
    constexpr long long kMost = std::numeric_limits<long long>::max();
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > static_cast<unsigned long long>(kMost >> shift))
        throw UsageError("--" + name + " is out of range (at most " + std::to_string(kMost) + " bytes)");
    return static_cast<long long>(value) << shift;
}

// The receiver as the options ask for it. "OK" means stored.
void Configure(ferro::TQBStrmServ& server, const TCommandLine& line)
{
    server.Port = static_cast<std::int32_t>(line.Number("port", ferro::qbmsg::kPort, 1, 65535));
    server.TimeOut = static_cast<std::int32_t>(line.Number("timeout", 0, 0, 2147483647));
    server.IdleLimit = static_cast<std::int32_t>(line.Number("idle", kDefaultIdleMs, 0, 2147483647));
    server.MessageDeadline = static_cast<std::int32_t>(line.Number("deadline", kDefaultDeadlineMs, 0, 2147483647));
    server.ReplyAfterHandler = true;
    server.MaxSize = SizeOption(line, "max-size", kDefaultMaxSize);
    server.BodyFolder = line.Bytes("out", ".");
    server.BindAddress = line.Bytes("bind", "");
    server.Backlog = static_cast<std::int32_t>(line.Number("backlog", 1, 1, 65535));
    server.ReportLevel = static_cast<int>(line.Number("verbose", 0, 0, 255));
    server.OnStatus = [](ferro::TComponent*, const std::string& text) { std::fprintf(stderr, "%s\n", Escaped(text).c_str()); };
    ferro::SetApplicationExceptionHandler([&server](const std::exception& e) {
        const auto* own = dynamic_cast<const ferro::Exception*>(&e);
        std::string text = InWords(own ? own->Message() : e.what(), "sender"); // the whole text, NUL bytes too
        // A failed message says whose it was.
        if (const std::string peer = server.PeerAddress(); !peer.empty())
            text += " (from " + peer + ")";
        Report(text);
    });
}

// Starts listening; the failure's text, empty when it listens.
std::string StartListening(ferro::TQBStrmServ& server)
{
    std::string failure;
    server.OnError = [&](ferro::TComponent*, std::uint16_t error, const std::string& text) {
        if (text.rfind("Cannot Listen", 0) == 0)
            failure = text + ": " + SocketCause(error);
    };
    server.Loaded();
    server.OnError = nullptr;
    return failure;
}

// The TLS files read and the folder opened and tried, each told when it
// cannot be used; the folder, or null when either cannot.
std::unique_ptr<TStoreFolder> Prepare(ferro::TQBStrmServ& server, const TCommandLine& line)
{
    try {
        server.Tls = TlsSettings(line, true, kPrefix);
        if (server.Tls.Enabled)
            server.PrepareTls(true); // a file that cannot be used is told now, not at the first sender
        return std::make_unique<TStoreFolder>(line.Bytes("out", "."));
    } catch (const ferro::Exception& e) {
        Report(e.Message() + (e.SystemError() ? ": " + SystemCause(e.SystemError()) : ""));
    } catch (const StoreError& e) {
        Report(e.what());
    }
    return nullptr;
}

// Named files' cut-off bodies kept in the folder for their senders to
// resume; a folder where they cannot be kept is told once, and nothing is
// resumed then.
std::unique_ptr<TKeptParts> KeepCutBodies(ferro::TQBStrmServ& server, TStoreFolder& folder)
{
    std::unique_ptr<TKeptParts> parts;
    try {
        parts = std::make_unique<TKeptParts>(folder.Fd(), server.MaxSize);
    } catch (const ferro::Exception& e) {
        Report("note: cut-off sends cannot be resumed: " + e.Message() + ": " + SystemCause(e.SystemError()));
        return nullptr;
    }
    server.KeptBody = [kept = parts.get()](const TKeptParts::TLabel& label) { return kept->Find(label); };
    server.OnBodyCut = [kept = parts.get(), &server](const TKeptParts::TLabel& label, std::unique_ptr<ferro::TStream> arrived) {
        if (const std::int64_t bytes = kept->Keep(label, std::move(arrived)); bytes > 0)
            Report("note: kept " + std::to_string(bytes) + " of " + std::to_string(label.Size) + " bytes of " + label.Path +
                   " for its sender to resume (from " + server.PeerAddress() + ")");
    };
    return parts;
}

// Each message's body stored in `folder` (its large bodies made there as
// they arrive) and its line reported; `stored` after each.
void StoreEachMessage(ferro::TQBStrmServ& server, TStoreFolder& folder, TReportLines& lines, std::function<void()> stored)
{
    server.BodyFile = [&folder] { return folder.NewBody(); };
    server.OnMSG = [&server, &folder, &lines, stored = std::move(stored)](ferro::TComponent*, const std::string& from, ferro::TStream& body) {
        const std::string& named = server.FileLabel().Path;
        const std::string path = named.empty() ? folder.Store(body) : folder.StoreAs(body, named); // raises: no reply
        if (!server.TlsPeerNote().empty())
            Report("note: " + server.TlsPeerNote() + " (a pin trusts the key, not the certificate's dates) (from " + server.PeerAddress() + ")");
        const std::int64_t size = body.Size();
        // The file last, as it always was: the one field a script takes.
        lines.Add(Printable(from) + " " + std::to_string(size) + " (" + ReadableSize(size) + ") from " + server.PeerAddress() + " " +
                  Escaped(path) + "\n");
        stored();
    };
}

TOptions ReceiveOptions()
{
    return TOptions {ValueOption("port", "p"), ValueOption("count", "n"), ValueOption("out", "o"),
                     ValueOption("timeout", "t"), ValueOption("idle", ""), ValueOption("deadline", ""),
                     ValueOption("max-size", ""), ValueOption("backlog", "b"), ValueOption("bind", ""),
                     ValueOption("verbose", "v"), HelpOption()} +
           TlsOptions(true);
}

} // namespace

int ReceiveCommand(const std::vector<std::string>& args)
{
    TCommandLine line(ReceiveOptions());
    line.Parse(args);
    if (line.IsSet("help")) {
        std::fputs(kReceiveHelp, stdout);
        return kExitOk;
    }
    if (!line.Positional().empty())
        throw UsageError("unexpected argument '" + Escaped(line.Positional().front()) + "'");
    const long count = line.Number("count", 0, 1, 2147483647);
    ferro::TQBStrmServ server(nullptr);
    Configure(server, line);
    const std::unique_ptr<TStoreFolder> folder = Prepare(server, line);
    if (!folder)
        return kExitFailed;

    const std::unique_ptr<TKeptParts> kept = KeepCutBodies(server, *folder);
    TReportLines lines;
    long received = 0;
    StoreEachMessage(server, *folder, lines, [&] {
        if (++received == count)
            server.StopListening(); // this one is answered; no other is taken
    });
    // Everything it needs is made before it listens: once a client can see
    // it listening, it makes no descriptor but for a connection.
    // A stop request ends the message in progress as it would end (stored
    // and answered, or neither: a read under way is canceled, a handler
    // that stores is not), no connection is taken any more, and those
    // waiting are reset so that their senders are told they failed.
    TStopRequests stop([&server] {
        server.BeenCanceled = true;
        server.StopListening();
    }, false);
    if (!stop.Failure().empty()) {
        Report(stop.Failure());
        return kExitFailed;
    }
    if (const std::string failure = StartListening(server); !failure.empty()) {
        Report(failure);
        return kExitFailed;
    }
    while (!stop.Stopped() && (count == 0 || received < count))
        ferro::WaitAndProcessMessages();
    lines.Drain(TStopRequests::Heard, kStopGraceMs);
    return kExitOk;
}

} // namespace qbmsgcli
