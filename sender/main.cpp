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

// The longest the splash waits to be on the screen before it is painted.
constexpr int kSplashExposeWaitMs = 500;
constexpr int kSplashSettleMs = 100;

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
    // Under a window manager the splash is on the screen only once the
    // manager has mapped it, and a manager may map it more than once as it
    // takes it over; painted before, the busy delay would show whatever lay
    // beneath. Wait a moment for it, handling no user input, and let it
    // settle, repainting as it is exposed.
    if (ferro::WaitUntilExposed(*splash, kSplashExposeWaitMs))
        ferro::HandleWindowEventsFor(kSplashSettleMs);
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
