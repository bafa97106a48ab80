/// @file
/// Hidden notification windows, posted messages and the message pump, on the
/// Qt event loop of each thread.
///
/// A window is a handle with a window procedure, and belongs to the thread
/// that made it. Posting queues a message for it on that thread's queue;
/// messages are delivered in order, and only while that thread pumps (its
/// event loop, or ProcessMessages). Posting is safe from any thread;
/// everything else belongs to the window's thread.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

namespace ferro {

/// The first message number free for a program's own messages. (Where
/// <windows.h> came first, its macro of the same value stands for it.)
#ifndef WM_USER
constexpr unsigned WM_USER = 1024;
#endif

/// A message as a window procedure receives it.
struct TMessage {
    unsigned Msg = 0;          ///< the message number
    std::uintptr_t WParam = 0; ///< its first parameter
    std::intptr_t LParam = 0;  ///< its second parameter
    std::intptr_t Result = 0;  ///< the procedure's answer (unused by posted messages)
};

/// A window handle; 0 is no window.
using HWND = std::uint32_t;
/// A window procedure.
using TWndMethod = std::function<void(TMessage&)>;

/// Creates a hidden window of this thread whose procedure is `wndProc`.
/// Exceptions that leave the procedure go to the application's exception
/// handler. Raises EThreadError as RequireEventLoop does.
HWND AllocateHWnd(TWndMethod wndProc);
/// Destroys the window; messages still queued for it are dropped.
void DeallocateHWnd(HWND window);

/// As PostMessageWith without `beforeDelivery`.
bool PostWindowMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
/// Queues a message for `window`, from any thread; false when there is no
/// such window. (Inline, so that it works whether or not the system's
/// <windows.h>, which renames every PostMessage, was included before.)
inline bool PostMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    return PostWindowMessage(window, msg, wParam, lParam);
}
/// As PostMessage; `beforeDelivery` runs on the window's thread right before the
/// window procedure, and not at all when the window is gone by then; when it
/// returns false the message is dropped. Lets a worker thread hand over data
/// that lives in the window owner's memory.
bool PostMessageWith(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                     std::function<bool()> beforeDelivery);

/// The pump: handles every message, timer tick and socket readiness that is
/// waiting, and returns as soon as nothing is left. Never blocks.
void ProcessMessages();
/// Blocks until at least one event has arrived, then handles what is waiting.
/// Used between passes of a wait so that waiting costs no processor time.
void WaitAndProcessMessages();
/// How often the application has been asked to quit (QCoreApplication::quit,
/// or its last window closed), as seen on the application's thread once a
/// window of that thread exists. A wait compares it with its value at the
/// start: a change ends the wait as a cancel, so a quitting program ends
/// promptly instead of waiting for the network.
unsigned QuitRequests();
/// Tells this thread's pump that one of the platform's own event handlers
/// (a socket's readiness, a timer tick) has run, so a waiting pass returns.
void NoteEventHandled();
/// Raises EThreadError unless this thread can run components: an application
/// object exists and the thread runs a Qt event loop.
void RequireEventLoop();

/// An application exception handler.
using TExceptionHandler = std::function<void(const std::exception&)>;
/// Sets the application's exception handler: where an exception goes that
/// leaves a window procedure, a timer handler or any other entry from the
/// event loop (for example a failed service of a listening server). The
/// default writes the message to standard error. One handler serves every
/// thread, and is called on the thread where the exception arose.
/// @return the previous handler.
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler handler);
/// Hands the exception in flight to the application's handler.
void HandleCurrentException();

} // namespace ferro
