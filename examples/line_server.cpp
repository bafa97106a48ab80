// A small line server for line_client: answers every line with "250 " and
// the line, and "QUIT" with "221 Bye", then closes. One client at a time.
//
//   line_server PORT
#include <ferrolink/qbmsg.h>

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <string>

namespace {

// One line from the client, line end included; empty when it closed. A line
// comes in pieces when it is long or slow (ReadLn returns at most 255 bytes,
// and what has arrived after its 100 passes).
std::string NextLine(ferro::TFerrolink& connection)
{
    std::string line;
    while (line.empty() || line.back() != '\n') {
        const std::string part = connection.ReadLn();
        if (part.empty())
            return {};
        line += part;
    }
    return line;
}

std::string WithoutLineEnd(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool portOk = false;
    const int port = argc == 2 ? QString(argv[1]).toInt(&portOk) : 0;
    if (!portOk || port < 1 || port > 65535) {
        std::fprintf(stderr, "usage: line_server PORT\n");
        return 2;
    }
    ferro::SetApplicationExceptionHandler([](const std::exception& e) {
        std::fprintf(stderr, "line_server: %s\n", e.what());
    });

    ferro::TQBGeneralServer server(nullptr);
    server.Port = port;
    server.TimeOut = 30000; // a client silent for 30 s is let go
    // While this runs, the server's Handle is the client's connection; the
    // connection is closed when it returns.
    server.OnClientContact = [&](ferro::TComponent*) {
        for (;;) {
            const std::string line = WithoutLineEnd(NextLine(server));
            if (line.empty())
                return;
            if (line == "QUIT") {
                server.WriteLn("221 Bye");
                return;
            }
            server.WriteLn("250 " + line);
        }
    };
    bool listening = true;
    server.OnError = [&](ferro::TComponent*, std::uint16_t, const std::string& text) {
        if (text.rfind("Cannot Listen", 0) == 0)
            listening = false;
    };
    server.Loaded();
    if (!listening) {
        std::fprintf(stderr, "line_server: cannot listen on port %d\n", port);
        return 1;
    }
    return app.exec();
}
