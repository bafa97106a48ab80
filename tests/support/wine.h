// Test support: what wine cannot show of Windows. A test of such a path
// skips under wine and says why; it never passes there without checking.
#pragma once

#include <gtest/gtest.h>

// True in a Windows program that runs under wine.
bool RunsUnderWine();
// True in a Windows program, under wine or not: for what Windows does its
// own way by design (not a limit of wine's).
bool OnWindows();

#define SKIP_UNDER_WINE(why)                                         \
    do {                                                             \
        if (RunsUnderWine())                                         \
            GTEST_SKIP() << "under wine, which cannot show it: " << why; \
    } while (false)
