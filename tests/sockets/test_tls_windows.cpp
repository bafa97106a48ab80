// TLS in the Windows build, which has no backend for it yet: a setting that
// asks for it fails at once, in words, and nothing of the message travels.
#include "connected.h"

#include "helpers.h"

#include <ferrolink/tls.h>

#include <gtest/gtest.h>

using namespace ferro;

TEST(TlsUnavailable, ASettingThatAsksForItFailsAtOnceInWordsAndNothingTravels)
{
    TcpListener listener;
    TProbe link;
    link.Host = "127.0.0.1";
    link.Port = listener.Port();
    link.TimeOut = 5000;
    link.Tls.Enabled = true;
    EXPECT_EQ(ConnectFailure(link), "TLS Setup Failed: TLS is not available in this build");
    EXPECT_FALSE(link.GetConnected());
    const int peer = listener.Accept(500);
    if (peer >= 0) { // connected before TLS was asked for: nothing came, and it is closed
        EXPECT_EQ(RecvAll(peer, 2000), "");
    }
    CloseFd(peer);
    EXPECT_EQ(FailureOf([] { EnsureIdentity("identity"); }), "TLS is not available in this build");
}
