#include "winsock.h"
#include <ferrolink/qbmsg.h>

#include "peers.h"
#include "recorder.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <chrono>

using namespace ferro;

using ::testing::ElementsAre;

namespace {

struct Server : TQBGeneralServer {
    explicit Server(TComponent* owner = nullptr) : TQBGeneralServer(owner)
    {
        Port = FreePort();
        FStatusHook = [this](TComponent*, const std::string& s) { Statuses.push_back(s); };
    }
    ~Server() override { FStatusHook = nullptr; }
    TSocketHandle ListenHandle() const { return FListenHandle; }
    std::vector<std::string> Statuses;
};

bool Ready(std::future<std::string>& f)
{
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::string Exchange(std::uint16_t port, std::vector<std::string> chunks)
{
    auto reply = ExchangeAsync(port, std::move(chunks));
    EXPECT_TRUE(PumpUntil([&] { return Ready(reply); }, 10000));
    return reply.get();
}

} // namespace

TEST(Server, ListensOnlyOnceLoaded)
{
    Server server;
    EXPECT_EQ(ConnectTo(static_cast<std::uint16_t>(server.Port)), -1); // created by code: idle
    server.Loaded();
    const int fd = ConnectTo(static_cast<std::uint16_t>(server.Port));
    EXPECT_GE(fd, 0);
    CloseFd(fd);
}

TEST(Server, InDesignModeItNeverListens)
{
    TComponent designer(nullptr);
    designer.SetDesigning(true);
    auto* server = CreateOwned<Server>(&designer);
    designer.NotifyComponentsLoaded();
    EXPECT_EQ(ConnectTo(static_cast<std::uint16_t>(server->Port)), -1);
}

TEST(Server, WithoutAHandlerEachConnectionIsClosedAtOnce)
{
    Server server;
    server.Loaded();
    EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), "");
    EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), ""); // and again
}

TEST(Server, TheHandlerTalksOnTheClientsConnectionAndTheListenerComesBack)
{
    Server server;
    server.Loaded();
    const auto listening = server.Handle();
    bool connectedDuring = true;
    TSocketHandle during = 0;
    server.OnClientContact = [&](TComponent* sender) {
        EXPECT_EQ(sender, &server);
        connectedDuring = server.GetConnected();
        during = server.Handle();
        server.Write("hello " + server.Read(4));
    };
    EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {"you!"}), "hello you!");
    EXPECT_FALSE(connectedDuring);
    EXPECT_NE(during, listening);
    EXPECT_EQ(server.Handle(), listening);
}

TEST(Server, AServiceReportsItsStepsInOrder)
{
    Server server;
    server.Loaded();
    server.ReportLevel = 4;
    server.Statuses.clear();
    server.OnClientContact = [&](TComponent*) { server.Write("x"); };
    Exchange(static_cast<std::uint16_t>(server.Port), {});
    EXPECT_THAT(server.Statuses, ElementsAre("Accepting", "Write", "Sending Buffer", "Disconnecting", "Request Close Socket", "Listening"));
    EXPECT_EQ(server.Status(), "Listening");
}

TEST(Server, KeepsNoSocketButTheListenerAfterAService)
{
    Server server;
    server.Loaded();
    const int before = OpenDescriptors();
    for (int i = 0; i < 3; ++i)
        Exchange(static_cast<std::uint16_t>(server.Port), {});
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(Server, ConnectDoesNothing)
{
    Server server;
    server.ReportLevel = 16;
    server.Host = "127.0.0.1";
    server.Connect();
    EXPECT_TRUE(server.Statuses.empty());
    EXPECT_FALSE(server.GetConnected());
}

TEST(Server, AFailingServiceClosesTheClientAndListensAgainBeforeItIsReported)
{
    Server server;
    server.Loaded();
    int served = 0;
    server.OnClientContact = [&](TComponent*) {
        if (++served == 1)
            throw ESockError("first one fails");
        server.Write("fine");
    };
    TakeRecordedExceptions();
    EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), "");
    EXPECT_THAT(TakeRecordedExceptions(), ElementsAre("first one fails"));
    EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), "fine");
}

TEST(Server, AFailedServiceWhoseCloseFailsTooStillListensAgain)
{
    struct FailingClose : winsock::TPosixWinsock {
        int closesocket(winsock::SOCKET s) override
        {
            TPosixWinsock::closesocket(s);
            WSASetLastError(winsock::WSAENETDOWN);
            return winsock::SOCKET_ERROR;
        }
    } failingClose;
    Server server;
    server.Loaded();
    server.OnClientContact = [&](TComponent*) { throw ESockError("first one fails"); };
    TakeRecordedExceptions();
    {
        winsock::TWinsockOverride use(failingClose);
        EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), "");
    }
    EXPECT_THAT(TakeRecordedExceptions(), ElementsAre("first one fails"));
    // Without a failure of its own, the failing close is what is reported.
    server.OnClientContact = nullptr;
    {
        winsock::TWinsockOverride use(failingClose);
        EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), "");
    }
    EXPECT_THAT(TakeRecordedExceptions(), ElementsAre("Unknown Error No. 10050"));
    server.OnClientContact = [&](TComponent*) { server.Write("fine"); };
    EXPECT_EQ(Exchange(static_cast<std::uint16_t>(server.Port), {}), "fine");
}

