// qbmsg: send and receive stream messages from the command line, with the
// same components the desktop programs use; no display needed.
#include "commands.h"
#include "options.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

const char* const kHelp = R"(Usage: qbmsg COMMAND [OPTION]...
Send and receive stream messages (TCP port 6711 by default).

Commands:
  send     post a file as one stream message
  receive  listen and write each message's body to a file

Run 'qbmsg COMMAND --help' for a command's options.
)";

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const std::string command = argc > 1 ? argv[1] : "";
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    try {
        if (command == "send")
            return qbmsgcli::SendCommand(args);
        if (command == "receive")
            return qbmsgcli::ReceiveCommand(args);
        if (command == "--help" || command == "help") {
            std::fputs(kHelp, stdout);
            return qbmsgcli::kExitOk;
        }
        throw qbmsgcli::UsageError(command.empty() ? "no command given" : "unknown command '" + command + "'");
    } catch (const qbmsgcli::UsageError& e) {
        std::fprintf(stderr, "qbmsg: %s\nTry 'qbmsg %s--help'.\n", e.what(),
                     command == "send" || command == "receive" ? (command + " ").c_str() : "");
        return qbmsgcli::kExitUsage;
    }
}
