// Runs a test binary inside a Qt application object, so that tests drive the
// real event loop. Exceptions that reach the application's handler are
// recorded (see recorder.h) instead of being printed.
#include "recorder.h"

#include <gtest/gtest.h>

#ifdef FERRO_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <csignal>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    // Widgets are tested offscreen unless a display is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    InstallExceptionRecorder();
    return RUN_ALL_TESTS();
}
