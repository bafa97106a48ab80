// The sender program: splash, main window, the receiver started beside it,
// then the event loop. FERROLINK_TRACE_STARTUP=1 writes the steps to standard
// error, for tests.
#include <ferrolink/forms.h>
#include "sendwellmain.h"
#include "splash.h"
#include "startup.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace ferro;

namespace {

void Trace(const char* step, long long value = -1)
{
    static const bool on = qgetenv("FERROLINK_TRACE_STARTUP") == "1";
    if (!on)
        return;
    if (value >= 0)
        std::fprintf(stderr, "startup: %s %lld\n", step, value);
    else
        std::fprintf(stderr, "startup: %s\n", step);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    InstallErrorDisplay();

    auto splash = std::make_unique<sendwell::TSplashForm>();
    splash->show();
    splash->repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); // painted at once
    Trace("splash shown");

    sendwell::HelpFile = "QBMSG.HLP";
    sendwell::TForm1 form;

    sendwell::BusyDelay();
    splash->hide();
    splash.reset();
    Trace("splash destroyed");

    Trace("receiver started", sendwell::StartReceiver());

    form.show();
    Trace("main window shown");
    return app.exec();
}
