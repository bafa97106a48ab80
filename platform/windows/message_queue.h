// Internal to the platform: the message queue of each thread on the Win32
// message loop. Each thread's queue owns one message-only window of the
// system's: messages from other threads and the timers' ticks reach it
// through the thread's system queue; the thread's own messages wait in our
// queue and are drained by our pump before it sleeps.
#pragma once

#include "thread_windows.h"

#include <functional>
#include <unordered_map>

// After our headers: <windows.h> renames PostMessage and defines HWND.
// Its sockets' notifications need <winsock2.h>, which must come first.
#include <winsock2.h>
#include <windows.h>
#undef PostMessage

namespace ferro {
class TSocketWatch;
}

namespace ferro::detail {

// The system's notifications of sockets, to a thread's window (WSAAsyncSelect).
constexpr UINT kSocketMessage = WM_APP + 2;

class MessageQueue : public TThreadWindows {
public:
    MessageQueue();
    ~MessageQueue();

    HWND Allocate(TWndMethod wndProc) { return TThreadWindows::Allocate(this, std::move(wndProc)); }
    // From another thread: delivered on this queue's thread.
    void PostFromElsewhere(Posted posted);

    // Handles everything waiting in the thread's system queue, and in ours;
    // with `wait`, sleeps until something arrives first, but never after
    // having handled something in this pass.
    void Process(bool wait);

    // A timer of this thread: `tick` runs every `ms` milliseconds from the
    // pump until StopTimer. Starting it again restarts its countdown.
    void StartTimer(std::uintptr_t id, unsigned ms, std::function<void()> tick);
    void StopTimer(std::uintptr_t id);

    // The system's window of this thread, where its sockets' notifications go.
    ::HWND Window() const { return FWindow; }
    // The watch of this thread's socket `fd`, for its notifications.
    void AddWatch(int fd, TSocketWatch* watch) { FWatches[fd] = watch; }
    void RemoveWatch(int fd, TSocketWatch* watch);
    TSocketWatch* WatchOf(int fd) const;

private:
    static LRESULT CALLBACK WindowProcedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    // Takes and dispatches every message the system holds for this thread.
    void TakeSystemMessages();

    ::HWND FWindow = nullptr;
    std::unordered_map<std::uintptr_t, std::function<void()>> FTimers;
    std::unordered_map<int, TSocketWatch*> FWatches;
};

} // namespace ferro::detail
