// qbmsg over TLS: real processes, certificates made by openssl here (a small
// CA, leaves for localhost and 127.0.0.1, an expired one, one for another
// name), identities made by qbmsg, and openssl s_client as an independent
// client.
#include "qbmsg_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using namespace ferro;

namespace {

bool Openssl(const QStringList& args, const QString& input = {})
{
    QProcess p;
    p.start("openssl", args);
    if (!input.isEmpty())
        p.write(input.toLatin1());
    p.closeWriteChannel();
    return Finished(p) && p.exitCode() == 0;
}

// Certificates of a small CA, made once per test.
struct Certificates {
    Certificates()
    {
        const QString ca = Dir.filePath("ca");
        EXPECT_TRUE(Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", ca + ".key",
                             "-out", ca + ".pem", "-days", "30", "-subj", "/CN=Test CA"}));
        Leaf("good", "DNS:localhost,IP:127.0.0.1", "-days", "30");
        Leaf("other", "DNS:elsewhere.example", "-days", "30");
        // Valid from 2000 to 2001: long expired.
        Leaf("expired", "DNS:localhost,IP:127.0.0.1", "-startdate", "20000101000000Z", "-enddate", "20010101000000Z");
    }
    // An identity folder holding a leaf issued by the CA for `names`.
    void Leaf(const QString& name, const QString& names, const QString& option, const QString& value, const QString& option2 = {},
              const QString& value2 = {})
    {
        const QString folder = Dir.filePath(name);
        QDir().mkpath(folder);
        const QString csr = folder + "/req.csr";
        ASSERT_TRUE(Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", folder + "/key.pem", "-out",
                             csr, "-subj", "/CN=" + name}));
        WriteFile(folder + "/ext", "subjectAltName=" + names.toStdString() + "\n");
        QStringList args = {"ca", "-batch", "-notext", "-config", Config(), "-in", csr, "-out", folder + "/cert.pem", "-extfile", folder + "/ext",
                            option, value};
        if (!option2.isEmpty())
            args << option2 << value2;
        ASSERT_TRUE(Openssl(args));
    }
    // A minimal CA database for `openssl ca`, which can issue with dates in the past.
    QString Config()
    {
        const QString db = Dir.filePath("db");
        if (!QFileInfo::exists(db)) {
            QDir().mkpath(db);
            WriteFile(db + "/index", "");
            WriteFile(db + "/serial", "1000\n");
            WriteFile(Dir.filePath("ca.cnf"), "[ca]\ndefault_ca=d\n[d]\ndatabase=" + db.toStdString() + "/index\nserial=" + db.toStdString() +
                                                  "/serial\nnew_certs_dir=" + db.toStdString() + "\ncertificate=" + Dir.filePath("ca.pem").toStdString() +
                                                  "\nprivate_key=" + Dir.filePath("ca.key").toStdString() +
                                                  "\ndefault_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncommonName=supplied\n");
        }
        return Dir.filePath("ca.cnf");
    }
    QString Ca() const { return Dir.filePath("ca.pem"); }
    QString Identity(const QString& name) const { return Dir.filePath(name); }
    QTemporaryDir Dir;
};

QString Identity(const QTemporaryDir& dir, const QString& name, QString* fingerprint = nullptr)
{
    const Outcome made = Qbmsg({"identity", dir.filePath(name)});
    EXPECT_EQ(made.Exit, 0) << made.Err;
    if (fingerprint)
        *fingerprint = QString::fromStdString(made.Out).trimmed();
    return dir.filePath(name);
}

Outcome Send(const Receiver& receiver, const QString& file, const QStringList& options)
{
    return Qbmsg(QStringList {"send", "--port", QString::number(receiver.Port), "--timeout", "5000"} + options + QStringList {file});
}

} // namespace