TEST(Server, APortAnotherProgramHoldsIsToldInTheStatusAndOnError)
{
    TcpListener other;
    Server server;
    server.ReportLevel = 2;
    server.Port = other.Port();
    std::vector<std::string> errors;
    server.OnError = [&](TComponent*, std::uint16_t number, const std::string& text) {
        errors.push_back(std::to_string(number) + " " + text);
    };
    server.Loaded(); // raises nothing
    const std::string text = "Cannot Listen On Port " + std::to_string(other.Port()) + " (Unknown Error No. 10048)";
    EXPECT_EQ(server.Status(), text);
    EXPECT_EQ(errors, std::vector<std::string> {"10048 " + text});
}

TEST(Server, ListensOnBothFamiliesOrOnTheAddressItIsGivenOrOnIPv4WhereThereIsNoIPv6)
{
    const auto reachable = [](Server& server) {
        server.Loaded();
        std::string seen;
        const int v4 = ConnectTo(static_cast<std::uint16_t>(server.Port));
        seen += v4 >= 0 ? "v4" : "-";
        CloseFd(v4);
        const int v6 = ReachesOverIPv6(static_cast<std::uint16_t>(server.Port));
        seen += v6 == 1 ? " v6" : v6 == 0 ? " -" : " (no ::1)";
        server.StopListening();
        return seen;
    };
    Server both;
    const std::string v6 = ReachesOverIPv6(FreePort()) < 0 ? " (no ::1)" : " v6";
    EXPECT_EQ(reachable(both), "v4" + v6);
    Server onlyV4;
    onlyV4.BindAddress = "127.0.0.1";
    EXPECT_EQ(reachable(onlyV4), "v4" + std::string(v6 == " v6" ? " -" : v6));
    if (v6 == " v6") {
        Server onlyV6;
        onlyV6.BindAddress = "[::1]";
        EXPECT_EQ(reachable(onlyV6), "- v6");
    }
    // A system without IPv6 refuses its any address: IPv4's is taken.
    struct NoIPv6 : winsock::TPosixWinsock {
        int bind(winsock::SOCKET s, const winsock::sockaddr* name, int length) override
        {
            if (name->sa_family == winsock::kFamilyInet6) {
                WSASetLastError(winsock::WSAEAFNOSUPPORT);
                return winsock::SOCKET_ERROR;
            }
            return TPosixWinsock::bind(s, name, length);
        }
    } noIPv6;
    winsock::TWinsockOverride use(noIPv6);
    Server withoutIPv6;
    EXPECT_EQ(reachable(withoutIPv6).substr(0, 2), "v4");
}

TEST(Server, APortBeyondSixteenBitsIsARangeError)
{
    Server server;
    server.Port = 70000;
    EXPECT_THROW(server.Loaded(), ERangeError);
}

TEST(Server, TwoClientsAreServedOneAfterTheOther)
{
    Server server;
    server.Loaded();
    int inside = 0;
    int most = 0;
    server.OnClientContact = [&](TComponent*) {
        most = std::max(most, ++inside);
        server.Write(server.Read(2));
        --inside;
    };
    auto a = ExchangeAsync(static_cast<std::uint16_t>(server.Port), {"aa"});
    auto b = ExchangeAsync(static_cast<std::uint16_t>(server.Port), {"bb"});
    ASSERT_TRUE(PumpUntil([&] { return Ready(a) && Ready(b); }, 10000));
    EXPECT_EQ(a.get(), "aa");
    EXPECT_EQ(b.get(), "bb");
    EXPECT_EQ(most, 1);
}

TEST(Server, ItsBacklogSaysHowManyConnectionsWaitForIt)
{
    // The server is not pumped: every connection waits in the system's
    // queue, which holds as many as the backlog allows (Linux: one more).
    const auto waitingAfterConnects = [](int backlog) {
        Server server;
        server.Backlog = backlog;
        server.Loaded();
        std::vector<int> clients;
        for (int i = 0; i < 6; ++i)
            clients.push_back(ConnectNonBlocking(static_cast<std::uint16_t>(server.Port)));
        // Each handshake is awaited for what is left of 300 ms.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        int connected = 0;
        for (int fd : clients) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            connected += ConnectedWithin(fd, static_cast<int>(std::max<long long>(left, 0)));
            CloseFd(fd);
        }
        return connected;
    };
    EXPECT_EQ(waitingAfterConnects(8), 6);
    EXPECT_LT(waitingAfterConnects(1), 6);
}
