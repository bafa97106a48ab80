#include "sendwellmain.h"
#include "splash.h"
#include "startup.h"

#include "apps_support.h"
#include "peers.h"
#include "recorder.h"

#include "qt_helpers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QKeyEvent>

#include <QAction>
#include <QCloseEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <fstream>

using namespace ferro;

using sendwell::TForm1;

namespace {

// A plain receiver of one stream message on port 6711, on its own thread:
// reads it by its length fields, answers "OK" and 14 blanks, returns it.
std::future<std::string> ReceiveOneAsync(TcpListener& listener, bool answer = true)
{
    return std::async(std::launch::async, [&listener, answer] {
        const int fd = listener.Accept(10000);
        if (fd < 0)
            return std::string("no connection");
        std::string got = RecvSome(fd, 4, 5000);
        got += RecvSome(fd, static_cast<std::size_t>(std::atoi(got.c_str())), 5000);
        const std::string bodyLength = RecvSome(fd, 4, 5000);
        got += bodyLength + RecvSome(fd, static_cast<std::size_t>(std::atoi(bodyLength.c_str())), 5000);
        if (answer)
            SendAll(fd, "OK              ");
        else
            PeerClosed(fd, 10000);
        CloseFd(fd);
        return got;
    });
}

bool Ready(std::future<std::string>& f)
{
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// A window with recorded boxes, the error display installed and a fresh
// current folder; puts everything back afterwards.
struct SenderFixture : ::testing::Test {
    SenderFixture() : Use(Boxes)
    {
        sendwell::SelectedFileName.clear();
        InstallErrorDisplay();
    }
    ~SenderFixture() override { InstallExceptionRecorder(); }

    // The texts of the boxes of one kind shown so far.
    std::vector<std::string> TextsOf(const std::string& kind) const
    {
        std::vector<std::string> texts;
        for (const auto& b : Boxes.Boxes)
            if (b.Kind == kind)
                texts.push_back(b.Text);
        return texts;
    }
    std::vector<std::string> Errors() const { return TextsOf("error"); }
    std::vector<std::string> Messages() const { return TextsOf("message"); }

    InTemporaryFolder Here;
    RecordedBoxes Boxes;
    TModalBoxesOverride Use;
    TForm1 Form;
};

} // namespace

TEST_F(SenderFixture, IsLaidOutAsDesigned)
{
    EXPECT_EQ(Form.windowTitle(), "'Msg Server Demo'");
    EXPECT_EQ(Form.pos(), QPoint(189, 55));
    EXPECT_EQ(Form.width(), 345);
    Form.show();
    EXPECT_EQ(Form.Panel1->geometry(), QRect(0, 0, 345, 185));
    EXPECT_EQ(Form.Image1->geometry(), QRect(4, 4, 337, 177));
    EXPECT_EQ(Form.Panel2->geometry(), QRect(0, 185, 345, 41));
    EXPECT_EQ(Form.Panel3->geometry(), QRect(0, 226, 345, 118));
    EXPECT_EQ(Form.Panel1->Caption(), "Panel1");
    EXPECT_EQ(Form.Panel2->Caption(), "Panel2");
    EXPECT_EQ(Form.Panel3->Caption(), "Panel3");
    EXPECT_EQ(Form.Select->text(), "Select BMP File");
    EXPECT_EQ(Form.Select->geometry(), QRect(44, 8, 105, 25));
    EXPECT_EQ(Form.BitBtn1->text(), "Send Message");
    EXPECT_EQ(Form.BitBtn1->geometry(), QRect(203, 8, 129, 25));
    EXPECT_TRUE(Form.BitBtn1->icon().isNull());
    EXPECT_EQ(Form.Label2->text(), "URL to send to:");
    EXPECT_EQ(Form.Label2->pos(), QPoint(11, 12));
    EXPECT_GE(Form.Label2->width(), Form.Label2->fontMetrics().horizontalAdvance("URL to send to:"));
    EXPECT_EQ(Form.Edit1->text(), "127.0.0.1");
    EXPECT_EQ(Form.Edit1->geometry(), QRect(11, 32, 305, 21));
    EXPECT_EQ(Form.font().pixelSize(), 11);
    EXPECT_EQ(Form.QBStrm1->Port, 6711);
    EXPECT_EQ(Form.QBStrm1->FromName, "Quillbrook");
    EXPECT_EQ(Form.QBStrm1->TimeOut, 0);
}

TEST_F(SenderFixture, PanelsFollowTheWidthAndThelastTakesTheHeight)
{
    Form.show();
    Form.resize(500, Form.height() + 100);
    EXPECT_EQ(Form.Panel1->geometry(), QRect(0, 0, 500, 185));
    EXPECT_EQ(Form.Image1->geometry(), QRect(4, 4, 492, 177));
    EXPECT_EQ(Form.Panel2->geometry(), QRect(0, 185, 500, 41));
    EXPECT_EQ(Form.Panel3->geometry(), QRect(0, 226, 500, 218));
    EXPECT_EQ(Form.BitBtn1->geometry(), QRect(203, 8, 129, 25));
}

TEST_F(SenderFixture, FocusMovesFromSendToSelectToTheEditBox)
{
    const auto nextTabStop = [](QWidget* w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    EXPECT_EQ(nextTabStop(Form.BitBtn1), Form.Select);
    EXPECT_EQ(nextTabStop(Form.Select), Form.Edit1);
}

TEST_F(SenderFixture, TheMenuBarHoldsFileWithExitThenAboutAndHelpOnF1)
{
    const QList<QAction*> bar = Form.menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), "&File");
    ASSERT_NE(bar[0]->menu(), nullptr);
    ASSERT_EQ(bar[0]->menu()->actions().size(), 1);
    EXPECT_EQ(bar[0]->menu()->actions()[0]->text(), "E&xit");
    EXPECT_EQ(bar[1]->text(), "&About");
    EXPECT_EQ(bar[1]->menu(), nullptr); // a command on the bar itself
    EXPECT_EQ(bar[2]->text(), "&Help");
    EXPECT_EQ(bar[2]->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(Form.actions().contains(Form.Help1)); // F1 anywhere in the window
}

TEST_F(SenderFixture, SelectingAFileShowsItAndRemembersIt)
{
    QDir().mkdir("pictures");
    const QString file = Here.Path("pictures/one.bmp");
    WriteFile(file, BmpBytes({30, 20}, Qt::red));
    Boxes.Choice = file;
    Form.Select->click();
    EXPECT_EQ(sendwell::SelectedFileName, file.toStdString());
    EXPECT_EQ(Form.Image1->Picture().size(), QSize(30, 20));
    EXPECT_EQ(QDir::currentPath(), Here.Path("pictures")); // the chosen file's folder
    EXPECT_EQ(Boxes.Boxes.front().Title, "Bitmap");
    EXPECT_EQ(Boxes.Boxes.front().Text, "*.bmp");

    Boxes.Choice.clear(); // cancelled: nothing changes, and the last name was offered
    Form.Select->click();
    EXPECT_EQ(Boxes.Offered.back(), file);
    EXPECT_EQ(sendwell::SelectedFileName, file.toStdString());
    EXPECT_EQ(Form.Image1->Picture().size(), QSize(30, 20));
}

TEST_F(SenderFixture, SendingWithoutAFileAndACancelledDialogSaysSo)
{
    TcpListener receiver(8, 6711);
    Form.BitBtn1->click();
    EXPECT_EQ(Messages(), std::vector<std::string> {"Bitmap not Selected"});
    EXPECT_EQ(receiver.Accept(200), -1); // nothing sent
}

TEST_F(SenderFixture, SendingWithoutAFileOpensTheDialogAndSendsTheChoice)
{
    TcpListener receiver(8, 6711);
    const std::string bytes = BmpBytes({10, 10}, Qt::green);
    WriteFile(Here.Path("pic.bmp"), bytes);
    Boxes.Choice = Here.Path("pic.bmp");
    auto got = ReceiveOneAsync(receiver);
    Form.BitBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return Ready(got); }));
    EXPECT_EQ(got.get(), "0010Quillbrook" + qbmsg::EncodeBodyLength(static_cast<std::int64_t>(bytes.size())) + bytes);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(SenderFixture, EachPressSendsTheFileAsItIsOnDiskNow)
{
    TcpListener receiver(8, 6711);
    WriteFile(Here.Path("pic.bmp"), BmpBytes({10, 10}, Qt::green));
    Boxes.Choice = Here.Path("pic.bmp");
    Form.Select->click();
    auto first = ReceiveOneAsync(receiver);
    Form.BitBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return Ready(first); }));
    const std::string changed = BmpBytes({5, 7}, Qt::blue);
    WriteFile(Here.Path("pic.bmp"), changed);
    auto second = ReceiveOneAsync(receiver);
    Form.BitBtn1->click();
    ASSERT_TRUE(PumpUntil([&] { return Ready(second); }));
    EXPECT_EQ(second.get().substr(18), changed);
    EXPECT_EQ(Form.Image1->Picture().size(), QSize(5, 7));
}

