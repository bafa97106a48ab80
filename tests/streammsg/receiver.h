// Test support: a TQBStrmServ listening on a free port, recording messages.
#pragma once

#include <ferrolink/qbmsg.h>

#include "peers.h"
#include "recorder.h"

#include <gtest/gtest.h>

using namespace ferro;

struct ReceivedMessage {
    std::string From;
    std::string Body;
    std::int64_t PositionAtCall = -1;
    bool IsMemoryStream = false;
};

struct RunningReceiver {
    explicit RunningReceiver(bool handleMessages = true)
    {
        TakeRecordedExceptions();
        Server.Port = FreePort();
        if (handleMessages)
            Server.OnMSG = [this](TComponent* sender, const std::string& from, TStream& body) {
                EXPECT_EQ(sender, &Server);
                ReceivedMessage m;
                m.From = from;
                m.PositionAtCall = body.Position();
                m.IsMemoryStream = dynamic_cast<TMemoryStream*>(&body) != nullptr;
                m.Body.resize(static_cast<std::size_t>(body.Size()));
                body.ReadBuffer(m.Body.data(), body.Size());
                Messages.push_back(m);
            };
        Server.Loaded();
    }
    std::uint16_t Port() const { return static_cast<std::uint16_t>(Server.Port); }

    // Runs one raw exchange against the server; returns the client's reply.
    std::string Exchange(std::vector<std::string> chunks, int pauseMs = 0, bool closeEarly = false)
    {
        auto reply = ExchangeAsync(Port(), std::move(chunks), pauseMs, closeEarly);
        EXPECT_TRUE(PumpUntil([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 15000));
        return reply.get();
    }

    // Connects, sends the chunks and resets the connection.
    void ResetAfter(std::vector<std::string> chunks)
    {
        auto done = ResetAfterAsync(Port(), std::move(chunks));
        EXPECT_TRUE(PumpUntil([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 15000));
    }

    TQBStrmServ Server {nullptr};
    std::vector<ReceivedMessage> Messages;
};

inline const std::string kOkReply = "OK              ";

// After a hostile exchange the server must still answer a valid message and
// deliver it whole.
inline void ExpectStillServing(RunningReceiver& r)
{
    const std::size_t before = r.Messages.size();
    EXPECT_EQ(r.Exchange({"0010Quillbrook   5hello"}), kOkReply);
    ASSERT_EQ(r.Messages.size(), before + 1);
    EXPECT_EQ(r.Messages.back().From, "Quillbrook");
    EXPECT_EQ(r.Messages.back().Body, "hello");
}
