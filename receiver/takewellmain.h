// Unit Takewellmain: the receiver program's window. It listens for stream
// messages on port 6711 and shows each body as a picture, written first to
// "temp.bmp" in the current folder.
#pragma once

#include <ferrolink/classes.h>
#include <ferrolink/forms.h>
#include <ferrolink/qbmsg.h>

#include <QWidget>

namespace takewell {

using namespace ferro;

// Outer size of the window as designed, frame included.
constexpr int kWindowWidth = 340;
constexpr int kWindowHeight = 203;
// Its client area.
constexpr int kClientWidth = 332;
constexpr int kClientHeight = 176;
inline const char* const kTempFile = "temp.bmp";
// The receiver's limits on one message (see TQBStrmServ).
constexpr int kIdleLimitMs = 10000;
constexpr int kMessageDeadlineMs = 60000;
// The largest picture taken: 256 MiB, a BMP of about 9 000 x 9 000 pixels;
// it arrives in a file, and is in memory only once, decoded.
constexpr std::int64_t kMaxPictureSize = 256LL * 1024 * 1024;
// The largest picture decoded, at 4 bytes a pixel: what a picture of
// kMaxPictureSize comes to at 8 bits a pixel, so that every picture taken
// at 8 bits or more is shown (and 1-bit ones of up to 16 384 x 16 384).
constexpr std::int64_t kMaxDecodedPicture = 4 * kMaxPictureSize;

// Where FormCreate puts the window on a screen of `screen` size: centred
// across, its top edge about at the middle (division truncates toward zero).
QPoint WindowPlacement(QSize screen);

class TForm1 : public QWidget, public TComponent {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    TBevelPanel* Panel1 = nullptr;   // owned by the window (Qt parent)
    TPictureArea* Image2 = nullptr;  // owned by Panel1 (Qt parent)
    TQBStrmServ* QBStrmServ1 = nullptr; // owned by the window as component

    void FormCreate();
    // Whether the receiver could have its port when it was loaded.
    bool Listening() const { return FListening; }
    // Writes the body to "temp.bmp", shows it and brings the window forward.
    void QBStrmServ1MSG(TComponent* sender, const std::string& sFrom, TStream& strm);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool FListening = true;
};

} // namespace takewell
