#include "message_pace.h"

#include <algorithm>
#include <cstdio>

namespace ferro::qbmsg {

using namespace std::chrono;

void TMessagePace::Start(std::int32_t deadlineMs, std::int64_t minimumRate)
{
    *this = TMessagePace();
    FDeadlineMs = std::max<std::int32_t>(deadlineMs, 0);
    FRate = std::max<std::int64_t>(minimumRate, 0);
    FStart = Clock::now();
}

void TMessagePace::StartBody(std::uint64_t size, std::uint64_t received)
{
    FInBody = true;
    FBodyStart = Clock::now();
    FBodySize = size;
    FReceivedAtBody = received;
}

std::int64_t TMessagePace::MsLeft(std::uint64_t received, Clock::time_point now) const
{
    if (!Limited())
        return INT64_MAX;
    Clock::time_point end = FStart + milliseconds(FDeadlineMs);
    // Past the deadline a body goes on only while it keeps to the rate:
    // each byte that has arrived since the go-ahead earns 1/rate seconds.
    if (FInBody && FRate > 0) {
        const std::uint64_t body = std::min(received - FReceivedAtBody, FBodySize);
        const auto earned = microseconds(static_cast<std::int64_t>(static_cast<long double>(body) * 1e6L / FRate));
        end = std::max(end, FBodyStart + earned);
    }
    return std::max<std::int64_t>(duration_cast<milliseconds>(end - now).count() + (end > now ? 1 : 0), 0);
}

std::string TMessagePace::Failure(std::uint64_t received, Clock::time_point now) const
{
    if (!FInBody || FRate == 0)
        return "Read Timed Out";
    const std::uint64_t body = std::min(received - FReceivedAtBody, FBodySize);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", duration<double>(now - FBodyStart).count());
    return "Message body too slow (" + std::to_string(body) + " of " + std::to_string(FBodySize) + " bytes in " + seconds +
        " s, at least " + std::to_string(FRate) + " bytes a second)";
}

} // namespace ferro::qbmsg
