// The programs' widgets: bevelled panels, picture areas, the text viewer.
#include <ferrolink/forms.h>

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <qdrawutil.h>

namespace ferro {

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
