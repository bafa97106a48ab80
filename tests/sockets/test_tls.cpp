// TLS on a component's connection: the handshake as a wait (its deadline,
// a cancel, a setup that cannot be used), and the bytes inside TLS, against
// socat as the peer.
#include "connected.h"
#include "qt_helpers.h"

#include "recorder.h"
#include "loop.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <ferrolink/qbgeneralserver.h>
#include <ferrolink/tls.h>

#include <QAbstractEventDispatcher>
#include <QThread>

#include <atomic>
#include <functional>
#include <future>
#include <memory>

using namespace ferro;

namespace {

// Connects `link` over TLS to the server that has `fingerprint`.
void ConnectPinned(TProbe& link, const char* host, std::uint16_t port, const TFingerprint& fingerprint)
{
    link.Host = host;
    link.Port = port;
    link.TimeOut = 5000;
    link.Tls.Enabled = true;
    link.Tls.Pins = {fingerprint};
    link.Connect();
}

// socat as a TLS server on `port` with `identity`, its own options after
// the listening address's (`-u` for one way), data going to `target`; true
// once it listens.
bool StartTlsPeer(QProcess& peer, std::uint16_t port, const TTlsIdentity& identity, const QString& options, const QString& target,
                  bool oneWay = false)
{
    QStringList args;
    if (oneWay)
        args << "-u";
    args << QString("OPENSSL-LISTEN:%1,reuseaddr,%2,cert=%3,key=%4")
                .arg(port)
                .arg(options, QString::fromStdString(identity.CertificateFile), QString::fromStdString(identity.KeyFile))
         << target;
    peer.start("socat", args);
    return PumpUntil([&] { return ListensOn(port); }, 10000);
}

// A TLS server with `identity` on `port` on a thread of its own (on one
// thread neither end could step its handshake inside the other's wait),
// serving each client with `contact`, until destroyed.
class TTlsServerThread {
public:
    using TContact = std::function<void(TQBGeneralServer&)>;
    TTlsServerThread(const TTlsIdentity& identity, std::uint16_t port, TContact contact)
        : FThread(QThread::create([this, identity, port, contact] { Serve(identity, port, contact); }))
    {
        FThread->start();
        EXPECT_TRUE(PumpUntil([&] { return FListening.load(); }, 10000));
    }
    ~TTlsServerThread()
    {
        FThread->requestInterruption();
        FThread->eventDispatcher()->wakeUp();
        EXPECT_TRUE(PumpUntil([&] { return FThread->isFinished(); }, 10000));
    }

private:
    void Serve(const TTlsIdentity& identity, std::uint16_t port, const TContact& contact)
    {
        TQBGeneralServer server(nullptr);
        server.Port = port;
        server.TimeOut = 5000;
        server.Tls.Enabled = true;
        server.Tls.CertificateFile = identity.CertificateFile;
        server.Tls.KeyFile = identity.KeyFile;
        server.OnClientContact = [&](TComponent*) { contact(server); };
        server.Loaded();
        FListening = true;
        while (!QThread::currentThread()->isInterruptionRequested())
            WaitAndProcessMessages();
    }

    std::atomic<bool> FListening {false};
    std::unique_ptr<QThread> FThread;
};

} // namespace

TEST(TlsHandshake, EndsByItsDeadlineOrACancelAndNothingTravelsInTheClear)
{
    TcpListener silent; // takes the connection, never answers the hello
    TProbe link;
    link.Host = "127.0.0.1";
    link.Port = silent.Port();
    link.Tls.Enabled = true;
    link.TimeOut = 300; // a client's handshake has its TimeOut alone
    std::vector<std::string> errors;
    link.OnError = [&](TComponent*, std::uint16_t, const std::string& text) { errors.push_back(text); };
    EXPECT_EQ(ConnectFailure(link), "TLS Handshake Timed Out");
    EXPECT_FALSE(link.GetConnected());
    EXPECT_EQ(errors, std::vector<std::string> {"TLS Handshake Timed Out"});
    const int peer = silent.Accept();
    const std::string seen = RecvAll(peer, 1000);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], '\x16') << "a TLS record of the handshake, and nothing else";
    CloseFd(peer);

    link.TimeOut = 0;
    Later(100, [&] { link.BeenCanceled = true; });
    EXPECT_EQ(ConnectFailure(link), "TLS Handshake Canceled");
    EXPECT_FALSE(link.GetConnected());

    // A peer that resets at the hello: the plain error, in words and number.
    TcpListener resetting;
    link.Port = resetting.Port();
    link.TimeOut = 5000;
    auto reset = std::async(std::launch::async, [&] {
        const int fd = resetting.Accept();
        RecvAll(fd, 300);
        ResetFd(fd);
    });
    EXPECT_EQ(ConnectFailure(link), "TLS Handshake Failed: the peer reset the connection (10054)");
    reset.wait();

    link.Tls.CertificateFile = "/nonexistent/cert.pem";
    const std::string setup = ConnectFailure(link);
    EXPECT_EQ(setup.rfind("TLS Setup Failed: cannot use certificate /nonexistent/cert.pem (", 0), 0u) << setup;
}

