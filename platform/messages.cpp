// Hidden windows and posted messages, as every platform keeps them; each
// platform's queue (message_queue.h in qt/ or windows/) carries messages
// between threads, and its pump delivers them.
#include <ferrolink/messages.h>

#include "message_queue.h"

#include <ferrolink/exceptions.h>

#include <cstdio>
#include <utility>

namespace ferro {

namespace detail {

// Which queue each window belongs to, for posting from any thread.
std::mutex gWindowsLock;
std::unordered_map<HWND, MessageQueue*>& WindowQueues()
{
    static auto* queues = new std::unordered_map<HWND, MessageQueue*>; // never destroyed: see Queue()
    return *queues;
}
std::atomic<HWND> gLastWindow {0};
std::atomic<unsigned> gQuitRequests {0};

} // namespace detail

using namespace detail;

namespace {

TExceptionHandler& ExceptionHandler()
{
    static TExceptionHandler handler = [](const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    };
    return handler;
}

} // namespace

HWND AllocateHWnd(TWndMethod wndProc)
{
    RequireEventLoop();
    return Queue().Allocate(std::move(wndProc));
}

void DeallocateHWnd(HWND window)
{
    if (MessageQueue* queue = CurrentQueue())
        queue->Deallocate(window);
}

bool PostMessageWith(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                     std::function<bool()> beforeDelivery)
{
    if (window == 0)
        return false;
    Posted posted {window, TMessage {msg, wParam, lParam, 0}, std::move(beforeDelivery)};
    MessageQueue* own = CurrentQueue();
    if (own && own->Owns(window)) {
        own->PostLocal(std::move(posted)); // the common case: a window of this thread
        return true;
    }
    const std::lock_guard lock(gWindowsLock);
    auto it = WindowQueues().find(window);
    if (it == WindowQueues().end())
        return false;
    if (it->second == own)
        own->PostLocal(std::move(posted));
    else
        it->second->PostFromElsewhere(std::move(posted)); // delivered on its thread
    return true;
}

bool PostWindowMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    // The common case, a window of this thread, makes no function object.
    if (MessageQueue* own = CurrentQueue(); own && window != 0 && own->Owns(window)) {
        own->PostLocal(window, TMessage {msg, wParam, lParam, 0});
        return true;
    }
    return PostMessageWith(window, msg, wParam, lParam, nullptr);
}

unsigned QuitRequests()
{
    return gQuitRequests.load(std::memory_order_relaxed);
}

void NoteEventHandled()
{
    if (MessageQueue* queue = CurrentQueue())
        queue->Handled();
}

TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler)
{
    return std::exchange(ExceptionHandler(), std::move(handler));
}

void HandleCurrentException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        if (ExceptionHandler())
            ExceptionHandler()(e);
    } catch (...) {
        if (ExceptionHandler())
            ExceptionHandler()(std::runtime_error("Unknown exception"));
    }
}

} // namespace ferro
