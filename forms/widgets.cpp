// The programs' widgets: bevelled panels, picture areas, the text viewer.
#include <ferrolink/forms.h>

#include <QFontDatabase>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <qdrawutil.h>

namespace ferro {

namespace {

// Return and Enter on a focused button click it.
class TClickOnReturn : public QObject {
public:
    explicit TClickOnReturn(QAbstractButton* button) : QObject(button) { button->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        static_cast<QAbstractButton*>(watched)->click();
        return true;
    }
};

// The mnemonic's letter of an action's text ("E&xit": 'x'), or 0.
QChar Mnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&' && text[i + 1] != '&')
            return text[i + 1].toLower();
        if (text[i] == '&')
            ++i; // "&&" is a plain ampersand
    }
    return QChar();
}

// In an open menu, Alt alone keeps it open and Alt with a letter chooses
// the action of that mnemonic.
class TAltMnemonics : public QObject {
public:
    explicit TAltMnemonics(QMenu* menu) : QObject(menu), FMenu(menu) { menu->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Alt)
            return true;
        if (!(key->modifiers() & Qt::AltModifier) || key->text().isEmpty())
            return false;
        const QChar letter = key->text().front().toLower();
        for (QAction* action : FMenu->actions()) {
            if (action->isEnabled() && Mnemonic(action->text()) == letter) {
                FMenu->hide();
                // Chosen once the menu has gone, as a click on it would be.
                QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
                return true;
            }
        }
        return false;
    }

private:
    QMenu* FMenu;
};

} // namespace

void ClickOnReturn(QAbstractButton* button)
{
    new TClickOnReturn(button);
}

void TakeAltMnemonics(QMenu* menu)
{
    new TAltMnemonics(menu);
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