// A server busy with another client leaves this one's connection in its
// backlog: the handshake waits as long as TimeOut says, whatever
// HandshakeTimeOut, which is a server's limit.
TEST(TlsHandshake, AClientQueuedBehindAnotherWaitsItsWholeTimeOut)
{
    QTemporaryDir dir;
    const TTlsIdentity server = EnsureIdentity(dir.filePath("server").toStdString());
    const std::uint16_t port = FreePort();
    QProcess peer;
    ASSERT_TRUE(StartTlsPeer(peer, port, server, "verify=0", "EXEC:cat"));
    TcpListener busy(1);
    auto late = ProxyAsync(busy, port, SIZE_MAX, SIZE_MAX, 900);
    TProbe link;
    link.Tls.HandshakeTimeOut = 300;
    ConnectPinned(link, "127.0.0.1", busy.Port(), server.Fingerprint); // TimeOut 5000
    link.WriteLn("queued");
    EXPECT_EQ(link.ReadLn(), "queued\r\n");
    link.Disconnect();
    late.wait();
}

// A server that refuses this client's certificate says so in an alert and
// closes without reading what the client sent meanwhile (TLS 1.3 lets the
// client send before the server has looked at its certificate): the close
// is a reset, met by a send, and the alert is still what the client tells.
TEST(TlsHandshake, ARefusalIsToldByItsAlertEvenWhenThePeerResets)
{
    QTemporaryDir dir;
    const TTlsIdentity server = EnsureIdentity(dir.filePath("server").toStdString());
    const TTlsIdentity client = EnsureIdentity(dir.filePath("client").toStdString());
    const std::uint16_t port = FreePort();
    QProcess peer;
    ASSERT_TRUE(StartTlsPeer(peer, port, server, "verify=1,cafile=" + QString::fromStdString(server.CertificateFile), "STDOUT"));
    TProbe link;
    link.Tls.CertificateFile = client.CertificateFile;
    link.Tls.KeyFile = client.KeyFile;
    ConnectPinned(link, "127.0.0.1", port, server.Fingerprint);
    TMemoryStream stream = StreamOf(Pattern(8 * 1024 * 1024));
    const std::string failure = FailureOf([&] {
        link.SendStream(stream);
        link.ReadBytes(nullptr, 0);
        link.Read(1);
    });
    EXPECT_EQ(failure, "TLS Failed: tlsv1 alert unknown ca (the peer does not admit our certificate)");
    peer.waitForFinished(5000);
}

TEST(TlsTransfer, TheBytesInsideAreTheBytesSentAndAPinDecidesTrust)
{
    QTemporaryDir dir;
    const TTlsIdentity server = EnsureIdentity(dir.filePath("server").toStdString());
    const std::uint16_t port = FreePort();
    // A TLS 1.3 server that sends session tickets, which this client never
    // reads: its close must still end the stream, not reset it.
    QProcess peer; // writes what it receives to its standard output
    peer.setStandardOutputFile(dir.filePath("received"));
    ASSERT_TRUE(StartTlsPeer(peer, port, server, "verify=0", "STDOUT", true));

    TProbe link;
    ConnectPinned(link, "localhost", port, server.Fingerprint);
    EXPECT_EQ(link.TlsDescription().rfind("TLSv1.3 ", 0), 0u) << link.TlsDescription();
    const std::string body = Pattern(1024 * 1024 + 3);
    TMemoryStream stream = StreamOf(body);
    link.SendStream(stream);
    EXPECT_EQ(link.BytesRecvd(), static_cast<std::int64_t>(body.size()));
    link.WriteLn("and a line");
    link.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return peer.state() == QProcess::NotRunning; }, 10000));
    const std::string got = ReadFile(dir.filePath("received"));
    EXPECT_EQ(got.size(), body.size() + 12);
    EXPECT_TRUE(got == body + "and a line\r\n");
}