TEST_F(SenderFixture, ADeletedFileIsReportedAndNothingIsSent)
{
    TcpListener receiver(8, 6711);
    const QString file = Here.Path("gone.bmp");
    WriteFile(file, BmpBytes({10, 10}, Qt::green));
    Boxes.Choice = file;
    Form.Select->click();
    QFile::remove(file);
    Form.BitBtn1->click();
    EXPECT_EQ(Errors(), std::vector<std::string> {"Cannot open file " + file.toStdString() + "."});
    EXPECT_EQ(receiver.Accept(200), -1);
}

TEST_F(SenderFixture, AFileThatIsNoPictureTypeIsReported)
{
    WriteFile(Here.Path("notes.txt"), "hello");
    Boxes.Choice = Here.Path("notes.txt");
    Form.Select->click();
    EXPECT_EQ(Errors(), std::vector<std::string> {"Unknown picture file extension (.txt)"}); // ends in ")"... below "."? no: ")" sorts before "."
    EXPECT_EQ(sendwell::SelectedFileName, Here.Path("notes.txt").toStdString()); // set before the load
}

TEST_F(SenderFixture, AHostThatRefusesIsReportedWithAFullStop)
{
    WriteFile(Here.Path("pic.bmp"), BmpBytes({10, 10}, Qt::green));
    Boxes.Choice = Here.Path("pic.bmp");
    Form.Select->click();
    Form.Edit1->setText("127.0.0.1");
    Form.QBStrm1->Port = 1; // the window puts 6711 back before sending
    Form.BitBtn1->click();  // nothing listens on 6711 here
    EXPECT_EQ(Errors(), std::vector<std::string> {"Connection Failed."});
    EXPECT_EQ(Form.QBStrm1->Port, 6711);
}

