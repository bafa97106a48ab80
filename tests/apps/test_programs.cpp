// The real programs, started as processes (offscreen).
#include "qbmsg.h"

#include "apps_support.h"
#include "peers.h"
#include "recorder.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <fstream>

namespace {

std::string ReadFile(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Listening6711()
{
    const int fd = ConnectTo(6711);
    CloseFd(fd);
    return fd >= 0;
}

// Posts `body` to port 6711 and returns the reply.
std::string Post(const std::string& body)
{
    TQBStrm sender(nullptr);
    sender.Host = "127.0.0.1";
    sender.FromName = "Quillbrook";
    sender.TimeOut = 10000;
    TMemoryStream s;
    s.WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
    return sender.PostIt(s);
}

struct RunningProgram {
    RunningProgram(const QString& program, const QString& folder)
    {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        Process.setProcessEnvironment(env);
        Process.setWorkingDirectory(folder);
        Process.start(program, {});
    }
    ~RunningProgram()
    {
        Process.kill();
        Process.waitForFinished(5000);
    }
    QProcess Process;
};

} // namespace

TEST(TakewellProgram, ReceivesAPictureIntoItsFolderAndKeepsListening)
{
    InTemporaryFolder here;
    RunningProgram takewell(TAKEWELL, here.Dir.path());
    ASSERT_TRUE(PumpUntil(Listening6711, 15000));

    // The reply goes out before the program writes the file: wait for it.
    const auto holds = [&](const std::string& body) {
        return PumpUntil([&] { return ReadFile(here.Path("temp.bmp")) == body; }, 10000);
    };
    const std::string first = BmpBytes({40, 30}, Qt::red, QImage::Format_Indexed8);
    EXPECT_EQ(Post(first), "OK              ");
    EXPECT_TRUE(holds(first));

    // A body that is no picture is answered, reported in the program, and the
    // next message is served all the same.
    EXPECT_EQ(Post("not a picture"), "OK              ");
    const std::string second = BmpBytes({10, 10}, Qt::blue);
    EXPECT_EQ(Post(second), "OK              ");
    EXPECT_TRUE(holds(second));
    EXPECT_EQ(takewell.Process.state(), QProcess::Running);
}
