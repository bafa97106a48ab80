// qbmsg send: posts a file (or standard input) as one stream message.
#include "commands.h"
#include "options.h"
#include "watched.h"

#include <ferrolink/qbmsg.h>

#include <cstdio>
#include <iostream>
#include <iterator>

namespace qbmsgcli {

namespace {

const char* const kSendHelp = R"(Usage: qbmsg send [OPTION]... FILE
Post FILE (standard input when FILE is -) as one stream message and print
the receiver's reply.

  --host HOST      receiver's address or name (default 127.0.0.1)
  --port PORT      receiver's TCP port (default 6711)
  --from NAME      sender's name put into the message (default Quillbrook)
  --timeout MS     give up a wait after MS milliseconds (default 0: never)
  --verbose LEVEL  print the component's status texts up to LEVEL on
                   standard error (1 replies, 2 operations, 4 socket steps,
                   8 tracing, 16 error checks)
  --help           show this help and exit

Exit status: 0 when the receiver answered "OK", 1 when the transfer failed,
2 for a usage error.
)";

void ReadInto(std::istream& in, TMemoryStream& body)
{
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    body.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void LoadBody(const std::string& file, TMemoryStream& body)
{
    if (file == "-") {
        ReadInto(std::cin, body);
        return;
    }
    TFileStream in(file, fmOpenRead);
    body.CopyFrom(in, 0);
}

} // namespace

int SendCommand(const std::vector<std::string>& args)
{
    const ParsedOptions o = ParseOptions(args, {"host", "port", "from", "timeout", "verbose"}, {"help"});
    if (o.Has("help")) {
        std::fputs(kSendHelp, stdout);
        return kExitOk;
    }
    if (o.Positional.size() != 1)
        throw UsageError(o.Positional.empty() ? "no FILE to send" : "only one FILE can be sent");

    TWatched<TQBStrm> sender(nullptr);
    sender.Host = o.Text("host", "127.0.0.1");
    sender.Port = static_cast<std::int32_t>(o.Number("port", qbmsg::kPort, 1, 65535));
    sender.FromName = o.Text("from", "Quillbrook");
    sender.TimeOut = static_cast<std::int32_t>(o.Number("timeout", 0, 0, 2147483647));
    sender.ReportLevel = static_cast<std::int32_t>(o.Number("verbose", 0, 0, 255));
    sender.WatchStatus([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });

    try {
        TMemoryStream body;
        LoadBody(o.Positional.front(), body);
        const std::string reply = sender.PostIt(body);
        std::printf("%s\n", reply.c_str());
        if (reply != qbmsg::kReply) {
            std::fprintf(stderr, "qbmsg send: the receiver did not answer \"OK\"\n");
            return kExitFailed;
        }
        return kExitOk;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qbmsg send: %s\n", e.what());
        return kExitFailed;
    }
}

} // namespace qbmsgcli
