#include "apps_support.h"

#include "recorder.h"

#include "qt_helpers.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <fstream>

using namespace ferro;

TEST(ProgramTitle, IsTheFileNameCutAtItsFirstDotWithTheRestLowerCase)
{
    EXPECT_EQ(ProgramTitleOf("/opt/demo/SENDWELL.EXE"), "Sendwell");
    EXPECT_EQ(ProgramTitleOf("/usr/bin/Takewell"), "Takewell");
    EXPECT_EQ(ProgramTitleOf("qbMSG.tar.gz"), "qbmsg");
    EXPECT_EQ(ProgramTitleOf("x"), "x");
}

TEST(ErrorDisplay, AddsAFullStopUnlessTheMessageEndsInOneOrBelow)
{
    EXPECT_EQ(ErrorDisplayText("Connection Failed"), "Connection Failed.");
    EXPECT_EQ(ErrorDisplayText("Done."), "Done.");
    EXPECT_EQ(ErrorDisplayText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorDisplayText("a-"), "a-");
    EXPECT_EQ(ErrorDisplayText("trailing "), "trailing ");
    EXPECT_EQ(ErrorDisplayText("Unknown Error No. 10061"), "Unknown Error No. 10061.");
    EXPECT_EQ(ErrorDisplayText(""), "");
}

TEST(ErrorDisplay, ShowsOneBoxAtATimeWithTheProgramTitle)
{
    struct Nesting : TModalBoxes {
        void ShowError(const QString& title, const QString& text) override
        {
            Shown.push_back(text.toStdString());
            Title = title.toStdString();
            if (Shown.size() == 1)
                ShowException(std::runtime_error("second while the first is open")); // not nested
        }
        std::vector<std::string> Shown;
        std::string Title;
    } boxes;
    TModalBoxesOverride use(boxes);
    ShowException(std::runtime_error("first"));
    EXPECT_EQ(boxes.Shown, std::vector<std::string> {"first."});
    EXPECT_EQ(boxes.Title, ProgramTitle().toStdString());
    ShowException(std::runtime_error("later"));
    EXPECT_EQ(boxes.Shown.back(), "later.");
}

TEST(ErrorDisplay, AGuardedHandlerHandsItsExceptionToTheApplication)
{
    TakeRecordedExceptions();
    int after = 0;
    Guarded([] { throw std::runtime_error("click failed"); })();
    ++after;
    EXPECT_EQ(TakeRecordedExceptions(), std::vector<std::string> {"click failed"});
    EXPECT_EQ(after, 1);
}

// --- BMP loading ----------------------------------------------------------------

namespace {

} // namespace

TEST(BitmapLoading, DecodesAValidBitmap)
{
    const QImage image = DecodeBitmap(BmpBytes({7, 5}, Qt::red));
    EXPECT_EQ(image.size(), QSize(7, 5));
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::black));
}

TEST(BitmapLoading, RefusesWithTheClassLibrarysTexts)
{
    const std::string valid = BmpBytes({20, 20}, Qt::blue);
    EXPECT_EQ(FailureOf([] { DecodeBitmap("GIF89a...."); }), "Bitmap image is not valid");
    EXPECT_EQ(FailureOf([] { DecodeBitmap("B"); }), "Bitmap image is not valid");
    EXPECT_EQ(FailureOf([&] { DecodeBitmap(valid.substr(0, 10)); }), "Stream read error");
    EXPECT_EQ(FailureOf([&] { DecodeBitmap(valid.substr(0, 40)); }), "Stream read error");
    EXPECT_EQ(FailureOf([&] { DecodeBitmap(valid.substr(0, valid.size() - 1)); }), "Stream read error");
    std::string garbled = valid;
    garbled[28] = 77; // bits per pixel nobody knows
    EXPECT_EQ(FailureOf([&] { DecodeBitmap(garbled); }), "Bitmap image is not valid");
    // A header that announces an enormous picture is refused, not allocated.
    std::string huge = valid;
    const std::int32_t side = 100000;
    std::memcpy(&huge[18], &side, 4);
    std::memcpy(&huge[22], &side, 4);
    EXPECT_EQ(FailureOf([&] { DecodeBitmap(huge); }), "Stream read error");
}

