// What stop requests are on every platform (the ways of hearing them are
// in cli/posix and cli/windows).
#include "stop_requests.h"

static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

namespace qbmsgcli {

std::atomic<bool>& StopHeard()
{
    static std::atomic<bool> heard {false};
    return heard;
}

void TStopRequests::Stop()
{
    FStopped = true;
    FOnStop();
}

bool TStopRequests::Heard()
{
    return StopHeard().load();
}

} // namespace qbmsgcli
