/// @file
/// What the two programs need of the windowing platform, on Qt Widgets: the
/// program title, message boxes, the default error display, bevelled panels,
/// picture areas and BMP loading with the class library's texts.
#pragma once

#include <ferrolink/classes.h>

#include <QAbstractButton>
#include <QImage>
#include <QMenu>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>

#include <exception>
#include <functional>
#include <memory>
#include <string>

namespace ferro {

/// The program title: the file name without folder, cut before its first ".",
/// every letter after the first in lower case ("/opt/SENDWELL.EXE" -> "Sendwell").
QString ProgramTitleOf(const QString& executablePath);
/// The running program's title (ProgramTitleOf its executable).
QString ProgramTitle();

/// The text the default error display shows: a full stop is added unless the
/// message ends in "." or a character that sorts before it.
QString ErrorDisplayText(const std::string& message);

/// The one seam through which every modal box goes, so that tests can record
/// boxes instead of running a modal loop.
class TModalBoxes {
public:
    virtual ~TModalBoxes() = default;
    /// Modal, centred on the screen, one "OK" button, no icon.
    virtual void ShowMessage(const QString& title, const QString& text);
    /// Modal, stop icon, "OK".
    virtual void ShowError(const QString& title, const QString& text);
    /// The modal file-open dialog: offers `fileName` first; true with the
    /// chosen file's full path in `fileName` when the user confirms.
    virtual bool ChooseFile(QString& fileName, const QString& filterLabel, const QString& pattern);
};

/// The boxes in use: the real ones, or a test's TModalBoxesOverride.
TModalBoxes& ModalBoxes();
/// Puts `boxes` (not owned) in place of the boxes in use for the guard's
/// lifetime; tests use it.
class TModalBoxesOverride {
public:
    /// Installs `boxes`.
    explicit TModalBoxesOverride(TModalBoxes& boxes);
    /// Puts back the boxes that were in use.
    ~TModalBoxesOverride();
    TModalBoxesOverride(const TModalBoxesOverride&) = delete;
    TModalBoxesOverride& operator=(const TModalBoxesOverride&) = delete;

private:
    TModalBoxes* FPrevious;
};

/// The file-open dialog component: one filter, remembers the last name, accepts
/// a typed name that does not exist, and makes the chosen file's folder the
/// current folder.
class TOpenDialog {
public:
    /// A dialog with one filter: `filterLabel` for files matching `pattern`.
    TOpenDialog(QString filterLabel, QString pattern) : FFilterLabel(std::move(filterLabel)), FPattern(std::move(pattern)) {}
    /// Runs the dialog modally; true with the chosen file in FileName when
    /// the user confirms, false (FileName unchanged) when he cancels.
    bool Execute();
    /// The last chosen file's full path, offered first the next time.
    QString FileName;

private:
    QString FFilterLabel;
    QString FPattern;
};

/// A window of its own (not modal) showing a text as it is written: a
/// fixed-width face, lines never wrapped again, and a Close button. Made
/// with a parent window, it goes when that window goes.
class TTextViewer : public QWidget {
public:
    /// A hidden viewer; `parent` owns it (null for none).
    explicit TTextViewer(QWidget* parent = nullptr);
    /// Shows `text` under `title`, and brings the window to the front.
    void ShowText(const QString& title, const QString& text);
    /// The text shown.
    QString Text() const;

private:
    ::QPlainTextEdit* FView; ///< owned by the window (Qt parent)
};

/// Waits, handling no user input, until `window` is on the screen (exposed:
/// under a window manager, once it has mapped it) or `ms` milliseconds have
/// passed; true when it is.
bool WaitUntilExposed(QWidget& window, int ms);
/// Handles the window system's events (exposures, paints; no user input)
/// for `ms` milliseconds.
void HandleWindowEventsFor(int ms);

/// The message box of the programs, titled with the program title.
void ShowMessage(const std::string& text);

/// Makes the default error display the application's exception handler: any
/// exception from a notification, a click or another handler ends that handler
/// and is shown; the program goes on. At most one error box is open at a time;
/// failures meanwhile go to standard error, so a flood cannot nest modal loops.
void InstallErrorDisplay();
/// Shows `e` in the default error display (as InstallErrorDisplay's handler).
void ShowException(const std::exception& e);

/// Makes Return and Enter click `button` while it has the focus, as a push
/// button does on the desktop the programs were designed for (Qt does so in
/// dialogs only). The behaviour lives as long as the button.
void ClickOnReturn(QAbstractButton* button);
/// Lets an open menu take Alt with a letter as the letter alone: Alt+F then
/// Alt+X chooses the File menu's E&xit, instead of the Alt closing the menu
/// and the letter reaching the window behind it. Lives as long as the menu.
void TakeAltMnemonics(QMenu* menu);

/// Runs `handler`, handing any exception to the application's exception
/// handler: for Qt slots, which must not let exceptions through.
std::function<void()> Guarded(std::function<void()> handler);

/// The largest picture decoded by default, in bytes at 4 a pixel (how Qt
/// reckons a picture, whatever its own depth): 1 GiB, a 16 384 x 16 384
/// picture.
constexpr std::int64_t kMaxDecodedPicture = 1LL << 30;

/// Loads a picture by its file's extension: ".bmp" (any case) as a Windows
/// BMP; anything else raises "Unknown picture file extension (.<ext>)".
QImage LoadPictureFile(const std::string& fileName, std::int64_t decodedLimit = kMaxDecodedPicture);
/// Loads a Windows BMP file: "Cannot open file <name>" when it cannot be
/// opened; a file of zero bytes is the empty picture; "Picture too large to
/// show (W x H pixels, N MiB decoded, at most M MiB)" when its pixels at 4
/// bytes each come to more than `decodedLimit`, before any is decoded; see
/// DecodeBitmap for the rest.
QImage LoadBitmapFile(const std::string& fileName, std::int64_t decodedLimit = kMaxDecodedPicture);
/// "Bitmap image is not valid" when the data does not start with "BM" or cannot
/// be decoded; "Stream read error" when it is shorter than its headers announce.
QImage DecodeBitmap(const std::string& data);

class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

/// A panel with a raised outer and a lowered inner bevel and its caption drawn
/// centred on its face.
class TBevelPanel : public QWidget {
public:
    /// A panel in `parent` with `caption` and bevels `bevelWidth` pixels wide.
    explicit TBevelPanel(QWidget* parent, const QString& caption = {}, int bevelWidth = 2);