TEST(QbmsgTls, APinnedReceiverGetsTheSameBytesAndAnythingElseIsRefusedWithItsReason)
{
    QTemporaryDir dir;
    QString pin;
    const QString identity = Identity(dir, "receiver", &pin);
    Receiver receiver({"--tls", "--identity", identity});
    const QString small = dir.filePath("small"), large = dir.filePath("large");
    WriteFile(small, Pattern(9999));
    WriteFile(large, Pattern(3 * 1024 * 1024 + 7));
    // The fingerprint as openssl prints it, in lower case, without colons.
    for (const QString& form : {pin, pin.toLower(), QString(pin).remove(':'), "SHA256 Fingerprint=" + pin}) {
        const Outcome r = Send(receiver, small, {"--tls", "--pin", form});
        EXPECT_EQ(r.Exit, 0) << form.toStdString() << r.Err;
    }
    EXPECT_EQ(Send(receiver, large, {"--tls", "--pin", pin}).Exit, 0);
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 5; }, 10000));
    EXPECT_EQ(ReadFile(receiver.Dir.filePath("small-3")), Pattern(9999));
    EXPECT_EQ(ReadFile(receiver.Dir.filePath("large")), Pattern(3 * 1024 * 1024 + 7));

    QString otherPin;
    Identity(dir, "other", &otherPin);
    const struct {
        QStringList Options;
        const char* Says;
    } refused[] = {
        {{"--tls", "--pin", otherPin}, "TLS Handshake Failed: certificate verify failed (not a pinned certificate: " },
        {{"--tls"}, "TLS Handshake Failed: certificate verify failed (self-signed certificate)"},
        {{}, "the receiver did not answer \"OK\": the message was not stored"}, // a plain sender
    };
    for (const auto& c : refused) {
        const Outcome r = Send(receiver, small, c.Options);
        EXPECT_EQ(r.Exit, 1) << c.Says;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    }
    EXPECT_TRUE(PumpUntil([&] { return receiver.Errors().contains("wrong version number (the peer does not speak TLS)"); }, 5000))
        << receiver.Errors().toStdString();
    // Nothing was stored of them, and the receiver goes on.
    EXPECT_EQ(Send(receiver, small, {"--tls", "--pin", pin}).Exit, 0);
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 6; }, 10000));
    EXPECT_EQ(QDir(receiver.Dir.path()).entryList(QDir::Files).size(), 6);
}

TEST(QbmsgTls, ATlsSenderAtAPlainReceiverFailsCleanlyOnBothSides)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "secret");
    Receiver receiver;
    const Outcome r = Send(receiver, dir.filePath("body"), {"--tls"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("TLS Handshake Failed: the peer closed the connection"), std::string::npos) << r.Err;
    EXPECT_TRUE(PumpUntil([&] { return receiver.Errors().contains("a TLS handshake: the sender uses TLS, this receiver does not"); }, 5000))
        << receiver.Errors().toStdString();
    EXPECT_EQ(Send(receiver, dir.filePath("body"), {}).Exit, 0);
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 1; }, 10000));
    EXPECT_EQ(QDir(receiver.Dir.path()).entryList(QDir::Files), QStringList {"body"});
}

TEST(QbmsgTls, AllowAdmitsKnownSendersOnly)
{
    QTemporaryDir dir;
    QString receiverPin, senderPin;
    const QString receiverId = Identity(dir, "receiver", &receiverPin);
    const QString senderId = Identity(dir, "sender", &senderPin);
    const QString strangerId = Identity(dir, "stranger");
    Receiver receiver({"--tls", "--identity", receiverId, "--allow", senderPin});
    WriteFile(dir.filePath("body"), "for a known receiver");
    const QStringList pinned = {"--tls", "--pin", receiverPin};
    const Outcome anonymous = Send(receiver, dir.filePath("body"), pinned);
    EXPECT_EQ(anonymous.Exit, 1);
    EXPECT_NE(anonymous.Err.find("TLS Failed: tlsv13 alert certificate required"), std::string::npos) << anonymous.Err;
    const Outcome stranger = Send(receiver, dir.filePath("body"), pinned + QStringList {"--identity", strangerId});
    EXPECT_EQ(stranger.Exit, 1);
    EXPECT_NE(stranger.Err.find("(the peer does not admit our certificate)"), std::string::npos) << stranger.Err;
    const Outcome known = Send(receiver, dir.filePath("body"), pinned + QStringList {"--identity", senderId});
    EXPECT_EQ(known.Exit, 0) << known.Err;
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 1; }, 10000));
    EXPECT_EQ(QDir(receiver.Dir.path()).entryList(QDir::Files), QStringList {"body"});
    EXPECT_TRUE(receiver.Errors().contains("not a pinned certificate")) << receiver.Errors().toStdString();
}

