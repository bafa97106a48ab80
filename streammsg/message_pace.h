// How long one received message may take: MessageDeadline from its
// acceptance, and beyond it only while a large body keeps to the minimum
// rate, counted from the go-ahead. The time a body is given grows with what
// has arrived, never with what its header declares, so that no client holds
// a one-at-a-time receiver longer than the deadline by sending less than the
// rate.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ferro::qbmsg {

class TMessagePace {
public:
    using Clock = std::chrono::steady_clock;

    /// A message that begins now; `deadlineMs` 0 or less for no limit.
    void Start(std::int32_t deadlineMs, std::int64_t minimumRate);
    /// The large body of `size` bytes begins now, `received` bytes into the
    /// connection.
    void StartBody(std::uint64_t size, std::uint64_t received);
    /// Whether there is a limit at all.
    bool Limited() const { return FDeadlineMs > 0; }
    /// Milliseconds until the message falls behind, given `received` bytes
    /// of the connection so far; 0 when it has.
    std::int64_t MsLeft(std::uint64_t received, Clock::time_point now) const;
    /// The failure of a message that fell behind: "Read Timed Out", or for a
    /// large body what came and the rate it missed.
    std::string Failure(std::uint64_t received, Clock::time_point now) const;

private:
    std::int64_t FDeadlineMs = 0;
    std::int64_t FRate = 0;
    Clock::time_point FStart {};
    bool FInBody = false;
    Clock::time_point FBodyStart {};
    std::uint64_t FBodySize = 0;
    std::uint64_t FReceivedAtBody = 0;
};

} // namespace ferro::qbmsg
