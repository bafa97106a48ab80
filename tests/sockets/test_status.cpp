#include "winsock.h"
#include "probe.h"

#include "peers.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <functional>

using namespace ferro;

using namespace winsock;
using ::testing::ElementsAre;

TEST(FerrolinkStatus, ATextIsReportedWhenItsLevelIsAtMostReportLevel)
{
    TProbe link;
    link.ReportLevel = 4;
    std::vector<std::string> published; // OnStatus sees what the hook sees, after it
    link.OnStatus = [&](TComponent* sender, const std::string& text) {
        EXPECT_EQ(sender, &link);
        EXPECT_EQ(link.Statuses.back(), text);
        published.push_back(text);
    };
    link.StatusMessage(4, "at the level");
    link.StatusMessage(8, "above it");
    link.StatusMessage(2, "below it");
    EXPECT_THAT(link.Statuses, ElementsAre("at the level", "below it"));
    EXPECT_EQ(published, link.Statuses);
    EXPECT_EQ(link.Status(), "below it");
}

TEST(FerrolinkStatus, ZeroOrNegativeReportLevelReportsNothing)
{
    for (int level : {0, -1}) {
        TProbe link;
        link.ReportLevel = level;
        for (std::uint8_t textLevel : {1, 2, 4, 8, 16})
            link.StatusMessage(textLevel, "text");
        EXPECT_EQ(link.Status(), "") << level;
        EXPECT_TRUE(link.Statuses.empty()) << level;
    }
}

TEST(FerrolinkStatus, LastErrorNoAccessorsReportAtLevelEight)
{
    TProbe link;
    link.ReportLevel = 8;
    EXPECT_EQ(link.GetLastErrorNo(), 0);
    EXPECT_EQ(link.Status(), "Getting LastError Number");
    link.SetLastErrorNo(42);
    EXPECT_EQ(link.Status(), "Setting LastError Number");
    EXPECT_EQ(link.GetLastErrorNo(), 42);
}

TEST(FerrolinkStatus, DefaultLevelIsSilentAboutTheMachinery)
{
    TProbe link;
    link.TimeOut = 10;
    link.AwaitCompletion(FD_READ);
    link.RequestCloseSocket();
    EXPECT_TRUE(link.Statuses.empty());
    EXPECT_EQ(link.Status(), "");
}

// --- ErrorManager --------------------------------------------------------------

struct ErrorCall {
    int Error;
    bool Raised;
    std::string Text;
};

void PrintTo(const ErrorCall& c, std::ostream* os)
{
    *os << "last error " << c.Error;
}

class ErrorManagerWith : public ::testing::TestWithParam<ErrorCall> {};

TEST_P(ErrorManagerWith, TheLastErrorPassesTheBitTestOrRaisesItsText)
{
    const ErrorCall& c = GetParam();
    TProbe link;
    int hookCalls = 0;
    std::uint16_t hookError = 0;
    std::string hookText;
    link.FErrorHook = [&](TComponent* sender, std::uint16_t no, const std::string& text) {
        EXPECT_EQ(sender, &link);
        ++hookCalls;
        hookError = no;
        hookText = text;
    };
    int published = 0; // OnError: the same call, after the hook
    link.OnError = [&](TComponent* sender, std::uint16_t no, const std::string& text) {
        EXPECT_EQ(sender, &link);
        EXPECT_EQ(hookCalls, published + 1);
        EXPECT_EQ(no, hookError);
        EXPECT_EQ(text, hookText);
        ++published;
    };
    WSASetLastError(c.Error);
    try {
        link.ErrorManager(WSAEWOULDBLOCK);
        EXPECT_FALSE(c.Raised);
    } catch (const ESockError& e) {
        EXPECT_TRUE(c.Raised);
        EXPECT_EQ(e.Message(), c.Text);
        EXPECT_EQ(hookText, c.Text);
        EXPECT_EQ(hookError, c.Error);
    }
    EXPECT_EQ(hookCalls, c.Raised ? 1 : 0);
    EXPECT_EQ(published, hookCalls);
    EXPECT_EQ(link.GetLastErrorNo(), c.Error); // read also when tolerated
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrorManagerWith,
    ::testing::Values(ErrorCall {10035, false, ""}, ErrorCall {10047, false, ""}, ErrorCall {10043, false, ""},
        ErrorCall {10039, false, ""}, ErrorCall {10054, true, "Unknown Error No. 10054"},
        ErrorCall {10061, true, "Unknown Error No. 10061"}, ErrorCall {0, true, ""}),
    [](const auto& info) { return "Error" + std::to_string(info.param.Error); });

TEST(FerrolinkErrors, AtLevelEightTheStatusShowsTheLookedUpText)
{
    TProbe link;
    link.ReportLevel = 16;
    WSASetLastError(WSAECONNRESET);
    EXPECT_THROW(link.ErrorManager(WSAEWOULDBLOCK), ESockError);
    EXPECT_THAT(link.Statuses, ElementsAre("Checking Error In Error Manager", "Looking Up Error MessageUnknown Error No. 10054"));
}