// A peer that reads slowly makes sends take part of what they are offered;
// a receive in between (a look for an early answer) hands on the records of
// bytes no send has counted yet. Those bytes must still travel once.
TEST(TlsTransfer, ABodySentToASlowReaderWithLooksForAnAnswerArrivesOnce)
{
    QTemporaryDir dir;
    const TTlsIdentity server = EnsureIdentity(dir.filePath("server").toStdString());
    const std::uint16_t port = FreePort();
    QProcess peer; // starts reading after a while: the buffers fill first
    ASSERT_TRUE(StartTlsPeer(peer, port, server, "verify=0", "SYSTEM:sleep 0.5; exec cat > '" + dir.filePath("received") + "'", true));
    TProbe link;
    ConnectPinned(link, "127.0.0.1", port, server.Fingerprint);
    const std::string body = Pattern(16 * 1024 * 1024 + 5);
    TMemoryStream stream = StreamOf(body);
    int looks = 0;
    link.SendStream(stream, [&](const char*, std::size_t) {
        EXPECT_FALSE(link.PeerHasSpoken()); // the peer says nothing
        ++looks;
    });
    EXPECT_GT(looks, 1);
    link.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return peer.state() == QProcess::NotRunning; }, 20000));
    const std::string got = ReadFile(dir.filePath("received"));
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body);
}

// Each Write is a record of its own; the line comes whole and in order,
// and the reply goes back.
TEST(TlsTransfer, ALineWrittenInPiecesArrivesWholeAndTheReplyGoesBack)
{
    QTemporaryDir dir;
    const TTlsIdentity identity = EnsureIdentity(dir.filePath("server").toStdString());
    const std::uint16_t port = FreePort();
    std::string heard;
    {
        TTlsServerThread server(identity, port, [&](TQBGeneralServer& self) {
            self.Write("hel");
            self.Write("lo\r\n");
            heard = self.ReadLn();
        });
        TProbe link;
        ConnectPinned(link, "127.0.0.1", port, identity.Fingerprint);
        // ReadLn gives what has come after its quick passes: the line, or its
        // first piece and then the rest.
        std::string line;
        for (int reads = 0; reads < 2 && line.find('\n') == std::string::npos; ++reads)
            line += link.ReadLn();
        EXPECT_EQ(line, "hello\r\n");
        link.WriteLn("thanks"); // the server is in its ReadLn: it takes the line before it stops
    }
    EXPECT_EQ(heard, "thanks\r\n");
}

// A client that comes back resumes its session with the ticket the server
// gave it, sparing the full handshake, as long as its settings are those
// that checked the server; the ticket never stands in for the pin: a
// different server on the same address shakes hands in full and is refused.
TEST(TlsTransfer, AClientComingBackResumesItsSessionButOnlyWithTheSameServer)
{
    QTemporaryDir dir;
    const TTlsIdentity first = EnsureIdentity(dir.filePath("first").toStdString());
    const TTlsIdentity second = EnsureIdentity(dir.filePath("second").toStdString());
    const std::uint16_t port = FreePort();
    TProbe link;
    const auto greet = [](TQBGeneralServer& self) {
        self.WriteLn("hi");
        self.ReadLn();
    };
    {
        TTlsServerThread greeter(first, port, greet);
        for (const char* resumed : {"", " (resumed)", " (resumed)"}) {
            ConnectPinned(link, "127.0.0.1", port, first.Fingerprint);
            EXPECT_EQ(link.ReadLn(), "hi\r\n");
            const std::string description = link.TlsDescription();
            EXPECT_EQ(description.substr(std::min(description.size(), description.rfind(" ("))), resumed) << description;
            link.Disconnect();
        }
        // Other settings make a context of their own, which holds no ticket
        // checked under the old ones.
        link.Tls.HandshakeTimeOut += 1000;
        ConnectPinned(link, "127.0.0.1", port, first.Fingerprint);
        EXPECT_EQ(link.ReadLn(), "hi\r\n");
        EXPECT_EQ(link.TlsDescription().find("(resumed)"), std::string::npos) << link.TlsDescription();
        link.Disconnect();
    }
    TTlsServerThread impostor(second, port, greet);
    EXPECT_EQ(FailureOf([&] { ConnectPinned(link, "127.0.0.1", port, first.Fingerprint); }),
              "TLS Handshake Failed: certificate verify failed (not a pinned certificate: " + FingerprintText(second.Fingerprint) + ")");
}
