#include "takewellmain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

namespace takewell {

namespace {
constexpr int kPictureInset = 4;
}

QPoint WindowPlacement(QSize screen)
{
    const int top = (screen.height() - kWindowHeight) / 2 + kWindowHeight / 2;
    const int left = (screen.width() - kWindowWidth) / 2;
    return {left, top};
}

TForm1::TForm1(QWidget* parent) : QWidget(parent), TComponent(nullptr)
{
    setWindowTitle("Msg Client Demo");
    QFont font("System");
    font.setPixelSize(13);
    setFont(font);
    resize(kClientWidth, kClientHeight);

    Panel1 = new TBevelPanel(this, "Panel1");
    Panel1->setGeometry(0, 0, kClientWidth, kClientHeight);
    Image2 = new TPictureArea(Panel1);
    Image2->setGeometry(kPictureInset, kPictureInset, kClientWidth - 2 * kPictureInset, kClientHeight - 2 * kPictureInset);
    Panel1->SetFillChild(Image2);

    // The component as the window's stored design sets it, then loaded.
    QBStrmServ1 = CreateOwned<TQBStrmServ>(this);
    QBStrmServ1->SetLastErrorNo(0);
    QBStrmServ1->Port = qbmsg::kPort;
    QBStrmServ1->BeenCanceled = false;
    // Any process, or any host that reaches the port, could hold the one
    // connection served at a time: a sender that stays silent for 10 s, or
    // takes over a minute (more for a large picture, at 64 KiB/s), is let go.
    QBStrmServ1->IdleLimit = kIdleLimitMs;
    QBStrmServ1->MessageDeadline = kMessageDeadlineMs;
    QBStrmServ1->MaxSize = kMaxPictureSize;
    QBStrmServ1->OnMSG = [this](TComponent* sender, const std::string& from, TStream& body) {
        QBStrmServ1MSG(sender, from, body);
    };
    QBStrmServ1->OnError = [this](TComponent*, std::uint16_t, const std::string& text) {
        if (text.rfind("Cannot Listen", 0) == 0)
            FListening = false;
    };
    FormCreate();
    NotifyComponentsLoaded();
}

TForm1::~TForm1()
{
    // The components go first, while the widgets their handlers use exist.
    delete QBStrmServ1;
}

void TForm1::FormCreate()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(WindowPlacement(screen->size()));
}

void TForm1::QBStrmServ1MSG(TComponent*, const std::string&, TStream& strm)
{
    // A new file renamed over temp.bmp: a link planted under that name is
    // replaced, never written through.
    WriteFileReplacing(kTempFile, strm, strm.Size() - strm.Position());
    Image2->LoadFromFile(kTempFile, kMaxDecodedPicture);
    // A minimised window is brought back too: the picture is for the user.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The main window alone ends the program: closing an error box of a
    // hidden receiver must not.
    QWidget::closeEvent(event);
    QCoreApplication::quit();
}

void TForm1::resizeEvent(QResizeEvent*)
{
    Panel1->setGeometry(rect());
}

} // namespace takewell
