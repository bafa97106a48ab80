#include "winsock.h"
#include "probe.h"

#include "connected.h"
#include "helpers.h"
#include "peers.h"
#include "recorder.h"
#include "loop.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <functional>

using namespace ferro;

using namespace winsock;
using ::testing::ElementsAre;

TEST(FerrolinkCore, ANewComponentStartsCleanWithAnOpenUnconnectedSocket)
{
    TFerrolink link(nullptr);
    EXPECT_EQ(link.Port, 0);
    EXPECT_EQ(link.Host, "");
    EXPECT_EQ(link.TimeOut, 0);
    EXPECT_EQ(link.ReportLevel, 1);
    EXPECT_EQ(link.Status(), "");
    EXPECT_EQ(link.GetLastErrorNo(), 0);
    EXPECT_EQ(link.BytesTotal(), 0);
    EXPECT_EQ(link.BytesSent(), 0);
    EXPECT_EQ(link.BytesRecvd(), 0);
    EXPECT_FALSE(link.GetConnected());
    EXPECT_FALSE(link.BeenTimedOut());
    EXPECT_FALSE(link.BeenCanceled);
    EXPECT_NE(link.Handle(), kNoSocket);
    EXPECT_TRUE(HandleIsOpen(link.Handle()));
}

TEST(FerrolinkCore, EachComponentStartsAndStopsTheSocketLibrary)
{
    const int before = StartupCount();
    {
        TFerrolink a(nullptr);
        TFerrolink b(nullptr);
        EXPECT_EQ(StartupCount(), before + 2);
    }
    EXPECT_EQ(StartupCount(), before);
}

TEST(FerrolinkCore, DestroyingReportsTheCloseWithoutOnDisconnectAndLeavesNoSocket)
{
    std::vector<std::string> statuses;
    int disconnects = 0;
    struct Exposed : TFerrolink {
        using TFerrolink::TFerrolink;
        using TFerrolink::FStatusHook;
    };
    int fd;
    {
        Exposed link(nullptr);
        link.ReportLevel = 4;
        link.FStatusHook = [&](TComponent*, const std::string& s) { statuses.push_back(s); };
        link.OnDisconnect = [&](TComponent*) { ++disconnects; };
        fd = link.Handle();
    }
    EXPECT_THAT(statuses, ElementsAre("Request Close Socket"));
    EXPECT_EQ(disconnects, 0);
    EXPECT_FALSE(HandleIsOpen(fd));
}

TEST(FerrolinkCore, AnOwnerDestroysItsComponent)
{
    int fd;
    {
        TComponent form(nullptr);
        fd = CreateOwned<TFerrolink>(&form)->Handle();
        EXPECT_TRUE(HandleIsOpen(fd));
    }
    EXPECT_FALSE(HandleIsOpen(fd));
}

TEST(FerrolinkCore, TwoReadsOfWSAInfoGiveTwoLists)
{
    TFerrolink link(nullptr);
    auto a = link.GetWSAInfo();
    auto b = link.GetWSAInfo();
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->Strings, b->Strings);
    EXPECT_EQ(a->Strings.front(), "Version: 1.1");
}

// --- window procedure and dispatch ---------------------------------------------

TEST(FerrolinkDispatch, EachEventCodeFiresItsOwnHook)
{
    TProbe link;
    link.ReportLevel = 8;
    std::vector<std::string> fired;
    const auto hook = [&](const char* name) { return [&fired, name](TComponent* s) { fired.push_back(name); (void)s; }; };
    link.FReadHook = hook("read");
    link.FWriteHook = hook("write");
    link.FOOBHook = hook("oob");
    link.FAcceptHook = hook("accept");
    link.FConnectHook = hook("connect");
    link.FCloseHook = hook("close");
    for (long event : {FD_READ, FD_WRITE, FD_OOB, FD_ACCEPT, FD_CONNECT, FD_CLOSE, 64L})
        link.Post(WM_SOCKETNOTIFY, static_cast<int>(event));
    ProcessMessages();
    EXPECT_THAT(fired, ElementsAre("read", "write", "oob", "accept", "connect", "close"));
    // Seven notifications, each reported, the unknown one too.
    EXPECT_EQ(std::count(link.Statuses.begin(), link.Statuses.end(), "Socket Opperation Triggered"), 7);
}

