// Ties one socket's readiness to the UI thread's event loop: the callbacks
// run from the loop while the socket is readable or writable and the matching
// direction is watched. Level-triggered: a callback keeps coming until the
// condition ends or the direction is unwatched.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace ferro {

class TSocketWatch {
public:
    TSocketWatch(int fd, std::function<void()> onReadable, std::function<void()> onWritable);
    ~TSocketWatch();
    TSocketWatch(const TSocketWatch&) = delete;
    TSocketWatch& operator=(const TSocketWatch&) = delete;

    void WatchRead(bool on);
    void WatchWrite(bool on);

private:
    int FFd;
    std::function<void()> FOnReadable;
    std::function<void()> FOnWritable;
    std::unique_ptr<QSocketNotifier> FRead;
    std::unique_ptr<QSocketNotifier> FWrite;
};

} // namespace ferro
