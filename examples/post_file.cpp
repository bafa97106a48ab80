// Posts a file as one stream message and prints the receiver's reply; with
// a fingerprint, inside TLS to the receiver that has that certificate.
//
//   post_file HOST PORT FILE [FINGERPRINT]
//
// Exit status 0 when the receiver answered "OK", 1 when the post failed or
// was not answered so, 2 for a wrong call.
#include <ferrolink/qbmsg.h>
#include <ferrolink/tls.h>

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    // The components wait for the network in the application's event loop.
    QCoreApplication app(argc, argv);
    bool portOk = false;
    const int port = argc == 4 || argc == 5 ? QString(argv[2]).toInt(&portOk) : 0;
    ferro::TFingerprint pin {};
    if (!portOk || port < 1 || port > 65535 || (argc == 5 && !ferro::ParseFingerprint(argv[4], pin))) {
        std::fprintf(stderr, "usage: post_file HOST PORT FILE [FINGERPRINT]\n");
        return 2;
    }
    try {
        ferro::TQBStrm sender(nullptr);
        sender.Host = argv[1];
        sender.Port = port;
        sender.FromName = "post_file";
        sender.TimeOut = 10000; // no single wait lasts longer than 10 s
        if (argc == 5) {
            // Encrypted, and trusted by the receiver's certificate alone
            // ("qbmsg identity DIR" prints it): a self-signed one will do.
            sender.Tls.Enabled = true;
            sender.Tls.Pins = {pin};
        }

        ferro::TFileStream file(argv[3], ferro::fmOpenRead);
        const std::string reply = sender.PostIt(file); // connects, sends, reads the reply, disconnects
        std::printf("%s\n", reply.c_str());
        return reply == ferro::qbmsg::kReply ? 0 : 1;
    } catch (const ferro::Exception& e) {
        // Every failure of the components is a ferro::Exception with a fixed
        // text: "Connection Failed", "Read Timed Out", "Cannot open file x"...
        std::fprintf(stderr, "post_file: %s\n", e.what());
        return 1;
    }
}