TEST(FerrolinkDispatch, AcceptHookGetsTheComponentAsSenderAfterTheStatusText)
{
    TProbe link;
    link.ReportLevel = 8;
    TComponent* sender = nullptr;
    std::string statusWhenFired;
    link.FAcceptHook = [&](TComponent* s) {
        sender = s;
        statusWhenFired = link.Status();
    };
    link.Post(WM_SOCKETNOTIFY, FD_ACCEPT);
    ProcessMessages();
    EXPECT_EQ(sender, &link);
    EXPECT_EQ(statusWhenFired, "Socket Opperation Triggered");
}

TEST(FerrolinkDispatch, CloseOnEitherMessageClearsConnectedAndFiresOnDisconnectOnce)
{
    for (unsigned msg : {WM_SOCKETNOTIFY, WM_SOCKETDONE}) {
        TProbe link;
        int disconnects = 0;
        int closeHooks = 0;
        link.OnDisconnect = [&](TComponent*) { ++disconnects; };
        link.FCloseHook = [&](TComponent*) { ++closeHooks; };
        link.Post(msg, FD_CLOSE);
        ProcessMessages();
        EXPECT_EQ(disconnects, 1) << msg;
        EXPECT_EQ(closeHooks, msg == WM_SOCKETNOTIFY ? 1 : 0) << msg;
        EXPECT_EQ(link.FAsyncDone, msg == WM_SOCKETDONE) << msg;
    }
}

TEST(FerrolinkDispatch, ErrorCodeSetsLastEventOkForEveryMessage)
{
    TProbe link;
    link.Post(WM_SOCKETDONE, FD_CONNECT, WSAECONNREFUSED);
    ProcessMessages();
    EXPECT_FALSE(link.FLastEventOk);
    link.Post(1234, 0, 0); // any message that reaches the window
    ProcessMessages();
    EXPECT_TRUE(link.FLastEventOk);
}

TEST(FerrolinkDispatch, MessagesQueuedForADestroyedComponentChangeNothing)
{
    int disconnects = 0;
    {
        TProbe link;
        link.OnDisconnect = [&](TComponent*) { ++disconnects; };
        link.Post(WM_SOCKETNOTIFY, FD_CLOSE);
    }
    ProcessMessages();
    EXPECT_EQ(disconnects, 0);
}

// --- the completion wait -----------------------------------------------------

TEST(FerrolinkWait, TimesOutAfterTimeOutWithTheTimerTextsInOrder)
{
    TProbe link;
    link.ReportLevel = 8;
    link.TimeOut = 200;
    const TStopwatch clock;
    const auto end = link.AwaitCompletion(FD_READ); // nothing will ever arrive
    EXPECT_EQ(end, TProbe::TWaitEnd::TimedOut);
    EXPECT_GE(clock.ElapsedMs(), 190);
    EXPECT_LT(clock.ElapsedMs(), 2000);
    EXPECT_TRUE(link.BeenTimedOut());
    EXPECT_THAT(link.Statuses, ElementsAre("Timer On", "Timer Off", "Timer Triggered", "Timer Off"));
}

TEST(FerrolinkWait, EndsByItsNotification)
{
    TProbe link;
    link.Post(WM_SOCKETDONE, FD_WRITE); // the notification is already on its way
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::Done);
    link.Post(WM_SOCKETDONE, FD_WRITE, WSAECONNRESET);
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::Failed);
}

TEST(FerrolinkWait, ACancelSetByAHandlerInsideThePumpEndsIt)
{
    TProbe link;
    Later(50, [&] { link.BeenCanceled = true; });
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::Canceled);
}