TEST(BitmapLoading, FilesByNameAndExtension)
{
    InTemporaryFolder here;
    WriteFile(here.Path("empty.bmp"), "");
    EXPECT_TRUE(LoadPictureFile(here.Path("empty.bmp").toStdString()).isNull());
    WriteFile(here.Path("picture.BMP"), BmpBytes({3, 3}, Qt::green));
    EXPECT_EQ(LoadPictureFile(here.Path("picture.BMP").toStdString()).size(), QSize(3, 3));
    WriteFile(here.Path("notes.txt"), "hello");
    EXPECT_EQ(FailureOf([&] { LoadPictureFile(here.Path("notes.txt").toStdString()); }), "Unknown picture file extension (.txt)");
    const std::string missing = here.Path("missing.bmp").toStdString();
    EXPECT_EQ(FailureOf([&] { LoadPictureFile(missing); }), "Cannot open file " + missing);

    // A 1-bit picture of 16 000 x 16 000 pixels (32 MB): Qt reckons it at
    // 32 bits a pixel, 976 MiB, which the limit must allow; under a smaller
    // limit it is refused by its size, before anything is decoded.
    const std::int32_t side = 16000, row = (side + 31) / 32 * 4;
    std::string mono(62, '\0');
    const auto put = [&mono](std::size_t at, std::uint32_t value, int bytes) { std::memcpy(&mono[at], &value, bytes); };
    mono[0] = 'B';
    mono[1] = 'M';
    put(2, 62 + row * side, 4);
    put(10, 62, 4);
    put(14, 40, 4);
    put(18, side, 4);
    put(22, side, 4);
    put(26, 1, 2);
    put(28, 1, 2);
    put(46, 2, 4);
    put(58, 0x00FFFFFF, 4); // the palette: black, white
    mono.resize(mono.size() + static_cast<std::size_t>(row) * side, '\xAA');
    WriteFile(here.Path("mono.bmp"), mono);
    mono.clear();
    EXPECT_EQ(LoadPictureFile(here.Path("mono.bmp").toStdString(), 1LL << 30).size(), QSize(side, side));
    EXPECT_EQ(FailureOf([&] { LoadPictureFile(here.Path("mono.bmp").toStdString(), 512LL << 20); }),
              "Picture too large to show (16000 x 16000 pixels, 976 MiB decoded, at most 512 MiB)");
}

// --- widgets --------------------------------------------------------------------

TEST(BevelPanel, DrawsItsCaptionCentredAndKeepsItsFillChildInside)
{
    QWidget top;
    auto* panel = new TBevelPanel(&top, "Panel1");
    panel->setGeometry(0, 0, 200, 100);
    auto* child = new QWidget(panel);
    panel->SetFillChild(child);
    top.show();
    EXPECT_EQ(child->geometry(), QRect(4, 4, 192, 92));
    panel->resize(300, 150);
    EXPECT_EQ(child->geometry(), QRect(4, 4, 292, 142));

    TBevelPanel bare(nullptr, "Caption");
    bare.resize(200, 100);
    const QImage shot = bare.grab().toImage();
    const QColor face = bare.palette().color(QPalette::Button);
    int ink = 0;
    for (int x = 70; x < 130; ++x)
        for (int y = 40; y < 60; ++y)
            ink += shot.pixelColor(x, y) != face;
    EXPECT_GT(ink, 20); // the caption's letters, in the middle
    EXPECT_EQ(shot.pixelColor(100, 20), face);
}

TEST(PictureArea, DrawsAtNaturalSizeFromTheTopLeftClippedAndNothingBeforeAPicture)
{
    TBevelPanel panel(nullptr);
    panel.resize(60, 60);
    auto* area = new TPictureArea(&panel);
    panel.SetFillChild(area);
    const QColor face = panel.palette().color(QPalette::Button);
    EXPECT_EQ(panel.grab().toImage().pixelColor(30, 30), face); // nothing drawn yet

    area->SetPicture(DecodeBitmap(BmpBytes({10, 10}, Qt::red)));
    QImage shot = panel.grab().toImage();
    EXPECT_EQ(shot.pixelColor(4 + 5, 4 + 5), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(4 + 20, 4 + 20), face); // not stretched, not centred

    area->SetPicture(DecodeBitmap(BmpBytes({200, 200}, Qt::blue)));
    shot = panel.grab().toImage();
    EXPECT_EQ(shot.pixelColor(55, 55), QColor(Qt::blue));      // up to its edge
    EXPECT_NE(shot.pixelColor(57, 57), QColor(Qt::blue));      // clipped: the bevel shows
}

TEST(BitmapLoading, SizesThatWouldOverflowAreAStreamReadError)
{
    // Found by fuzzing: a width and height whose product overflows 64 bits.
    std::string header = BmpBytes({2, 2}, Qt::red);
    const std::int32_t width = 0x7FFFFFFF, height = -0x7FFFFFFF - 1;
    std::memcpy(&header[18], &width, 4);
    std::memcpy(&header[22], &height, 4);
    header[28] = 32;
    EXPECT_EQ(FailureOf([&] { DecodeBitmap(header); }), "Stream read error");
}
