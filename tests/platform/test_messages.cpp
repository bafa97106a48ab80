#include <ferrolink/messages.h>
#include <ferrolink/timer.h>

#include "recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace ferro;

namespace {

// Milliseconds since it was made.
class TStopwatch {
public:
    long long Elapsed() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart).count();
    }

private:
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

} // namespace

TEST(Messages, ArriveInOrderOnlyWhilePumping)
{
    std::vector<std::intptr_t> got;
    const HWND w = AllocateHWnd([&](TMessage& m) { got.push_back(m.LParam); });
    PostMessage(w, 1100, 0, 1);
    PostMessage(w, 1100, 0, 2);
    EXPECT_TRUE(got.empty());
    ProcessMessages();
    EXPECT_EQ(got, (std::vector<std::intptr_t> {1, 2}));
    DeallocateHWnd(w);
}

TEST(Messages, PostedFromAnotherThreadArriveOnThisOne)
{
    std::thread::id deliveredOn;
    const HWND w = AllocateHWnd([&](TMessage&) { deliveredOn = std::this_thread::get_id(); });
    std::thread([w] { PostMessage(w, 1100, 0, 0); }).join();
    EXPECT_TRUE(PumpUntil([&] { return deliveredOn != std::thread::id(); }));
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
    DeallocateHWnd(w);
}

// A thread that only posts (it has no queue of its own) ends cleanly, and
// what it posted arrives.
TEST(Messages, APosterThreadEndsCleanlyAndItsMessagesArrive)
{
    int calls = 0;
    const HWND own = AllocateHWnd([&](TMessage&) { ++calls; });
    for (int i = 0; i < 3; ++i)
        std::thread([own] { EXPECT_TRUE(PostMessage(own, 1100, 0, 0)); }).join();
    EXPECT_TRUE(PumpUntil([&] { return calls == 3; }));
    DeallocateHWnd(own);
}

TEST(Messages, QueuedForADestroyedWindowAreDropped)
{
    int calls = 0;
    bool prepared = false;
    const HWND w = AllocateHWnd([&](TMessage&) { ++calls; });
    PostMessageWith(w, 1100, 0, 0, [&] { return prepared = true; });
    DeallocateHWnd(w);
    ProcessMessages();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(prepared);
}

TEST(Messages, PreparationCanDropAMessage)
{
    int calls = 0;
    const HWND w = AllocateHWnd([&](TMessage&) { ++calls; });
    PostMessageWith(w, 1100, 0, 0, [] { return false; });
    PostMessageWith(w, 1100, 0, 0, [] { return true; });
    ProcessMessages();
    EXPECT_EQ(calls, 1);
    DeallocateHWnd(w);
}

TEST(Messages, AnExceptionInAWindowProcedureGoesToTheApplicationHandler)
{
    TakeRecordedExceptions();
    int after = 0;
    const HWND w = AllocateHWnd([&](TMessage& m) {
        if (m.LParam == 1)
            throw std::runtime_error("boom");
        ++after;
    });
    PostMessage(w, 1100, 0, 1);
    PostMessage(w, 1100, 0, 2);
    ProcessMessages();
    EXPECT_EQ(TakeRecordedExceptions(), (std::vector<std::string> {"boom"}));
    EXPECT_EQ(after, 1); // the loop went on
    DeallocateHWnd(w);
}

TEST(Messages, AWindowProcedureMayDestroyItsOwnWindow)
{
    HWND w = 0;
    int calls = 0;
    w = AllocateHWnd([&](TMessage&) {
        ++calls;
        DeallocateHWnd(w);
    });
    PostMessage(w, 1100, 0, 0);
    PostMessage(w, 1100, 0, 0);
    ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST(Messages, WaitingSleepsUntilAnEventArrives)
{
    bool got = false;
    const HWND w = AllocateHWnd([&](TMessage&) { got = true; });
    std::thread poster([w] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PostMessage(w, 1100, 0, 0);
    });
    const TStopwatch clock;
    while (!got)
        WaitAndProcessMessages();
    EXPECT_GE(clock.Elapsed(), 90);
    poster.join();
    DeallocateHWnd(w);
}

// --- TTimer ------------------------------------------------------------------

TEST(Timer, FiresThroughTheQueueAfterItsInterval)
{
    TTimer timer(nullptr);
    int ticks = 0;
    timer.OnTimer = [&](TComponent*) { ++ticks; };
    timer.SetEnabled(false);
    timer.SetInterval(50);
    const TStopwatch clock;
    timer.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks > 0; }, 2000));
    EXPECT_GE(clock.Elapsed(), 45);
}

TEST(Timer, RestartsOnlyWhenEnabledOrIntervalChanges)
{
    TTimer timer(nullptr);
    int ticks = 0;
    timer.OnTimer = [&](TComponent* t) {
        ++ticks;
        static_cast<TTimer*>(t)->SetEnabled(false);
    };
    timer.SetEnabled(false);
    timer.SetInterval(200);
    const TStopwatch clock;
    timer.SetEnabled(true);
    PumpFor(120);
    // Arming again with the same values keeps the countdown where it is.
    timer.SetEnabled(true);
    timer.SetInterval(200);
    EXPECT_TRUE(PumpUntil([&] { return ticks > 0; }, 2000));
    EXPECT_LT(clock.Elapsed(), 300);
}

TEST(Timer, IntervalZeroNeverFires)
{
    TTimer timer(nullptr);
    int ticks = 0;
    timer.OnTimer = [&](TComponent*) { ++ticks; };
    timer.SetInterval(0);
    timer.SetEnabled(true);
    PumpFor(150);
    EXPECT_EQ(ticks, 0);
}
