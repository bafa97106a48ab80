// A stream message peer in a process of its own, for end-to-end tests:
//   peer receive PORT COUNT OUTDIR   serves COUNT messages; writes each body to
//                                    OUTDIR/N.body and prints "N <name> <size>"
//   peer send PORT NAME FILE         posts FILE; prints the reply in brackets
// Prints "listening" once the receiver listens. Exit status 0 on success.
#include "qbmsg.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

namespace {

int Receive(int port, int count, const std::string& outDir)
{
    TQBStrmServ server(nullptr);
    server.Port = port;
    int received = 0;
    server.OnMSG = [&](TComponent*, const std::string& name, TStream& body) {
        ++received;
        const std::string path = outDir + "/" + std::to_string(received) + ".body";
        TFileStream out(path, fmCreate);
        out.CopyFrom(body, 0);
        out.Close();
        std::printf("%d %s %lld\n", received, name.c_str(), static_cast<long long>(body.Size()));
        std::fflush(stdout);
    };
    SetApplicationExceptionHandler([](const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
    });
    server.Loaded();
    std::printf("listening\n");
    std::fflush(stdout);
    while (received < count)
        WaitAndProcessMessages();
    return 0;
}

int Send(int port, const std::string& name, const std::string& file)
{
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.Port = port;
    sender.FromName = name;
    sender.TimeOut = 10000;
    try {
        TFileStream in(file, fmOpenRead);
        std::printf("[%s]\n", sender.PostIt(in).c_str());
        return 0;
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "receive" && argc == 5)
        return Receive(std::stoi(argv[2]), std::stoi(argv[3]), argv[4]);
    if (mode == "send" && argc == 5)
        return Send(std::stoi(argv[2]), argv[3], argv[4]);
    std::fprintf(stderr, "usage: peer receive PORT COUNT OUTDIR | peer send PORT NAME FILE\n");
    return 2;
}
