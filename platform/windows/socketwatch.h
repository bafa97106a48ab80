// Ties one socket's readiness to its thread's message loop on Windows: the
// system's WSAAsyncSelect tells the thread's message-only window, and the
// callbacks run from the pump while the matching direction is watched.
// Each change of what is watched selects afresh, and a new selection tells
// at once what already holds: so a callback comes whenever a watched
// condition holds when it is watched, as with a level-triggered watch.
#pragma once

#include <functional>

namespace ferro {

class TSocketWatch {
public:
    TSocketWatch(int fd, std::function<void()> onReadable, std::function<void()> onWritable);
    ~TSocketWatch();
    TSocketWatch(const TSocketWatch&) = delete;
    TSocketWatch& operator=(const TSocketWatch&) = delete;

    void WatchRead(bool on);
    void WatchWrite(bool on);
    // While a wait for the socket to turn readable runs: its turning
    // readable wakes the pump, whether or not reading is watched.
    void AwaitingRead(bool on);
    // The system told `events` (FD_READ, FD_WRITE, ...) of this socket.
    void Notified(long events);

private:
    void Select();

    int FFd;
    std::function<void()> FOnReadable;
    std::function<void()> FOnWritable;
    bool FRead = false;
    bool FWrite = false;
    bool FAwaiting = false;
    long FSelected = 0; // what the system was last asked to tell
};

} // namespace ferro
