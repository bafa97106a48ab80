// The receiver program: its window listens on port 6711 and shows every
// picture that arrives. A start request for a hidden window (the environment
// variable FERROLINK_START_HIDDEN=1, set by the sender) keeps the window
// hidden until the first message shows it.
#include <ferrolink/forms.h>
#include "takewellmain.h"

#include <QApplication>

#include <csignal>

using namespace ferro;

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    // Closing the main window ends the program (TForm1 quits); the last
    // window closed may be an error box of a receiver started hidden.
    app.setQuitOnLastWindowClosed(false);
    ferro::InstallErrorDisplay();
    takewell::TForm1 form;
    const bool hidden = qgetenv("FERROLINK_START_HIDDEN") == "1";
    // Started hidden (by a sender) where another receiver holds the port,
    // it could never show anything: it ends at once instead of staying
    // alive unseen.
    if (hidden && !form.Listening())
        return 0;
    if (!hidden)
        form.show();
    return app.exec();
}
