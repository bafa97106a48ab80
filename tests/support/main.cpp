// Runs a test binary where no Qt application exists (the Windows build):
// the platform's own message loop is the event loop the tests drive.
// Exceptions that reach the application's handler are recorded (see
// recorder.h) instead of being printed.
#include "recorder.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    InstallExceptionRecorder();
    return RUN_ALL_TESTS();
}
