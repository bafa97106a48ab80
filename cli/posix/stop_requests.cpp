// Stop requests on POSIX: the signal handler writes to a pipe that the
// event loop watches.
#include "stop_requests.h"

#include "text.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace qbmsgcli {

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    StopHeard().store(true);
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

struct TStopRequests::TListener {
    QSocketNotifier Notifier {gSignalPipe[0], QSocketNotifier::Read};
};

TStopRequests::TStopRequests(std::function<void()> onStop, bool secondEnds) : FOnStop(std::move(onStop))
{
    if (::pipe2(gSignalPipe, O_CLOEXEC) != 0) {
        FFailure = "Cannot make a pipe for signals: " + SystemCause(errno);
        return;
    }
    FListener = std::make_unique<TListener>();
    QObject::connect(&FListener->Notifier, &QSocketNotifier::activated, [this] {
        FListener->Notifier.setEnabled(false); // once is enough
        Stop();
    });
    std::signal(SIGINT, secondEnds ? OnFirstSignal : OnSignal);
    std::signal(SIGTERM, secondEnds ? OnFirstSignal : OnSignal);
}

TStopRequests::~TStopRequests()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

} // namespace qbmsgcli
