// Saves a picture of the sender's splash window, drawn offscreen: the splash
// is on the screen for a fraction of a second, too short to photograph.
#include "splash.h"

#include <QApplication>

#include <cstdio>

using namespace ferro;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: grab_splash OUT.png\n");
        return 2;
    }
    sendwell::TSplashForm splash;
    return splash.grab().save(argv[1]) ? 0 : 1;
}
