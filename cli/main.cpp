// qbmsg: send and receive stream messages from the command line, with the
// same components the desktop programs use; no display needed.
#include "commands.h"
#include "console.h"
#include "options.h"
#include "tls_options.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const kHelp = R"(Usage: qbmsg COMMAND [OPTION]...
       qbmsg help COMMAND
       qbmsg --version
Send and receive stream messages (TCP port 6711 by default).

Commands:
  send     post a file as one stream message
  receive  listen and store each message's body in a file
  identity make or show an identity for TLS (a key and a certificate)

Run 'qbmsg COMMAND --help' or 'qbmsg help COMMAND' for a command's options.
)";

bool IsCommand(const std::string& name)
{
    return name == "send" || name == "receive" || name == "identity";
}

int Help(const std::string& command)
{
    if (command.empty())
        std::fputs(kHelp, stdout);
    else if (command == "send")
        std::fputs(qbmsgcli::kSendHelp, stdout);
    else if (command == "receive")
        std::fputs(qbmsgcli::kReceiveHelp, stdout);
    else if (command == "identity")
        std::fputs(qbmsgcli::kIdentityHelp, stdout);
    else
        throw qbmsgcli::UsageError("no command '" + command + "'");
    return qbmsgcli::kExitOk;
}

int Run(const std::vector<std::string>& args)
{
    const std::string first = args.empty() ? "" : args.front();
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (first == "send")
        return qbmsgcli::SendCommand(rest);
    if (first == "receive")
        return qbmsgcli::ReceiveCommand(rest);
    if (first == "identity")
        return qbmsgcli::IdentityCommand(rest);
    if (first == "-h" || first == "--help")
        return Help("");
    if (first == "help")
        return Help(rest.empty() ? "" : rest.front());
    if (first == "--version" || first == "-V") {
        std::printf("qbmsg (Ferrolink) %s\n", FERROLINK_VERSION);
        return qbmsgcli::kExitOk;
    }
    if (first.empty())
        throw qbmsgcli::UsageError("no command given");
    if (first[0] == '-')
        throw qbmsgcli::UsageError("unknown option '" + first + "'");
    throw qbmsgcli::UsageError("unknown command '" + first + "'");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    const auto process = qbmsgcli::PrepareProcess(argc, argv, args);
    const std::string command = !args.empty() && IsCommand(args.front()) ? args.front() : "";
    try {
        return Run(args);
    } catch (const qbmsgcli::UsageError& e) {
        const std::string who = command.empty() ? "qbmsg" : "qbmsg " + command;
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", who.c_str(), e.what(), who.c_str());
        return qbmsgcli::kExitUsage;
    }
}