TEST_F(SenderFixture, TheHostTextIsCutAt255Characters)
{
    WriteFile(Here.Path("pic.bmp"), BmpBytes({10, 10}, Qt::green));
    Boxes.Choice = Here.Path("pic.bmp");
    Form.Select->click();
    Form.Edit1->setText(QString(300, 'h'));
    Form.BitBtn1->click(); // no host name is that long: refused before any lookup
    EXPECT_EQ(Form.QBStrm1->Host, std::string(255, 'h'));
    EXPECT_EQ(Errors(), std::vector<std::string> {"Invalid Host Name (255 characters, at most 253)"});
}

// A picture the receiver will not take is said so in plain words, before
// any of it is sent; the progress bar goes again.
TEST_F(SenderFixture, APictureTheReceiverRefusesBySizeIsSaidInPlainWords)
{
    QImage big(100, 100, QImage::Format_RGB888); // 30 054 bytes: the large form
    big.fill(Qt::gray);
    big.save(Here.Path("big.bmp"), "BMP");
    Boxes.Choice = Here.Path("big.bmp");
    Form.Select->click();
    struct Case {
        std::string Answer; // to the header; none: a receiver of the fixed form closes
        std::string Told;
    };
    const Case cases[] = {
        {"", "The receiver takes only pictures of up to 9999 bytes; this one has 30054 bytes."},
        {qbmsg::EncodeTooLarge(20000), "This picture is too large for the receiver: it has 30054 bytes, and the receiver takes at most 20000 bytes."},
    };
    for (const Case& c : cases) {
        TcpListener receiver(8, 6711);
        auto peer = std::async(std::launch::async, [&] {
            const int fd = receiver.Accept(10000);
            const std::string header = RecvSome(fd, 24, 10000); // "QBIG", 1, 10, "Quillbrook", the length
            SendAll(fd, c.Answer);
            const std::string more = RecvSome(fd, 1, 300);
            CloseFd(fd);
            return header.substr(0, 4) + more;
        });
        Boxes.Boxes.clear();
        Form.BitBtn1->click();
        EXPECT_EQ(Errors(), std::vector<std::string> {c.Told});
        EXPECT_EQ(peer.get(), "QBIG"); // nothing of the picture came
        EXPECT_FALSE(Form.Progress->isVisible());
    }
}

TEST_F(SenderFixture, ExitWarnsThenCloses)
{
    Form.show();
    Form.Exit1->trigger();
    EXPECT_EQ(Messages(), std::vector<std::string> {"Please be sure to close down the MSG Client also!"});
    EXPECT_FALSE(Form.isVisible());
}

