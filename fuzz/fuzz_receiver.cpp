// Feeds arbitrary bytes through the real receiving path: TQBStrmServ reads a
// message from a connection that delivers the input in pieces of changing
// size, says "would block" between pieces, and then closes.
#include "qbmsg.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdint>
#include <cstring>

namespace {

using namespace winsock;

class FuzzConnection : public TPosixWinsock {
public:
    void Load(const std::uint8_t* data, std::size_t size)
    {
        FData = data;
        FSize = size;
        FPos = 0;
        FPieceEnd = 0;
        FSeed = size > 0 ? data[0] : 0;
        FBlockNext = false;
    }

    int recv(SOCKET, char* buf, int len, int flags) override
    {
        if (FPos == FPieceEnd && FPos < FSize) {
            if (FBlockNext) {
                FBlockNext = false;
                WSASetLastError(WSAEWOULDBLOCK);
                return SOCKET_ERROR;
            }
            FSeed = FSeed * 1103515245u + 12345u;
            FPieceEnd = std::min(FSize, FPos + 1 + (FSeed >> 16) % 300);
        }
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), FPieceEnd - FPos);
        std::memcpy(buf, FData + FPos, n);
        if (!(flags & MSG_PEEK)) {
            FPos += n;
            FBlockNext = FPos == FPieceEnd;
        }
        return static_cast<int>(n); // 0 once everything is read: the peer closed
    }

    int send(SOCKET, const char*, int len, int) override { return len; }

    // Writing is always possible: FD_WRITE at once, as on a fresh connection.
    int WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events) override
    {
        if (msg != 0 && (events & FD_WRITE))
            PostMessage(window, msg, s, WSAMAKESELECTREPLY(FD_WRITE, 0));
        return 0;
    }

private:
    const std::uint8_t* FData = nullptr;
    std::size_t FSize = 0, FPos = 0, FPieceEnd = 0;
    std::uint32_t FSeed = 0;
    bool FBlockNext = false;
};

struct Harness {
    Harness() : App(Argc, Argv), Use(Connection)
    {
        // Keeps a waiting pump from sleeping: the fake connection has no
        // readiness to wake it.
        Spin.start(0);
        Server = std::make_unique<TQBStrmServ>(nullptr);
        Server->OnMSG = [](TComponent*, const std::string& from, TStream& body) {
            if (from.size() > 255 || body.Position() != 0 || body.Size() > 9999)
                __builtin_trap();
        };
    }
    int Argc = 1;
    char Name[8] = "fuzz";
    char* Argv[2] = {Name, nullptr};
    QCoreApplication App;
    FuzzConnection Connection;
    TWinsockOverride Use;
    QTimer Spin;
    std::unique_ptr<TQBStrmServ> Server;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Harness harness;
    harness.Connection.Load(data, size);
    try {
        harness.Server->ReadMessage(nullptr);
    } catch (const Exception&) {
        // Refusing bad input with the system's texts is the point.
    }
    return 0;
}
