// Talks a line protocol with Transaction: sends each COMMAND as a line and
// prints each reply line.
//
//   line_client HOST PORT COMMAND...
//
// Exit status 0 when every reply's code was below 400.
#include <ferrolink/ferro.h>

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool portOk = false;
    const int port = argc >= 4 ? QString(argv[2]).toInt(&portOk) : 0;
    if (!portOk || port < 1 || port > 65535) {
        std::fprintf(stderr, "usage: line_client HOST PORT COMMAND...\n");
        return 2;
    }
    ferro::TFerrolink client(nullptr);
    client.Host = argv[1];
    client.Port = port;
    client.TimeOut = 10000;
    int status = 0;
    try {
        client.Connect();
        for (int i = 3; i < argc; ++i) {
            std::string reply;
            client.Transaction(argv[i], reply); // WriteLn, then ReadLn
            if (reply.empty())
                throw ferro::Exception("the server closed the connection");
            while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
                reply.pop_back(); // the reply keeps its line end
            std::printf("%s\n", reply.c_str());
            if (client.ReplyCode() == 0 || client.ReplyCode() >= 400) // the number the reply starts with
                status = 1;
        }
        client.Disconnect();
    } catch (const ferro::Exception& e) {
        std::fprintf(stderr, "line_client: %s\n", e.what());
        return 1; // the component closes its socket when it goes

    }
    return status;
}