// The keyboard as users of the designed desktop expect it: Return clicks the
// focused button, and in the open File menu Alt+X chooses Exit as X does.
TEST_F(SenderFixture, ReturnClicksTheFocusedButtonAndAltXInTheFileMenuExits)
{
    Form.show();
    for (QPushButton* button : {Form.Select, Form.BitBtn1}) {
        Boxes.Boxes.clear();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(button, &enter);
        EXPECT_EQ(TextsOf("open").size(), 1u) << button->text().toStdString(); // both ask for a file first
    }
    Boxes.Boxes.clear();
    QMenu* file = Form.File1->menu();
    file->popup(Form.mapToGlobal(QPoint(0, 0)));
    QKeyEvent alt(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QCoreApplication::sendEvent(file, &alt);
    EXPECT_TRUE(file->isVisible()); // Alt alone keeps it open
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::AltModifier, "x");
    QCoreApplication::sendEvent(file, &x);
    EXPECT_TRUE(PumpUntil([&] { return !Form.isVisible(); }, 2000));
    EXPECT_EQ(Messages(), std::vector<std::string> {"Please be sure to close down the MSG Client also!"});
    EXPECT_EQ(Form.Edit1->text(), "127.0.0.1"); // nothing typed into the host box
}

TEST_F(SenderFixture, ClosingTheWindowDoesNotWarn)
{
    Form.show();
    Form.close();
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(Form.isVisible());
}

TEST_F(SenderFixture, AboutShowsItsFourLines)
{
    Form.About1->trigger();
    EXPECT_EQ(Messages(), std::vector<std::string> {"Component: QBMSG\r\nVersion: 3.1.2\r\n\r\nComponent Demonstration Program"});
}

TEST_F(SenderFixture, HelpShowsTheFileAsWrittenInAWindowOfItsOwnUntilTheProgramEnds)
{
    Form.show();
    sendwell::HelpFile = "QBMSG.HLP"; // shipped next to the programs
    Form.Help1->trigger();
    ASSERT_NE(Form.HelpViewer, nullptr);
    TTextViewer& viewer = *Form.HelpViewer;
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_FALSE(viewer.isModal());
    EXPECT_TRUE(Form.isEnabled()); // the main window goes on working
    EXPECT_EQ(viewer.windowTitle().toStdString(), ProgramTitle().toStdString() + " Help");
    EXPECT_EQ(viewer.Text().toStdString(), ReadFile(QString(PROGRAMS_DIR) + "/QBMSG.HLP"));
    // As written: a fixed-width face wide enough for its lines, no second wrapping.
    auto* view = viewer.findChild<QPlainTextEdit*>();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(QFontInfo(view->font()).fixedPitch());
    EXPECT_EQ(view->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_GE(view->viewport()->width(), QFontMetrics(view->font()).horizontalAdvance(QString(76, 'x')));
    auto* close = viewer.findChild<QPushButton*>();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "Close");
    close->click();
    EXPECT_FALSE(viewer.isVisible());

    sendwell::HelpFile = "LOCAL.HLP";
    Form.Help1->trigger();
    EXPECT_EQ(Messages(), std::vector<std::string> {"Help file LOCAL.HLP not found"});
    WriteFile(Here.Path("LOCAL.HLP"), "How to send a picture."); // in the current folder
    Form.Help1->trigger();
    EXPECT_TRUE(viewer.isVisible()); // the same window, shown again
    EXPECT_EQ(viewer.Text(), "How to send a picture.");
    sendwell::HelpFile = "QBMSG.HLP";
    Form.close(); // the program ends: its help closes too
    EXPECT_FALSE(viewer.isVisible());
}

namespace {

// A picture chosen in `form` and a receiver that takes the whole message and
// never answers: a send then surely waits for the reply, however slow this
// machine is. `taken` is set once the message is in.
std::future<void> SendingToAReceiverThatNeverAnswers(SenderFixture& f, TcpListener& receiver, std::atomic<bool>& taken)
{
    const std::string picture = BmpBytes({10, 10}, Qt::green);
    WriteFile(f.Here.Path("pic.bmp"), picture);
    f.Boxes.Choice = f.Here.Path("pic.bmp");
    f.Form.Select->click();
    f.Form.show();
    return std::async(std::launch::async, [&receiver, &taken, size = picture.size()] {
        const int fd = receiver.Accept(10000);
        RecvSome(fd, 14 + 4 + size, 10000);
        taken = true;
        PeerClosed(fd, 20000);
        CloseFd(fd);
    });
}

} // namespace

