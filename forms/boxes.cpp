// Modal boxes and the default error display, the open dialog, program
// titles, and waits for the window manager.
#include <ferrolink/forms.h>

#include <ferrolink/messages.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QWindow>

#include <cstdio>

namespace ferro {

namespace {

TModalBoxes* gBoxes = nullptr;

// Centres the box's frame, title bar included, on the screen. Before a
// window manager has framed it, its frame is its client area.
void CentreOnScreen(QWidget& box)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QSize outer = box.frameGeometry().size();
        box.move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    }
}

// How long a box waits for a window manager to frame it before it is
// centred by its client area alone.
constexpr int kFrameWaitMs = 300;

void RunBox(QMessageBox::Icon icon, const QString& title, QString text)
{
    text.replace("\r\n", "\n");
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.adjustSize();
    CentreOnScreen(box);
    box.show();
    // A window manager maps the box, then tells its frame: centred anew once
    // the frame is known, or as it is when none comes.
    QElapsedTimer clock;
    clock.start();
    if (WaitUntilExposed(box, kFrameWaitMs)) {
        while (box.frameGeometry().size() == box.size() && clock.elapsed() < kFrameWaitMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            QThread::msleep(2);
        }
        CentreOnScreen(box);
    }
    box.exec();
}

} // namespace

QString ProgramTitleOf(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const int dot = name.indexOf('.');
    if (dot >= 0)
        name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

QString ProgramTitle()
{
    return ProgramTitleOf(QCoreApplication::applicationFilePath());
}

QString ErrorDisplayText(const std::string& message)
{
    QString text = QString::fromLocal8Bit(message.c_str());
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        text += '.';
    return text;
}

void TModalBoxes::ShowMessage(const QString& title, const QString& text)
{
    RunBox(QMessageBox::NoIcon, title, text);
}

void TModalBoxes::ShowError(const QString& title, const QString& text)
{
    RunBox(QMessageBox::Critical, title, text);
}

void HandleWindowEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
}

bool WaitUntilExposed(QWidget& window, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
    return true;
}

bool TModalBoxes::ChooseFile(QString& fileName, const QString& filterLabel, const QString& pattern)
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile); // a typed name need not exist
    dialog.setNameFilter(filterLabel + " (" + pattern + ")");
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName = dialog.selectedFiles().front();
    return true;
}

bool TOpenDialog::Execute()
{
    QString chosen = FileName;
    if (!ModalBoxes().ChooseFile(chosen, FFilterLabel, FPattern))
        return false;
    FileName = QFileInfo(chosen).absoluteFilePath();
    QDir::setCurrent(QFileInfo(FileName).absolutePath());
    return true;
}

TModalBoxes& ModalBoxes()
{
    static TModalBoxes real;
    return gBoxes ? *gBoxes : real;
}

TModalBoxesOverride::TModalBoxesOverride(TModalBoxes& boxes) : FPrevious(gBoxes)
{
    gBoxes = &boxes;
}

TModalBoxesOverride::~TModalBoxesOverride()
{
    gBoxes = FPrevious;
}

void ShowMessage(const std::string& text)
{
    ModalBoxes().ShowMessage(ProgramTitle(), QString::fromLocal8Bit(text.c_str()));
}

void ShowException(const std::exception& e)
{
    static bool boxOpen = false;
    if (boxOpen) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(ProgramTitle()), qPrintable(ErrorDisplayText(e.what())));
        return;
    }
    boxOpen = true;
    try {
        ModalBoxes().ShowError(ProgramTitle(), ErrorDisplayText(e.what()));
    } catch (...) {
        boxOpen = false;
        throw;
    }
    boxOpen = false;
}

void InstallErrorDisplay()
{
    SetApplicationExceptionHandler([](const std::exception& e) { ShowException(e); });
}

std::function<void()> Guarded(std::function<void()> handler)
{
    return [handler = std::move(handler)] {
        try {
            handler();
        } catch (...) {
            HandleCurrentException();
        }
    };
}

} // namespace ferro
