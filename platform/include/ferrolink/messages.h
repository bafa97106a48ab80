// Hidden notification windows, posted messages and the message pump.
//
// A window is a handle with a window procedure. Posting queues a message for
// it on the user-interface thread's queue; messages are delivered in order,
// and only while a pump runs (the program's event loop or ProcessMessages).
// Posting is safe from any thread; everything else belongs to the UI thread.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

namespace ferro {

constexpr unsigned WM_USER = 1024;

struct TMessage {
    unsigned Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

using HWND = std::uint32_t; // 0 is no window
using TWndMethod = std::function<void(TMessage&)>;

// Creates a hidden window whose procedure is `wndProc`. Exceptions that leave
// the procedure are handed to the application's exception handler.
HWND AllocateHWnd(TWndMethod wndProc);
// Destroys the window; messages still queued for it are dropped.
void DeallocateHWnd(HWND window);

bool PostMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
// As PostMessage; `beforeDelivery` runs on the UI thread right before the
// window procedure, and not at all when the window is gone by then; when it
// returns false the message is dropped. Lets a worker thread hand over data
// that lives in the window owner's memory.
bool PostMessageWith(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                     std::function<bool()> beforeDelivery);

// The pump: handles every message, timer tick and socket readiness that is
// waiting, and returns as soon as nothing is left. Never blocks.
void ProcessMessages();
// Blocks until at least one event has arrived, then handles what is waiting.
// Used between passes of a wait so that waiting costs no processor time.
void WaitAndProcessMessages();
// As WaitAndProcessMessages, but also returns when `fd` turns readable.
void WaitAndProcessMessagesOrReadable(int fd);
// Tells this thread's pump that one of the platform's own event handlers
// (a socket's readiness, a timer tick) has run, so a waiting pass returns.
void NoteEventHandled();
// Raises EThreadError unless this thread can run components: an application
// object exists and the thread runs a Qt event loop.
void RequireEventLoop();

// The application's exception handler: where an exception goes that leaves a
// window procedure, a timer handler or any other entry from the event loop.
// The default writes the message to standard error. Returns the previous one.
using TExceptionHandler = std::function<void(const std::exception&)>;
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler);
// Hands the exception in flight to the application's handler.
void HandleCurrentException();

} // namespace ferro