// Every failure a component raises reaches OnError once, with the text of the
// exception and the socket error that caused it (0 when none did).
TEST(FerrolinkErrors, EveryRaisedFailureReachesOnErrorOnceWithItsCause)
{
    TcpListener silent;
    struct Case {
        const char* Text;
        int Cause;
        std::function<void(TProbe&)> Operation;
    };
    const Case cases[] = {
        {"Connection Failed", 10061, [](TProbe& l) { l.Host = "127.0.0.1"; l.Port = UnusedPort(); l.Connect(); }},
        {"Host Lookup Failed", -1, [](TProbe& l) { l.Host = "no-such-host.invalid"; l.Connect(); }},
        {"Null Remote Address", 0, [](TProbe& l) { l.Host = "0.0.0.0"; l.Connect(); }},
        {"Read Timed Out", 0, [&](TProbe& l) { l.Host = "127.0.0.1"; l.Port = silent.Port(); l.Connect(); l.TimeOut = 50; l.Read(1); }},
        {"Text Too Long (300 bytes, at most 255)", 0, [](TProbe& l) { l.Write(std::string(300, 'x')); }},
        {"Read Count Too Large (256, at most 255)", 0, [](TProbe& l) { l.Read(256); }},
    };
    for (const Case& c : cases) {
        TProbe link;
        std::vector<std::pair<int, std::string>> told;
        link.OnError = [&](TComponent*, std::uint16_t no, const std::string& text) { told.emplace_back(no, text); };
        std::string raised;
        try {
            c.Operation(link);
        } catch (const ESockError& e) {
            raised = e.Message();
        }
        EXPECT_EQ(raised, c.Text);
        ASSERT_EQ(told.size(), 1u) << c.Text;
        EXPECT_EQ(told[0].second, c.Text);
        if (c.Cause >= 0)
            EXPECT_EQ(told[0].first, c.Cause) << c.Text;
        else
            EXPECT_EQ(told[0].first, link.FailureCause()) << c.Text; // the resolver's answer, whatever it is
    }
}

// --- faults of the socket library ------------------------------------------------

namespace {

struct FailingStartup : TPosixWinsock {
    explicit FailingStartup(int error) : Error(error) {}
    int WSAStartup(std::uint16_t, WSADATA*) override
    {
        WSASetLastError(Error);
        return WSASYSNOTREADY;
    }
    int Error;
};

struct FailingSocket : TPosixWinsock {
    SOCKET socket(int, int, int) override
    {
        WSASetLastError(WSAEMFILE);
        return INVALID_SOCKET;
    }
};

struct FailingClose : TPosixWinsock {
    int closesocket(SOCKET) override
    {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
};

} // namespace

TEST(FerrolinkFaults, AFailedStartupRaisesAndCreatesNoSocket)
{
    const int before = StartupCount();
    FailingStartup fault(WSASYSNOTREADY);
    TWinsockOverride use(fault);
    try {
        TFerrolink link(nullptr);
        FAIL();
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Unknown Error No. 10091");
    }
    EXPECT_EQ(StartupCount(), before); // nothing to clean up, nothing cleaned twice
}

TEST(FerrolinkFaults, AToleratedStartupFailureLeavesNoSocketNotSocketZero)
{
    FailingStartup fault(WSAEWOULDBLOCK);
    TWinsockOverride use(fault);
    TProbe link;
    link.ReportLevel = 4;
    EXPECT_EQ(link.Handle(), kNoSocket);
    link.RequestCloseSocket(); // only reports and clears Connected
    EXPECT_THAT(link.Statuses, ElementsAre("Request Close Socket"));
    EXPECT_EQ(link.Handle(), kNoSocket);
}

TEST(FerrolinkFaults, ASocketThatCannotBeCreatedFailsTheConstructorAndStopsTheLibrary)
{
    const int before = StartupCount();
    FailingSocket fault;
    TWinsockOverride use(fault);
    EXPECT_THROW(TFerrolink(nullptr), ESockError);
    EXPECT_EQ(StartupCount(), before);
}

TEST(FerrolinkFaults, AFailingCloseRaisesAndKeepsTheHandle)
{
    TProbe link;
    const auto handle = link.Handle();
    {
        FailingClose fault;
        TWinsockOverride use(fault);
        try {
            link.Disconnect();
            FAIL();
        } catch (const ESockError& e) {
            EXPECT_STREQ(e.what(), "Unknown Error No. 10038");
        }
    }
    EXPECT_EQ(link.Handle(), handle);
    EXPECT_EQ(link.GetLastErrorNo(), WSAENOTSOCK);
    EXPECT_FALSE(link.GetConnected());
}