TEST(QbmsgTls, ACaIssuedCertificateIsCheckedAgainstTheNameAndItsDates)
{
    Certificates certs;
    QTemporaryDir dir;
    WriteFile(dir.filePath("body"), "issued");
    Receiver good({"--tls", "--identity", certs.Identity("good")});
    for (const QString host : {"localhost", "127.0.0.1"})
        EXPECT_EQ(Send(good, dir.filePath("body"), {"--tls", "--ca", certs.Ca(), "--host", host}).Exit, 0) << host.toStdString();
    Receiver other({"--tls", "--identity", certs.Identity("other")});
    Receiver expired({"--tls", "--identity", certs.Identity("expired")});
    const struct {
        Receiver* At;
        const char* Says;
    } refused[] = {
        {&other, "certificate verify failed (IP address mismatch)"},
        {&expired, "certificate verify failed (certificate has expired)"},
    };
    for (const auto& c : refused) {
        const Outcome r = Send(*c.At, dir.filePath("body"), {"--tls", "--ca", certs.Ca()});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
    }
    // A pin trusts the key, not the dates: the expired one is taken, and
    // the user is told.
    const QString expiredPin = QString::fromStdString(Qbmsg({"identity", certs.Identity("expired")}).Out).trimmed();
    const Outcome pinned = Send(expired, dir.filePath("body"), {"--tls", "--pin", expiredPin});
    EXPECT_EQ(pinned.Exit, 0) << pinned.Err;
    EXPECT_EQ(pinned.Err, "qbmsg send: note: the pinned certificate expired on 2001-01-01 (a pin trusts the key, not the certificate's dates)\n");
    // An independent client speaking the fixed form is served as qbmsg is,
    // over TLS 1.3 and 1.2; an older version is refused.
    WriteFile(dir.filePath("message"), "0002sc  12hand-made!!\n");
    for (const char* version : {"-tls1_3", "-tls1_2", "-tls1_1"}) {
        QProcess client;
        client.setStandardInputFile(dir.filePath("message"));
        client.start("openssl", {"s_client", version, "-quiet", "-verify_return_error", "-CAfile", certs.Ca(), "-connect",
                                 "127.0.0.1:" + QString::number(good.Port)});
        ASSERT_TRUE(Finished(client));
        EXPECT_EQ(client.readAllStandardOutput().toStdString(), std::string(version) == "-tls1_1" ? "" : kOk) << version;
    }
    ASSERT_TRUE(PumpUntil([&] { return good.Lines().size() == 4; }, 10000));
    EXPECT_EQ(ReadFile(good.Dir.filePath("message-1.bin")), "hand-made!!\n"); // no name: the counter's
    EXPECT_TRUE(PumpUntil([&] { return good.Errors().contains("the peer speaks no TLS version from 1.2 on"); }, 5000))
        << good.Errors().toStdString();
}

TEST(QbmsgTls, AClientThatNeverCompletesItsHandshakeDoesNotHoldTheReceiver)
{
    QTemporaryDir dir;
    QString pin;
    Receiver receiver({"--tls", "--identity", Identity(dir, "receiver", &pin), "--timeout", "800"});
    WriteFile(dir.filePath("body"), "after the silent one");
    const int silent = ConnectTo(receiver.Port);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Send(receiver, dir.filePath("body"), {"--tls", "--pin", pin}).Exit, 0);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(PeerClosed(silent, 1000));
    CloseFd(silent);
    EXPECT_TRUE(PumpUntil([&] { return receiver.Errors().contains("TLS Handshake Timed Out"); }, 5000)) << receiver.Errors().toStdString();
}

