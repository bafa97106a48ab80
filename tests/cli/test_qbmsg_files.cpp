// Files as people send them: names kept inside the receiver's folder,
// several files and folder trees, and a cut-off send resumed.
#include "qbmsg_support.h"

#include <ferrolink/largeform.h>
#include <ferrolink/qbstrm.h>

#include <gmock/gmock.h>

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Every file under `folder`, hidden ones too, by relative path.
QStringList FilesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

QStringList KeptParts(const Receiver& receiver)
{
    return QDir(receiver.Dir.filePath(".qbmsg-partial")).entryList(QDir::Files | QDir::Hidden);
}

// One pass of `file` through a proxy that closes both ends after `cutAt`
// bytes of the sender's: the bytes it forwarded, and how qbmsg send ended.
std::pair<std::size_t, Outcome> SendThroughCut(const Receiver& receiver, const QString& file, std::size_t cutAt)
{
    TcpListener front;
    auto proxy = ProxyAsync(front, receiver.Port, SIZE_MAX, cutAt);
    const Outcome r = Qbmsg({"send", "-p", QString::number(front.Port()), "-t", "10000", file});
    return {proxy.get(), r};
}

// The most bytes a process holds in one of its open regular files: what
// has arrived of a body that a receiver writes to a nameless file.
std::int64_t LargestOpenFile(qint64 pid)
{
    std::int64_t largest = 0;
    const QString fds = QString("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System)) {
        struct stat info {};
        if (::stat((fds + "/" + fd).toLocal8Bit().constData(), &info) == 0 && S_ISREG(info.st_mode))
            largest = std::max<std::int64_t>(largest, info.st_size);
    }
    return largest;
}

} // namespace

// A name a sender gives is stored inside the folder, whatever it says: no
// way out, no link followed, nothing replaced, no control character kept.
TEST(QbmsgFiles, ANameIsKeptAndNeverLeadsOutOfTheFolder)
{
    QTemporaryDir outside;
    Receiver receiver;
    WriteFile(receiver.Dir.filePath("taken"), "a file of the receiver's");
    ASSERT_TRUE(QFile::link(outside.path(), receiver.Dir.filePath("linked")));
    const struct {
        std::string Sent;
        QString Stored;
    } names[] = {
        {"report.txt", "report.txt"},
        {"report.txt", "report-1.txt"},
        {"photos/2024/a.jpg", "photos/2024/a.jpg"},
        {"../x", "x"},
        {"/etc/passwd", "etc/passwd"},
        {"a\x01" "b\nc.txt", "a_b_c.txt"},
        {"linked/x", "linked-1/x"},
        {"taken/x", "taken-1/x"},
        {".qbmsg-partial/x", "_.qbmsg-partial/x"}, // the folder of kept parts is not theirs
        {"../..", "message-1.bin"},
    };
    int n = 0;
    for (const auto& c : names) {
        TQBStrm sender(nullptr);
        sender.Host = "127.0.0.1";
        sender.Port = receiver.Port;
        sender.TimeOut = 10000;
        sender.FileName = c.Sent;
        const std::string body = "body " + std::to_string(++n);
        TMemoryStream stream = StreamOf(body);
        EXPECT_EQ(sender.PostIt(stream), kOk) << c.Sent;
        ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == n; }, 10000)) << c.Sent;
        EXPECT_TRUE(receiver.Lines().back().endsWith(" " + receiver.Dir.filePath(c.Stored))) << receiver.Lines().back().toStdString();
        EXPECT_EQ(ReadFile(receiver.Dir.filePath(c.Stored)), body) << c.Sent;
    }
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    EXPECT_EQ(ReadFile(receiver.Dir.filePath("taken")), "a file of the receiver's");
    EXPECT_EQ(FilesUnder(receiver.Dir.path()).size(), std::size(names) + 1); // and "taken": no temporary file left
}

