#include "tls_outgoing.h"

#include "channel.h"

#include <cerrno>
#include <chrono>

namespace ferro::net {

bool TOutgoing::Flush(TChannel& plain, int flags, int& error)
{
    error = 0;
    if (FBytes.empty())
        return true;
    const long n = plain.Send(FBytes.data(), FBytes.size(), flags);
    if (n < 0) {
        error = static_cast<int>(-n);
        return false;
    }
    const auto sent = static_cast<std::size_t>(n);
    FBytes.erase(0, sent);
    std::size_t marks = 0;
    while (marks < FMarks.size() && FMarks[marks].End <= sent)
        FDelivered += FMarks[marks++].Plain;
    FMarks.erase(FMarks.begin(), FMarks.begin() + static_cast<std::ptrdiff_t>(marks));
    for (TMark& mark : FMarks)
        mark.End -= sent;
    return true;
}

bool TOutgoing::Deliver(TChannel& plain, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int error = 0;
    while (!FBytes.empty()) {
        if (!Flush(plain, 0, error) && error != EAGAIN)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (FBytes.empty() || left <= 0)
            break;
        plain.AwaitRoom(static_cast<int>(left));
    }
    return FBytes.empty();
}

} // namespace ferro::net
