#include <ferrolink/forms.h>

#include <ferrolink/messages.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <qdrawutil.h>

#include <cstdio>
#include <cstring>

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

std::uint32_t U32(const std::string& d, std::size_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, d.data() + at, 4);
    return v; // BMP fields are little-endian, as this machine is
}

std::int32_t I32(const std::string& d, std::size_t at) { return static_cast<std::int32_t>(U32(d, at)); }

std::uint16_t U16(const std::string& d, std::size_t at)
{
    std::uint16_t v = 0;
    std::memcpy(&v, d.data() + at, 2);
    return v;
}

constexpr std::size_t kFileHeaderSize = 14;

[[noreturn]] void NotValid() { throw EInvalidGraphic("Bitmap image is not valid"); }

// The bytes of pixel data the headers announce, or -1 when they make no sense.
std::int64_t AnnouncedPixelBytes(const std::string& d, std::uint32_t infoSize)
{
    std::int64_t width, height, bitCount, compression = 0, sizeImage = 0;
    if (infoSize == 12) {
        width = U16(d, 18);
        height = U16(d, 20);
        bitCount = U16(d, 24);
    } else if (infoSize >= 40) {
        width = I32(d, 18);
        height = I32(d, 22);
        bitCount = U16(d, 28);
        compression = U32(d, 30);
        sizeImage = U32(d, 34);
    } else {
        return -1;
    }
    if (width <= 0 || height == 0 || bitCount == 0 || bitCount > 32)
        return -1;
    if (compression == 1 || compression == 2) // run-length encoded: as announced
        return sizeImage;
    // Hostile headers announce absurd sizes: anything past a terabyte is as
    // good as infinite here, and keeps the arithmetic from overflowing.
    constexpr std::int64_t kAbsurd = std::int64_t(1) << 40;
    const std::int64_t rowBytes = (width * bitCount + 31) / 32 * 4;
    const std::int64_t rows = height < 0 ? -height : height;
    return rows > kAbsurd / rowBytes ? kAbsurd : rowBytes * rows;
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

TTextViewer::TTextViewer(QWidget* parent) : QWidget(parent, Qt::Window)
{
    auto* layout = new QVBoxLayout(this);
    FView = new QPlainTextEdit(this);
    FView->setReadOnly(true);
    FView->setLineWrapMode(QPlainTextEdit::NoWrap); // the text is wrapped as written
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setFamilies({fixed.family(), "DejaVu Sans Mono", "Liberation Mono", "Monospace"});
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    FView->setFont(fixed);
    layout->addWidget(FView);
    auto* close = new QPushButton("Close", this);
    QObject::connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    layout->addLayout(row);
    // Room for 80 columns and 24 lines of the fixed face.
    const QFontMetrics metrics(FView->font());
    resize(metrics.horizontalAdvance(QString(80, 'x')) + 48, metrics.lineSpacing() * 24 + close->sizeHint().height() + 40);
}

void TTextViewer::ShowText(const QString& title, const QString& text)
{
    setWindowTitle(title);
    FView->setPlainText(text);
    show();
    raise();
    activateWindow();
}

QString TTextViewer::Text() const
{
    return FView->toPlainText();
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

QImage DecodeBitmap(const std::string& data)
{
    if (data.size() < 2 || data[0] != 'B' || data[1] != 'M')
        NotValid();
    if (data.size() < kFileHeaderSize + 4)
        throw EReadError();
    const std::uint32_t infoSize = U32(data, kFileHeaderSize);
    if (data.size() < kFileHeaderSize + infoSize || infoSize < 12)
        throw EReadError();
    const std::int64_t pixels = AnnouncedPixelBytes(data, infoSize);
    if (pixels < 0)
        NotValid();
    if (static_cast<std::int64_t>(data.size()) < static_cast<std::int64_t>(U32(data, 10)) + pixels)
        throw EReadError();
    QImage image = QImage::fromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()), "BMP");
    if (image.isNull())
        NotValid();
    return image;
}

QImage LoadBitmapFile(const std::string& fileName)
{
    TFileStream file(fileName, fmOpenRead);
    std::string data(static_cast<std::size_t>(file.Size()), '\0');
    file.ReadBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    if (data.empty())
        return {};
    return DecodeBitmap(data);
}

QImage LoadPictureFile(const std::string& fileName)
{
    const QString suffix = QFileInfo(QString::fromLocal8Bit(fileName.c_str())).suffix();
    if (suffix.compare("bmp", Qt::CaseInsensitive) != 0)
        throw EInvalidGraphic("Unknown picture file extension (." + suffix.toStdString() + ")");
    return LoadBitmapFile(fileName);
}

TBevelPanel::TBevelPanel(QWidget* parent, const QString& caption, int bevelWidth)
    : QWidget(parent), FCaption(caption), FBevelWidth(bevelWidth), FFace(palette().color(QPalette::Button))
{
}

void TBevelPanel::SetFaceColor(const QColor& color)
{
    FFace = color;
    update();
}

QRect TBevelPanel::InsideRect() const
{
    const int inset = 2 * FBevelWidth;
    return rect().adjusted(inset, inset, -inset, -inset);
}

void TBevelPanel::SetFillChild(QWidget* child)
{
    FFillChild = child;
    FFillChild->setGeometry(InsideRect());
}

void TBevelPanel::resizeEvent(QResizeEvent*)
{
    if (FFillChild)
        FFillChild->setGeometry(InsideRect());
}

void TBevelPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), FFace);
    QPalette shades = palette();
    shades.setColor(QPalette::Light, FFace == Qt::black ? QColor(Qt::gray) : palette().color(QPalette::Light));
    qDrawShadePanel(&p, rect(), shades, false, FBevelWidth);                                  // raised outer
    qDrawShadePanel(&p, rect().adjusted(FBevelWidth, FBevelWidth, -FBevelWidth, -FBevelWidth), shades, true, FBevelWidth); // lowered inner
    if (!FCaption.isEmpty()) {
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(rect(), Qt::AlignCenter, FCaption);
    }
}

TPictureArea::TPictureArea(QWidget* parent) : QWidget(parent)
{
}

void TPictureArea::SetPicture(const QImage& picture)
{
    FPicture = picture;
    update();
}

void TPictureArea::paintEvent(QPaintEvent*)
{
    if (FPicture.isNull())
        return;
    QPainter p(this);
    p.setClipRect(rect());
    p.drawImage(QPoint(0, 0), FPicture);
}

} // namespace ferro
