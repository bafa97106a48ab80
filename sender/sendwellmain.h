// Unit Sendwellmain: the sender program's window. The user picks a BMP file,
// sees it, types the receiver's host and sends the file as one stream message
// to port 6711.
#pragma once

#include <ferrolink/classes.h>
#include <ferrolink/forms.h>
#include <ferrolink/qbmsg.h>

#include <QMainWindow>

class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace sendwell {

using namespace ferro;

// The full path of the file last chosen; shared by both buttons.
extern std::string SelectedFileName;
// The program's help file, set at start-up.
extern std::string HelpFile;

constexpr int kClientWidth = 345;
constexpr int kClientHeight = 344; // below the menu bar
constexpr int kLeft = 189;
constexpr int kTop = 55;

// A failure of a send as the user should read it: a picture the receiver
// refuses by its size is said so, with both sizes; others stay as they are.
std::string InPlainWords(const std::string& failure, std::int64_t size);

class TForm1 : public QMainWindow, public TComponent {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    TBevelPanel* Panel1 = nullptr;
    TPictureArea* Image1 = nullptr;
    TBevelPanel* Panel2 = nullptr;
    QPushButton* Select = nullptr;
    QPushButton* BitBtn1 = nullptr;
    TBevelPanel* Panel3 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QProgressBar* Progress = nullptr; // how far a send is; hidden otherwise
    QLabel* CancelHint = nullptr;     // that Escape cancels, beside it
    QAction* File1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* About1 = nullptr;
    QAction* Help1 = nullptr;
    TQBStrm* QBStrm1 = nullptr; // owned by the window as component
    TOpenDialog OpenDialog1 {"Bitmap", "*.bmp"};
    // The help window, made at the first Help; owned by the window (Qt parent).
    TTextViewer* HelpViewer = nullptr;

    void SelectClick();
    void BitBtn1Click();
    void Exit1Click();
    void About1Click();
    void Help1Click();

    bool Sending() const { return FSending; }

protected:
    // Closing while a send waits cancels it; the window closes once the send
    // has returned, so no component goes while one of its waits runs.
    void closeEvent(QCloseEvent* event) override;
    /// Escape cancels a send under way, as closing the window does, but
    /// the window stays and says that the send was canceled.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildPanels();
    /// The buttons' clicks, Return on them, the tab order and the first focus.
    void WireButtons();
    void BuildMenu();
    void Send();
    // Shows, or stops showing, that a send is under way.
    void ShowSending(bool sending);

    bool FSending = false;
    bool FCloseWhenSent = false;
};

} // namespace sendwell