    /// The caption drawn centred on the face.
    QString Caption() const { return FCaption; }
    /// Paints the face in `color` (the system's button face by default).
    void SetFaceColor(const QColor& color);
    /// The width of each bevel in pixels.
    int BevelWidth() const { return FBevelWidth; }
    /// The space inside both bevels, where a child that fills the panel sits.
    QRect InsideRect() const;
    /// Keeps `child` filling the inside as the panel is resized.
    void SetFillChild(QWidget* child);

protected:
    /// Draws the face, the bevels and the caption.
    void paintEvent(QPaintEvent* event) override;
    /// Keeps the fill child filling the inside.
    void resizeEvent(QResizeEvent* event) override;

private:
    QString FCaption;
    int FBevelWidth;
    QColor FFace;
    QWidget* FFillChild = nullptr; ///< not owned: a child widget of this panel
};

/// Draws a picture at its natural size from its top-left corner, clipped to
/// the area; neither stretched nor centred. Draws nothing until a picture is
/// loaded, so whatever lies beneath shows through.
class TPictureArea : public QWidget {
public:
    /// An empty picture area in `parent`.
    explicit TPictureArea(QWidget* parent);

    /// Replaces the picture shown; an empty one shows nothing.
    void SetPicture(const QImage& picture);
    /// The picture shown.
    const QImage& Picture() const { return FPicture; }
    /// Loads the picture from a file as LoadPictureFile does, up to
    /// `decodedLimit`; on failure the exception passes and the picture shown
    /// stays.
    void LoadFromFile(const std::string& fileName, std::int64_t decodedLimit = kMaxDecodedPicture)
    {
        SetPicture(LoadPictureFile(fileName, decodedLimit));
    }

protected:
    /// Draws the picture from the top-left corner, clipped.
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FPicture;
};

} // namespace ferro
