// The tickets a TLS client keeps: bounded, the latest of each server, each
// handed out once (a ticket used twice would let the connections be linked).
#include "tls_context.h"

#include <gtest/gtest.h>

#include <string>

using namespace ferro::tls;

namespace {

// A session standing for a ticket, told apart by its time.
SslSessionPtr Ticket(long time)
{
    SslSessionPtr session(SSL_SESSION_new());
    SSL_SESSION_set_time(session.get(), time);
    return session;
}

long TimeOf(const SslSessionPtr& session)
{
    return session ? SSL_SESSION_get_time(session.get()) : -1;
}

} // namespace

TEST(TlsTickets, EachIsHandedOutOnceTheLatestOfAServerAndTheOldestServersGoFirst)
{
    TTickets tickets;
    tickets.Keep("a", Ticket(1));
    tickets.Keep("a", Ticket(2)); // the newer replaces the older
    EXPECT_EQ(TimeOf(tickets.Take("a")), 2);
    EXPECT_EQ(TimeOf(tickets.Take("a")), -1);
    EXPECT_EQ(TimeOf(tickets.Take("b")), -1);

    for (long server = 0; server <= static_cast<long>(TTickets::kKept); ++server)
        tickets.Keep(std::to_string(server), Ticket(100 + server));
    EXPECT_EQ(TimeOf(tickets.Take("0")), -1); // one server too many: the first went
    EXPECT_EQ(TimeOf(tickets.Take("1")), 101);
    EXPECT_EQ(TimeOf(tickets.Take(std::to_string(TTickets::kKept))), 100 + static_cast<long>(TTickets::kKept));
}
