// Unit Splash: the sender's splash window, shown while the program starts.
#pragma once

#include <ferrolink/forms.h>

#include <QWidget>

namespace sendwell {

using namespace ferro;

constexpr int kSplashWidth = 322;
constexpr int kSplashHeight = 121;

// Where FormCreate puts the splash on a screen of `screen` size: centred,
// the division truncating toward zero.
QPoint SplashPlacement(QSize screen);

// The logo held in the program's resources: 305 x 105, 8 bits per pixel.
QImage SplashLogo();

class TSplashForm : public QWidget {
public:
    explicit TSplashForm(QWidget* parent = nullptr);

    TBevelPanel* Panel1 = nullptr;
    TPictureArea* Image1 = nullptr;

    void FormCreate();
};

} // namespace sendwell
