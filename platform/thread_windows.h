// Internal to the platform: the hidden windows of one thread and its own
// message queue, as every platform's message model keeps them: the windows'
// procedures, the messages posted on the thread for its own windows, and
// their delivery in order. Each platform's queue (message_queue.h on Qt,
// windows/message_queue_win.h on Win32) adds how messages from other
// threads arrive and how the thread sleeps.
#pragma once

#include <ferrolink/messages.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace ferro::detail {

struct Posted {
    HWND Target = 0;
    TMessage Message;
    std::function<bool()> BeforeDelivery; // empty for almost every message
};

class MessageQueue;

// Which queue each window belongs to, for posting from any thread.
extern std::mutex gWindowsLock;
std::unordered_map<HWND, MessageQueue*>& WindowQueues();
extern std::atomic<HWND> gLastWindow;
extern std::atomic<unsigned> gQuitRequests;

class TThreadWindows {
public:
    TThreadWindows() = default;
    TThreadWindows(const TThreadWindows&) = delete;
    TThreadWindows& operator=(const TThreadWindows&) = delete;
    ~TThreadWindows()
    {
        const std::lock_guard lock(gWindowsLock);
        for (const auto& [window, procedure] : FWindows)
            WindowQueues().erase(window);
    }

    HWND Allocate(MessageQueue* queue, TWndMethod wndProc)
    {
        const HWND window = ++gLastWindow;
        FWindows.emplace(window, std::make_unique<TWndMethod>(std::move(wndProc)));
        const std::lock_guard lock(gWindowsLock);
        WindowQueues()[window] = queue;
        return window;
    }

    void Deallocate(HWND window)
    {
        auto it = FWindows.find(window);
        if (it != FWindows.end()) {
            // A procedure still running (its window destroyed by itself or
            // by a handler in a nested pump) lives to return.
            if (std::find(FDelivering.begin(), FDelivering.end(), window) != FDelivering.end())
                FRetired.push_back(std::move(it->second));
            FWindows.erase(it);
        }
        if (window == FLastWindow)
            FLastWindow = 0;
        const std::lock_guard lock(gWindowsLock);
        WindowQueues().erase(window);
    }

    void PostLocal(Posted posted) { FLocal.push_back(std::move(posted)); }
    void PostLocal(HWND window, const TMessage& message) { FLocal.push_back(Posted {window, message, {}}); }
    // A window of this thread, known without the lock.
    bool Owns(HWND window) { return Procedure(window) != nullptr; }

    // Delivers the messages waiting in our queue, in order, including those
    // that their handlers post meanwhile.
    void DrainLocal()
    {
        // A vector read from its front and emptied at the end: the queue is
        // drained to nothing at every pass, so it never grows.
        while (FHead < FLocal.size()) {
            Posted next = std::move(FLocal[FHead++]);
            ++FDelivered;
            Deliver(next);
        }
        FLocal.clear();
        FHead = 0;
    }
    bool HasLocal() const { return FHead < FLocal.size(); }

    // Something of ours ran (a socket's readiness, a timer tick): a pass
    // that has handled it must not go on to sleep.
    void Handled() { ++FDelivered; }
    // How many events this thread has handled, for a pass to tell whether
    // it handled one.
    unsigned long Delivered() const { return FDelivered; }

    // Hands `posted` to its window's procedure, if the window still exists.
    void Deliver(Posted& posted)
    {
        TWndMethod* wndProc = Procedure(posted.Target);
        if (!wndProc)
            return;
        FDelivering.push_back(posted.Target);
        try {
            if (!posted.BeforeDelivery || posted.BeforeDelivery())
                (*wndProc)(posted.Message);
        } catch (...) {
            HandleCurrentException();
        }
        FDelivering.pop_back();
        if (FDelivering.empty())
            FRetired.clear();
    }

private:
    // The procedure of a window of this thread, or null; the last one asked
    // for is remembered, as a component's own messages come in runs.
    TWndMethod* Procedure(HWND window)
    {
        if (window != 0 && window == FLastWindow)
            return FLastProcedure;
        auto it = FWindows.find(window);
        if (it == FWindows.end())
            return nullptr;
        FLastWindow = window;
        FLastProcedure = it->second.get();
        return FLastProcedure;
    }

    std::unordered_map<HWND, std::unique_ptr<TWndMethod>> FWindows;
    HWND FLastWindow = 0;
    TWndMethod* FLastProcedure = nullptr; // not owned: FWindows' entry for FLastWindow
    std::vector<HWND> FDelivering;        // the windows whose procedures run now, innermost last
    std::vector<std::unique_ptr<TWndMethod>> FRetired; // destroyed windows' procedures, kept until they return
    std::vector<Posted> FLocal;
    std::size_t FHead = 0;

protected:
    unsigned long FDelivered = 0;
};

// As WaitAndProcessMessages, but also returns when the system socket `fd`
// turns readable (the socket interface's AwaitReadableOrMessages).
void WaitAndProcessMessagesOrReadable(int fd);

// This thread's queue, or null before its first window.
MessageQueue* CurrentQueue();
// This thread's queue, made by its first window.
MessageQueue& Queue();

} // namespace ferro::detail