TEST(QbmsgIdentity, MakesAPrivateIdentityOnceAndKeepsIt)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("me");
    const Outcome first = Qbmsg({"identity", folder});
    ASSERT_EQ(first.Exit, 0) << first.Err;
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                                                            QFile::WriteUser | QFile::ExeUser);
    EXPECT_EQ(QFileInfo(folder + "/key.pem").permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QProcess x509;
    x509.start("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", folder + "/cert.pem"});
    ASSERT_TRUE(Finished(x509));
    EXPECT_EQ("sha256 Fingerprint=" + first.Out, x509.readAllStandardOutput().toStdString());
    EXPECT_EQ(Qbmsg({"identity", folder}).Out, first.Out);
    // What others could read or replace is refused, as ssh refuses an
    // unprotected key; put right, the identity is used again.
    const std::string key = (folder + "/key.pem").toStdString(), top = folder.toStdString();
    const struct {
        std::function<void()> Spoil, Mend;
        std::string Says;
        bool AsRoot = false; // only root can give a file away
    } unsafe[] = {
        {[&] { ::chmod(key.c_str(), 0644); }, [&] { ::chmod(key.c_str(), 0600); },
         "Cannot use identity file " + key + ": others can read it (mode 0644); it must be its owner's alone: chmod 600 " + key},
        {[&] { ::chmod(top.c_str(), 0777); }, [&] { ::chmod(top.c_str(), 0700); },
         "Cannot use identity folder " + top + ": others can write it (mode 0777): chmod go-w " + top},
        {[&] { ::chown(key.c_str(), 65534, 65534); }, [&] { ::chown(key.c_str(), ::geteuid(), ::getegid()); },
         "Cannot use identity file " + key + ": it belongs to another user (uid 65534)", true},
        {[&] { ::rename(key.c_str(), (key + ".real").c_str()); ::symlink((key + ".real").c_str(), key.c_str()); },
         [&] { ::rename((key + ".real").c_str(), key.c_str()); },
         "Cannot use identity file " + key + ": it is a symbolic link (the key must be a file of the folder itself)"},
    };
    for (const auto& c : unsafe) {
        if (c.AsRoot && ::geteuid() != 0)
            continue;
        c.Spoil();
        const Outcome refused = Qbmsg({"identity", folder});
        EXPECT_EQ(refused.Exit, 1);
        EXPECT_EQ(refused.Err, "qbmsg identity: " + c.Says + "\n");
        c.Mend();
        EXPECT_EQ(Qbmsg({"identity", folder}).Out, first.Out);
    }
    QFile::remove(folder + "/key.pem");
    const Outcome half = Qbmsg({"identity", folder});
    EXPECT_EQ(half.Exit, 1);
    EXPECT_NE(half.Err.find("an identity needs both cert.pem and key.pem"), std::string::npos) << half.Err;
    // Options that need --tls, and fingerprints that are none, are usage errors.
    for (const QStringList& wrong : {QStringList {"send", "--pin", "AB", "x"}, QStringList {"send", "--tls", "--pin", "AB:CD", "x"},
                                     QStringList {"receive", "--allow", QString(64, 'a')}, QStringList {"receive", "--tls"}})
        EXPECT_EQ(Qbmsg(wrong).Exit, 2) << wrong.join(' ').toStdString();
}

TEST(QbmsgTls, TheMessageInsideTlsIsByteForByteTheOneWithout)
{
    QTemporaryDir dir;
    QString pin;
    const QString identity = Identity(dir, "peer", &pin);
    WriteFile(dir.filePath("body"), "hello");
    // socat as the TLS receiver: it keeps the 23 bytes of the fixed form and
    // answers as a receiver does.
    const std::uint16_t port = FreePort();
    QProcess peer;
    peer.start("socat", {QString("OPENSSL-LISTEN:%1,reuseaddr,verify=0,cert=%2/cert.pem,key=%2/key.pem").arg(port).arg(identity),
                         "SYSTEM:head -c 23 > '" + dir.filePath("wire") + "'; printf 'OK%14s' ''"});
    ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
    const Outcome r = Qbmsg({"send", "--no-name", "--tls", "--pin", pin, "--port", QString::number(port), "--timeout", "5000", dir.filePath("body")});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, kOk + "\n");
    ASSERT_TRUE(Finished(peer));
    EXPECT_EQ(ReadFile(dir.filePath("wire")), "0010Quillbrook   5hello");
}