TEST_F(SenderFixture, APressWhileASendWaitsIsIgnoredAndClosingCancelsIt)
{
    TcpListener receiver(8, 6711);
    std::atomic<bool> taken = false;
    auto got = SendingToAReceiverThatNeverAnswers(*this, receiver, taken);
    bool sendingSeen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!taken)
            return;
        poll.stop();
        sendingSeen = Form.Sending();
        Form.BitBtn1->click(); // ignored: no second connection
        Form.close();          // cancels the waiting send
    });
    poll.start(10);
    Form.BitBtn1->click();
    EXPECT_TRUE(sendingSeen);
    EXPECT_FALSE(Form.Sending());
    EXPECT_FALSE(Form.isVisible()); // closed once the send returned
    EXPECT_TRUE(Errors().empty());  // the cancel was the user's own: no box
    EXPECT_EQ(receiver.Accept(300), -1);
    got.get();
}

// Escape cancels a send that waits for ever (the window sets no time-out):
// the window stays, the hint beside the bar said so, and the cancel is told
// with the wait's own text.
TEST_F(SenderFixture, EscapeCancelsASendThatWaitsAndSaysSo)
{
    TcpListener receiver(8, 6711);
    std::atomic<bool> taken = false;
    auto got = SendingToAReceiverThatNeverAnswers(*this, receiver, taken);
    bool hintShown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!taken)
            return;
        poll.stop();
        for (const QLabel* label : Form.findChildren<QLabel*>())
            hintShown = hintShown || (label->isVisible() && label->text() == "Escape cancels the send");
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(Form.BitBtn1, &escape); // the focused button passes it on
    });
    poll.start(10);
    Form.BitBtn1->click();
    EXPECT_TRUE(hintShown);
    EXPECT_FALSE(Form.Sending());
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(Errors(), std::vector<std::string> {"Read Canceled."});
    for (const QLabel* label : Form.findChildren<QLabel*>())
        EXPECT_FALSE(label->text() == "Escape cancels the send" && label->isVisible());
    got.get();
}

// --- splash and start-up ------------------------------------------------------------

TEST(Splash, IsAFramelessBlackPanelWithTheLogoCentredOnTheScreen)
{
    sendwell::TSplashForm splash;
    EXPECT_EQ(splash.size(), QSize(322, 121));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(splash.Panel1->geometry(), QRect(0, 0, 322, 121));
    EXPECT_EQ(splash.Panel1->BevelWidth(), 3);
    EXPECT_EQ(splash.Image1->geometry(), QRect(8, 8, 305, 105));
    EXPECT_EQ(sendwell::SplashPlacement({1024, 768}), QPoint(351, 323));
    EXPECT_EQ(sendwell::SplashPlacement({320, 200}), QPoint(-1, 39));
    const QImage shot = splash.grab().toImage();
    EXPECT_EQ(shot.pixelColor(6, 60), QColor(Qt::black)); // the panel's face beside the logo
}

TEST(Splash, TheLogoIsAnEightBitPictureWithAFullPalette)
{
    const QImage logo = sendwell::SplashLogo();
    EXPECT_EQ(logo.size(), QSize(305, 105));
    EXPECT_EQ(logo.format(), QImage::Format_Indexed8);
    EXPECT_EQ(logo.colorCount(), 256);
}

TEST(Startup, TheReceiverIsSearchedInTheOwnFolderThenTheCurrentThenPath)
{
    InTemporaryFolder here;
    for (const char* folder : {"own", "current", "path1", "path2"})
        QDir().mkpath(folder);
    const auto place = [&](const char* folder) {
        const QString path = here.Path(QString(folder) + "/Takewell");
        WriteFile(path, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    const auto find = [&] {
        return sendwell::FindProgram("Takewell", here.Path("own"), here.Path("current"), {here.Path("path1"), here.Path("path2")});
    };
    EXPECT_EQ(find(), "");
    place("path2");
    EXPECT_EQ(find(), here.Path("path2/Takewell"));
    place("path1");
    EXPECT_EQ(find(), here.Path("path1/Takewell"));
    place("current");
    EXPECT_EQ(find(), here.Path("current/Takewell"));
    place("own");
    EXPECT_EQ(find(), here.Path("own/Takewell"));
}
