#include "stop_requests.h"

#include "text.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

static_assert(std::atomic<bool>::is_always_lock_free);

namespace qbmsgcli {

namespace {

int gSignalPipe[2] = {-1, -1};
std::atomic<bool> gHeard {false}; // lock-free: safe to set in a signal handler

void OnSignal(int)
{
    gHeard.store(true);
    const char byte = 1;
    (void)!::write(gSignalPipe[1], &byte, 1);
}

void OnFirstSignal(int signal)
{
    OnSignal(signal);
    std::signal(SIGINT, SIG_DFL); // the second one is not asked twice
    std::signal(SIGTERM, SIG_DFL);
}

} // namespace

TStopRequests::TStopRequests(std::function<void()> onStop, bool secondEnds) : FOnStop(std::move(onStop))
{
    if (::pipe2(gSignalPipe, O_CLOEXEC) != 0) {
        FFailure = "Cannot make a pipe for signals: " + SystemCause(errno);
        return;
    }
    FNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
        FNotifier->setEnabled(false); // once is enough
        FStopped = true;
        FOnStop();
    });
    std::signal(SIGINT, secondEnds ? OnFirstSignal : OnSignal);
    std::signal(SIGTERM, secondEnds ? OnFirstSignal : OnSignal);
}

TStopRequests::~TStopRequests()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

bool TStopRequests::Heard()
{
    return gHeard.load();
}

} // namespace qbmsgcli
