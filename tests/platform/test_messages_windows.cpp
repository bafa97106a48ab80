// The message model where every thread may have windows (Windows): a
// thread's queue and windows end with it.
#include <ferrolink/messages.h>

#include <gtest/gtest.h>

#include <thread>

using namespace ferro;

TEST(WindowsMessages, AThreadsWindowsGoWithItAndPostsToThemAreRefused)
{
    HWND workers = 0;
    std::thread([&workers] {
        workers = AllocateHWnd([](TMessage&) {});
        EXPECT_TRUE(PostMessage(workers, 1100, 0, 0)); // queued, never delivered: the thread ends first
    }).join();
    EXPECT_NE(workers, 0u);
    EXPECT_FALSE(PostMessage(workers, 1100, 0, 0));
}
