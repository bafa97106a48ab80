#include "splash.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>

namespace sendwell {

namespace {
constexpr int kBevel = 3;
constexpr int kLogoInset = 8;
}

QPoint SplashPlacement(QSize screen)
{
    return {(screen.width() - kSplashWidth) / 2, (screen.height() - kSplashHeight) / 2};
}

QImage SplashLogo()
{
    QFile resource(":/logo.bmp");
    resource.open(QIODevice::ReadOnly);
    return DecodeBitmap(resource.readAll().toStdString());
}

TSplashForm::TSplashForm(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setWindowTitle("SplashForm");
    QFont font("System");
    font.setPixelSize(13);
    setFont(font);
    setFixedSize(kSplashWidth, kSplashHeight);

    Panel1 = new TBevelPanel(this, QString(), kBevel);
    Panel1->SetFaceColor(Qt::black);
    Panel1->setGeometry(rect());
    Image1 = new TPictureArea(Panel1);
    const QImage logo = SplashLogo();
    Image1->setGeometry(kLogoInset, kLogoInset, logo.width(), logo.height());
    Image1->SetPicture(logo);
    FormCreate();
}

void TSplashForm::FormCreate()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(SplashPlacement(screen->size()));
}

} // namespace sendwell