// A program whose user closes it during a post must end, not wait for the
// network: asking the application to quit ends every wait under way as a
// cancel, and only those.
TEST(FerrolinkWait, AnApplicationAskedToQuitEndsTheWaitsUnderWayAsCancels)
{
    UnansweringListener unanswering;
    TcpListener silent;
    const std::pair<const char*, std::function<void(TProbe&)>> waits[] = {
        {"Connection Canceled", [&](TProbe& l) { l.Port = unanswering.Listener.Port(); l.Connect(); }},
        {"Read Canceled", [&](TProbe& l) { l.Port = silent.Port(); l.Connect(); l.Read(1); }},
    };
    for (const auto& [text, wait] : waits) {
        TProbe link;
        link.Host = "127.0.0.1";
        link.TimeOut = 5000; // what would end the wait otherwise
        std::string failure;
        Later(0, [&, wait = wait] { failure = FailureOf([&] { wait(link); }); });
        Later(100, [] { QuitApplication(); });
        const TStopwatch clock;
        RunApplication();
        EXPECT_EQ(failure, text);
        EXPECT_LT(clock.ElapsedMs(), 4000);
    }
    TProbe later; // a wait that starts after the quit is not canceled by it
    later.Post(WM_SOCKETDONE, FD_WRITE);
    EXPECT_EQ(later.AwaitCompletion(FD_READ), TProbe::TWaitEnd::Done);
}

TEST(FerrolinkWait, TimeOutWinsOverCancel)
{
    TProbe link;
    link.ReportLevel = 8;
    link.TimeOut = 50;
    // Both flags are set in the same event, before the loop looks.
    link.FStatusHook = [&](TComponent*, const std::string& s) {
        if (s == "Timer Triggered")
            link.BeenCanceled = true;
    };
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::TimedOut);
    EXPECT_TRUE(link.BeenCanceled);
}

TEST(FerrolinkWait, CancelWinsOverFailure)
{
    TProbe link;
    link.Post(WM_SOCKETDONE, FD_WRITE, WSAECONNRESET);
    link.BeenCanceled = true;
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::Canceled);
}

TEST(FerrolinkWait, ALateNotificationSetsTheFlagsAndTheNextWaitClearsThem)
{
    TProbe link;
    link.TimeOut = 50;
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::TimedOut);
    link.Post(WM_SOCKETDONE, FD_READ, WSAECONNRESET); // arrives after the wait
    ProcessMessages();
    EXPECT_TRUE(link.FAsyncDone);
    EXPECT_FALSE(link.FLastEventOk);
    // The next wait starts afresh and is ended by its own time-out.
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::TimedOut);
}

TEST(FerrolinkWait, WithoutTimeOutOnlyTheNotificationOrACancelEndsIt)
{
    TProbe link;
    link.TimeOut = 0;
    Later(300, [&] { link.Post(WM_SOCKETDONE, FD_READ); });
    const TStopwatch clock;
    EXPECT_EQ(link.AwaitCompletion(FD_READ), TProbe::TWaitEnd::Done);
    EXPECT_GE(clock.ElapsedMs(), 290);
    EXPECT_FALSE(link.BeenTimedOut());
}

TEST(FerrolinkWait, NegativeTimeOutIsARangeErrorBeforeTheWait)
{
    TProbe link;
    link.TimeOut = -1;
    try {
        link.AwaitCompletion(FD_WRITE);
        FAIL();
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

// --- the socket's renewal ------------------------------------------------------

TEST(FerrolinkSocket, RequestCloseSocketPutsAFreshSocketInPlace)
{
    TProbe link;
    link.ReportLevel = 4;
    const int before = link.Handle();
    link.RequestCloseSocket();
    EXPECT_THAT(link.Statuses, ElementsAre("Request Close Socket"));
    EXPECT_NE(link.Handle(), kNoSocket);
    EXPECT_TRUE(HandleIsOpen(link.Handle()));
    EXPECT_FALSE(link.GetConnected());
    (void)before;
}
