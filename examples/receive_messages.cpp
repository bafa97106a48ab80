// Receives stream messages: writes each body to message-N.bin in the current
// folder and prints the sender's name and the body's size.
//
//   receive_messages PORT [COUNT]
//
// Ends after COUNT messages (default: runs until interrupted). Exit status 1
// when the port cannot be listened on.
#include <ferrolink/qbmsg.h>

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <string>

namespace {

// A sender's name comes from the network: keep it from driving the terminal.
std::string Printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool portOk = false;
    bool countOk = argc < 3;
    const int port = argc >= 2 ? QString(argv[1]).toInt(&portOk) : 0;
    const int count = argc == 3 ? QString(argv[2]).toInt(&countOk) : 0;
    if (argc > 3 || !portOk || port < 1 || port > 65535 || !countOk || count < 0) {
        std::fprintf(stderr, "usage: receive_messages PORT [COUNT]\n");
        return 2;
    }

    // A failed message (a client that stalls, sends garbage or resets) ends
    // that message only: the receiver listens again, and the failure arrives
    // here, from the event loop.
    ferro::SetApplicationExceptionHandler([](const std::exception& e) {
        std::fprintf(stderr, "receive_messages: %s\n", e.what());
    });

    ferro::TQBStrmServ receiver(nullptr);
    receiver.Port = port;
    receiver.TimeOut = 10000; // a client that sends nothing for 10 s is let go
    int received = 0;
    receiver.OnMSG = [&](ferro::TComponent*, const std::string& from, ferro::TStream& body) {
        // The body is the receiver's and is gone when this returns: copy it.
        ++received;
        const std::string file = "message-" + std::to_string(received) + ".bin";
        ferro::TFileStream out(file, ferro::fmCreate);
        out.CopyFrom(body, 0);
        out.Close(); // raises when the file could not be written whole
        std::printf("%s %lld %s\n", Printable(from).c_str(), static_cast<long long>(body.Size()), file.c_str());
        std::fflush(stdout);
        if (received == count)
            QCoreApplication::quit(); // the loop ends once this handler has returned
    };
    bool listening = true;
    receiver.OnError = [&](ferro::TComponent*, std::uint16_t, const std::string& text) {
        if (text.rfind("Cannot Listen", 0) == 0)
            listening = false;
    };

    receiver.Loaded(); // a component made in code starts its run-time work here: it listens
    if (!listening) {
        std::fprintf(stderr, "receive_messages: cannot listen on port %d\n", port);
        return 1;
    }
    return app.exec();
}
