#include "takewellmain.h"

#include "apps_support.h"
#include "peers.h"
#include "recorder.h"

#include "qt_helpers.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fstream>

using namespace ferro;

using takewell::TForm1;

namespace {

void Deliver(TForm1& form, const std::string& body)
{
    TMemoryStream s = StreamOf(body);
    s.SetPosition(0); // as the receiver hands it over
    form.QBStrmServ1MSG(form.QBStrmServ1, "Quillbrook", s);
}

} // namespace

TEST(TakewellWindow, IsLaidOutAsDesigned)
{
    TForm1 form;
    EXPECT_EQ(form.windowTitle(), "Msg Client Demo");
    EXPECT_EQ(form.size(), QSize(332, 176));
    EXPECT_EQ(form.font().pixelSize(), 13);
    EXPECT_EQ(form.Panel1->Caption(), "Panel1");
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 0, 332, 176));
    EXPECT_EQ(form.Image2->geometry(), QRect(4, 4, 324, 168));
    EXPECT_TRUE(form.Image2->Picture().isNull());
    EXPECT_EQ(form.QBStrmServ1->Port, 6711);
    form.show(); // a hidden window gets its resize events only once shown
    form.resize(500, 300);
    EXPECT_EQ(form.Image2->geometry(), QRect(4, 4, 492, 292));
}

TEST(TakewellWindow, IsPlacedCentredAcrossWithItsTopAtTheMiddle)
{
    EXPECT_EQ(takewell::WindowPlacement({1024, 768}), QPoint(342, 383));
    EXPECT_EQ(takewell::WindowPlacement({320, 200}), QPoint(-10, 100));
    EXPECT_EQ(takewell::WindowPlacement({1920, 1080}), QPoint(790, 539));
}

TEST(TakewellWindow, EachMessageReplacesThePictureAndTheFile)
{
    InTemporaryFolder here;
    TForm1 form;
    const std::string first = BmpBytes({30, 20}, Qt::red);
    const std::string second = BmpBytes({12, 40}, Qt::green);
    Deliver(form, first);
    EXPECT_EQ(form.Image2->Picture().size(), QSize(30, 20));
    EXPECT_TRUE(form.isVisible());
    // A window the user minimised is brought back for the next picture.
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
    Deliver(form, second);
    EXPECT_EQ(form.Image2->Picture().size(), QSize(12, 40));
    EXPECT_EQ(ReadFile(here.Path("temp.bmp")), second);
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
}

TEST(TakewellWindow, AnEmptyBodyClearsThePictureAndShowsTheCaptionAgain)
{
    InTemporaryFolder here;
    TForm1 form;
    Deliver(form, BmpBytes({400, 300}, Qt::red));
    form.hide();
    Deliver(form, "");
    EXPECT_EQ(QFileInfo(here.Path("temp.bmp")).size(), 0);
    EXPECT_TRUE(form.Image2->Picture().isNull());
    EXPECT_TRUE(form.isVisible());
    const QImage shot = form.grab().toImage();
    int red = 0;
    for (int x = 0; x < shot.width(); ++x)
        red += shot.pixelColor(x, 88) == QColor(Qt::red);
    EXPECT_EQ(red, 0);
}

TEST(TakewellWindow, ABodyThatIsNoBitmapKeepsThePreviousPictureAndDoesNotShow)
{
    InTemporaryFolder here;
    TForm1 form;
    Deliver(form, BmpBytes({30, 20}, Qt::red));
    form.hide();
    EXPECT_EQ(FailureOf([&] { Deliver(form, "this is not a picture"); }), "Bitmap image is not valid");
    EXPECT_EQ(form.Image2->Picture().size(), QSize(30, 20));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(ReadFile(here.Path("temp.bmp")), "this is not a picture");
    Deliver(form, BmpBytes({8, 8}, Qt::blue));
    EXPECT_EQ(form.Image2->Picture().size(), QSize(8, 8));
    EXPECT_TRUE(form.isVisible());
}

TEST(TakewellWindow, ATempFileThatCannotBeCreatedIsReported)
{
    InTemporaryFolder here;
    QDir(here.Dir.path()).mkdir("temp.bmp"); // a folder in its way
    TForm1 form;
    EXPECT_EQ(FailureOf([&] { Deliver(form, BmpBytes({8, 8}, Qt::blue)); }), "Cannot create file temp.bmp");
    EXPECT_FALSE(form.isVisible());
}

TEST(TakewellWindow, ClipsALargePictureAndPutsASmallOneTopLeft)
{
    InTemporaryFolder here;
    TForm1 form;
    Deliver(form, BmpBytes({600, 400}, Qt::red));
    QImage shot = form.grab().toImage();
    EXPECT_EQ(shot.pixelColor(4 + 323, 4 + 167), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(331, 175), QColor(Qt::red)); // the bevel, not the picture
    Deliver(form, BmpBytes({20, 10}, Qt::blue));
    shot = form.grab().toImage();
    EXPECT_EQ(shot.pixelColor(4, 4), QColor(Qt::black)); // the picture's own top-left pixel
    EXPECT_EQ(shot.pixelColor(4 + 10, 4 + 5), QColor(Qt::blue));
    EXPECT_NE(shot.pixelColor(4 + 30, 4 + 5), QColor(Qt::blue));
}

TEST(TakewellWindow, ReceivesOverTheNetworkOnPort6711)
{
    InTemporaryFolder here;
    TForm1 form;
    const std::string body = BmpBytes({16, 16}, Qt::magenta);
    std::ofstream(here.Path("pic.bmp").toStdString(), std::ios::binary) << body;
    QProcess sender;
    sender.start(QBMSG, {"send", here.Path("pic.bmp")});
    ASSERT_TRUE(PumpUntil([&] { return sender.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(sender.readAllStandardOutput().toStdString(), "OK              \n");
    EXPECT_EQ(form.Image2->Picture().size(), QSize(16, 16));
    EXPECT_EQ(ReadFile(here.Path("temp.bmp")), body);
}