// Files and a folder tree go in one command and arrive byte for byte, their
// paths kept; what cannot be sent is told with its cause, and the rest goes.
TEST(QbmsgFiles, FilesAndFolderTreesArriveWholeAndOneThatFailsStopsNoOther)
{
    QTemporaryDir src;
    QDir(src.path()).mkpath("photos/2024");
    QDir(src.path()).mkpath("photos/deep/x/y");
    WriteFile(src.filePath("notes.txt"), "notes");
    WriteFile(src.filePath("photos/a.txt"), "a");
    WriteFile(src.filePath("photos/2024/b.bin"), Pattern(300 * 1024));
    WriteFile(src.filePath("photos/2024/empty"), "");
    WriteFile(src.filePath("photos/deep/x/y/z.txt"), Pattern(9999));
    ASSERT_EQ(::mkfifo(src.filePath("photos/pipe").toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(src.filePath("photos/2024"), src.filePath("photos/link-to-folder")));
    Receiver receiver;
    const QString missing = src.filePath("missing.txt");
    const Outcome r = Qbmsg({"send", "-p", QString::number(receiver.Port), src.filePath("notes.txt"), missing, src.filePath("photos") + "/"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Out, "OK notes.txt\nOK photos/2024/b.bin\nOK photos/2024/empty\nOK photos/a.txt\nOK photos/deep/x/y/z.txt\n");
    EXPECT_THAT(r.Err, HasSubstr("qbmsg send: missing.txt: Cannot open file " + missing.toStdString() + ": No such file or directory\n"));
    EXPECT_THAT(r.Err, HasSubstr(src.filePath("photos/pipe").toStdString() + ": not a file (a device, pipe or socket)\n"));
    EXPECT_THAT(r.Err, HasSubstr(src.filePath("photos/link-to-folder").toStdString() + ": not a file (a link to a folder, or broken)\n"));
    ASSERT_TRUE(PumpUntil([&] { return receiver.Lines().size() == 5; }, 10000));
    const QStringList sent = {"notes.txt", "photos/2024/b.bin", "photos/2024/empty", "photos/a.txt", "photos/deep/x/y/z.txt"};
    EXPECT_EQ(FilesUnder(receiver.Dir.path()), sent);
    for (const QString& file : sent)
        EXPECT_TRUE(ReadFile(receiver.Dir.filePath(file)) == ReadFile(src.filePath(file))) << file.toStdString();
}

// A receiver of today's forms (written from the protocol's document as it
// stood, not from our code) still stores every body, under its own names;
// the sender says that names were not kept and tries names no more.
TEST(QbmsgFiles, AReceiverOfTodaysFormsStoresTheBodiesUnderItsOwnNames)
{
    QTemporaryDir dir;
    const std::string small = Pattern(100), large = Pattern(300000);
    WriteFile(dir.filePath("small"), small);
    WriteFile(dir.filePath("large"), large);
    for (const bool fixedOnly : {false, true}) {
        QTemporaryDir out;
        const std::uint16_t port = FreePort();
        QProcess peer;
        // Named, then in the form it knows: one connection more, once.
        peer.start("python3", {OLD_RECEIVER, QString::number(port), out.path(), fixedOnly ? "2" : "3", fixedOnly ? "--fixed-only" : ""});
        ASSERT_TRUE(PumpUntil([&] { return ListensOn(port); }, 10000));
        const QStringList files = fixedOnly ? QStringList {dir.filePath("small")} : QStringList {dir.filePath("small"), dir.filePath("large")};
        const Outcome r = Qbmsg(QStringList {"send", "-p", QString::number(port), "-t", "10000"} + files);
        EXPECT_EQ(r.Exit, 0) << r.Err;
        EXPECT_EQ(r.Err, "qbmsg send: note: the receiver does not know file names; it stores what it is sent under names of its own\n");
        ASSERT_TRUE(Finished(peer));
        EXPECT_EQ(peer.readAllStandardError().toStdString(), "");
        EXPECT_EQ(ReadFile(out.filePath("message-1.bin")), small);
        if (!fixedOnly) {
            EXPECT_TRUE(ReadFile(out.filePath("message-2.bin")) == large);
            qbmsg::TBodyCheck check;
            check.Add(large.data(), large.size());
            EXPECT_EQ(ReadFile(out.filePath("message-2.check")), std::string(check.Value().data(), qbmsg::kCheckSize));
        }
    }
}

// A send cut off by the network goes on from what the receiver kept: the
// second pass moves only the rest. A file whose beginning changed meanwhile
// goes whole, and the stored file is the new one.
TEST(QbmsgResume, ACutOffSendGoesOnFromWhatTheReceiverKept)
{
    constexpr std::size_t kSize = 8 * kMiB, kCut = 3 * kMiB;
    Receiver receiver;
    QTemporaryDir dir;
    const QString file = dir.filePath("report.bin");
    std::string bytes = Pattern(kSize);
    WriteFile(file, bytes);
    EXPECT_EQ(SendThroughCut(receiver, file, kCut).second.Exit, 1);
    ASSERT_TRUE(PumpUntil([&] { return KeptParts(receiver).size() == 1; }, 10000)) << receiver.Errors().toStdString();
    EXPECT_TRUE(PumpUntil([&] { return receiver.Errors().contains(QRegularExpression("note: kept [0-9]+ of 8388608 bytes of report.bin for its sender to resume")); }, 5000))
        << receiver.Errors().toStdString();
    const auto [moved, resumed] = SendThroughCut(receiver, file, SIZE_MAX);
    EXPECT_EQ(resumed.Exit, 0) << resumed.Err;
    EXPECT_THAT(resumed.Err, HasSubstr("note: report.bin resumed at "));
    EXPECT_GE(moved, kSize - kCut);
    EXPECT_LT(moved, kSize - kCut + 64 * 1024); // the header, the offer's answer and what the cut lost in flight
    EXPECT_TRUE(ReadFile(receiver.Dir.filePath("report.bin")) == bytes);
    EXPECT_TRUE(KeptParts(receiver).isEmpty());

    EXPECT_EQ(SendThroughCut(receiver, file, kCut).second.Exit, 1);
    ASSERT_TRUE(PumpUntil([&] { return KeptParts(receiver).size() == 1; }, 10000));
    bytes[10] = static_cast<char>(~bytes[10]);
    WriteFile(file, bytes);
    const auto [whole, changed] = SendThroughCut(receiver, file, SIZE_MAX);
    EXPECT_EQ(changed.Exit, 0) << changed.Err;
    EXPECT_THAT(changed.Err, Not(HasSubstr("resumed")));
    EXPECT_GE(whole, kSize);
    EXPECT_TRUE(ReadFile(receiver.Dir.filePath("report-1.bin")) == bytes);
    EXPECT_TRUE(KeptParts(receiver).isEmpty());
}

// A sender interrupted (Ctrl-C) or killed half way: the same command again
// resumes. Ctrl-C says where it stopped, and exits 130.
TEST(QbmsgResume, AnInterruptedOrKilledSenderResumesAndAnInterruptSaysWhere)
{
    constexpr std::size_t kSize = 8 * kMiB;
    for (const int signal : {SIGINT, SIGKILL}) {
        Receiver receiver;
        QTemporaryDir dir;
        const QString file = dir.filePath("video.bin");
        const std::string bytes = Pattern(kSize);
        WriteFile(file, bytes);
        TcpListener front;
        auto proxy = ProxyAsync(front, receiver.Port, SIZE_MAX, 2 * kMiB, 0, 1000); // the network stalls at 2 MiB
        QProcess sender;
        sender.start(QBMSG, {"send", "-p", QString::number(front.Port()), file});
        // Stopped once the receiver holds most of what the network let through.
        ASSERT_TRUE(PumpUntil([&] { return LargestOpenFile(receiver.Pid()) >= static_cast<std::int64_t>(3 * kMiB / 2); }, 15000));
        ::kill(static_cast<pid_t>(sender.processId()), signal);
        ASSERT_TRUE(Finished(sender));
        const std::string said = sender.readAllStandardError().toStdString();
        if (signal == SIGINT) {
            EXPECT_EQ(sender.exitCode(), 130);
            ASSERT_THAT(said, MatchesRegex("qbmsg send: interrupted at [0-9]+ % \\([0-9]+ of 8388608 bytes sent\\); the same command again resumes it\n"));
        } else {
            EXPECT_EQ(sender.exitStatus(), QProcess::CrashExit);
        }
        // What was in flight follows a killed sender's close; an interrupted
        // one closes in order, so everything it handed over went too, up to
        // where the network stalled.
        const std::size_t forwarded = proxy.get();
        if (signal == SIGKILL) { // a sender slow to start may not have reached the stall
            EXPECT_TRUE(forwarded >= 3 * kMiB / 2 && forwarded < kSize) << forwarded;
        } else {
            const std::size_t handedOver = std::stoull(said.substr(said.find('(') + 1));
            EXPECT_LE(forwarded, 2 * kMiB);
            EXPECT_GE(forwarded, std::min(handedOver, 2 * kMiB)) << said;
        }
        ASSERT_TRUE(PumpUntil([&] { return KeptParts(receiver).size() == 1; }, 10000)) << receiver.Errors().toStdString();
        const Outcome again = Qbmsg({"send", "-p", QString::number(receiver.Port), file});
        EXPECT_EQ(again.Exit, 0) << again.Err;
        EXPECT_THAT(again.Err, HasSubstr("note: video.bin resumed at "));
        EXPECT_TRUE(ReadFile(receiver.Dir.filePath("video.bin")) == bytes);
        EXPECT_TRUE(KeptParts(receiver).isEmpty());
    }
}

// What a receiver keeps is bounded: a part older than a day is dropped, not
// offered, and the parts never hold more than --max-size in all (the oldest
// go first).
TEST(QbmsgResume, KeptPartsAreBoundedInAgeAndInTotal)
{
    Receiver receiver({"--max-size", "9M"});
    QTemporaryDir dir;
    const QString first = dir.filePath("first.bin"), second = dir.filePath("second.bin");
    WriteFile(first, Pattern(8 * kMiB));
    WriteFile(second, Pattern(8 * kMiB - 1));
    EXPECT_EQ(SendThroughCut(receiver, first, 5 * kMiB).second.Exit, 1);
    ASSERT_TRUE(PumpUntil([&] { return KeptParts(receiver).size() == 1; }, 10000));
    const QString older = receiver.Dir.filePath(".qbmsg-partial/" + KeptParts(receiver).front());
    ASSERT_EQ(QProcess::execute("touch", {"-d", "-1 hour", older}), 0);
    EXPECT_EQ(SendThroughCut(receiver, second, 5 * kMiB).second.Exit, 1);
    ASSERT_TRUE(PumpUntil([&] { return receiver.Errors().count("note: kept") == 2; }, 10000)) << receiver.Errors().toStdString();
    EXPECT_EQ(KeptParts(receiver).size(), 1); // 10 MiB in all: the older went
    EXPECT_FALSE(QFile::exists(older));

    const QString newer = receiver.Dir.filePath(".qbmsg-partial/" + KeptParts(receiver).front());
    ASSERT_EQ(QProcess::execute("touch", {"-d", "-25 hours", newer}), 0);
    const Outcome late = Qbmsg({"send", "-p", QString::number(receiver.Port), second});
    EXPECT_EQ(late.Exit, 0) << late.Err;
    EXPECT_THAT(late.Err, Not(HasSubstr("resumed")));
    EXPECT_TRUE(ReadFile(receiver.Dir.filePath("second.bin")) == Pattern(8 * kMiB - 1));
    EXPECT_TRUE(KeptParts(receiver).isEmpty());
}

// A folder of the tree that is another file system (a disk mounted there)
// takes no link from the receiver's folder: the body is copied into it.
TEST(QbmsgFiles, AFolderThatIsAnotherFileSystemTakesItsFilesByCopy)
{
    const QString mountInside = R"(for a; do [ "$prev" = --out ] && out=$a; prev=$a; done
        mkdir "$out/mounted" && mount -t tmpfs none "$out/mounted" && exec "$0" "$@")";
    Receiver receiver({}, {"unshare", "-m", "--propagation", "private", "sh", "-c", mountInside});
    QTemporaryDir dir;
    const std::string large = Pattern(300000);
    WriteFile(dir.filePath("large"), large);
    WriteFile(dir.filePath("small"), "small");
    for (const char* name : {"large", "small"}) {
        TQBStrm sender(nullptr);
        sender.Host = "127.0.0.1";
        sender.Port = receiver.Port;
        sender.TimeOut = 10000;
        sender.FileName = std::string("mounted/") + name;
        TFileStream file(dir.filePath(name).toStdString(), fmOpenRead);
        EXPECT_EQ(sender.PostIt(file), kOk) << name << receiver.Errors().toStdString();
    }
    const QString seen = QString("/proc/%1/root%2/mounted/").arg(receiver.Pid()).arg(receiver.Dir.path());
    EXPECT_TRUE(ReadFile(seen + "large") == large);
    EXPECT_EQ(ReadFile(seen + "small"), "small");
    EXPECT_EQ(FilesUnder(seen), (QStringList {"large", "small"})); // no temporary file left
}
