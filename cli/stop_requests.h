// Stop requests (SIGINT and SIGTERM; on Windows the console's Ctrl+C,
// Ctrl+Break and close) heard through the event loop, so that a command
// ends what it is doing as it would end it anyway, instead of dying
// mid-way. Each platform's own (cli/posix, cli/windows).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace qbmsgcli {

class TStopRequests {
public:
    // Calls `onStop` from the event loop at the first request; with
    // `secondEnds`, a second one ends the process as the system would.
    TStopRequests(std::function<void()> onStop, bool secondEnds);
    ~TStopRequests();
    TStopRequests(const TStopRequests&) = delete;
    TStopRequests& operator=(const TStopRequests&) = delete;

    // Why stop requests cannot be heard; empty when they can.
    const std::string& Failure() const { return FFailure; }
    // Whether one came.
    bool Stopped() const { return FStopped; }
    // Whether one came, as seen by any thread at once (before the event
    // loop hears it).
    static bool Heard();

private:
    // Calls onStop, once.
    void Stop();

    struct TListener; // the platform's way of hearing them
    std::unique_ptr<TListener> FListener;
    std::function<void()> FOnStop;
    bool FStopped = false;
    std::string FFailure;
};

// Set, from any thread or a signal handler, when a stop request comes.
std::atomic<bool>& StopHeard();

} // namespace qbmsgcli
