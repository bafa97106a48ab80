// Each thread's message queue on the Win32 message loop: its message-only
// window, messages from other threads, timers, and what a thread needs to
// run components (nothing: every thread of Windows can have a queue).
#include "message_queue.h"

#include "socketwatch.h"
#include "system_handles.h"

#include <memory>
#include <mutex>

// Outside our namespace, where HWND is the system's.
static const HWND kMessageOnly = HWND_MESSAGE;

namespace ferro {

namespace detail {

namespace {

constexpr UINT kPostedMessage = WM_APP + 1;      // lParam: a Posted from another thread, ours to delete
constexpr int kMessagesPerPass = 256;            // a pass returns even while others keep posting
const wchar_t* const kWindowClass = L"FerrolinkQueue";

void RegisterWindowClass(WNDPROC procedure)
{
    static std::once_flag once;
    std::call_once(once, [procedure] {
        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        ::RegisterClassExW(&windowClass);
    });
}

// This thread's queue, made by its first window, gone with the thread: the
// system's fiber-local storage destroys it at the thread's end, and a plain
// thread_local pointer finds it quickly. (A thread_local unique_ptr was
// destroyed at a poster thread's end on the main thread's object, under
// mingw-w64's runtime and wine: seen, not explained.)
thread_local MessageQueue* tQueue = nullptr;

void WINAPI DestroyQueue(void* queue)
{
    delete static_cast<MessageQueue*>(queue);
}

DWORD QueueSlot()
{
    static const DWORD slot = ::FlsAlloc(&DestroyQueue);
    return slot;
}

} // namespace

MessageQueue::MessageQueue()
{
    RegisterWindowClass(&MessageQueue::WindowProcedure);
    FWindow = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, kMessageOnly, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageQueue::~MessageQueue()
{
    for (const auto& [id, tick] : FTimers)
        ::KillTimer(FWindow, id);
    // What other threads posted and nobody took is ours to free.
    MSG left;
    while (::PeekMessageW(&left, FWindow, kPostedMessage, kPostedMessage, PM_REMOVE))
        delete reinterpret_cast<Posted*>(left.lParam);
    ::DestroyWindow(FWindow);
}

void MessageQueue::PostFromElsewhere(Posted posted)
{
    auto* travelling = new Posted(std::move(posted));
    if (!::PostMessageW(FWindow, kPostedMessage, 0, reinterpret_cast<LPARAM>(travelling)))
        delete travelling; // the window is gone: as a message for a destroyed window, dropped
}

LRESULT CALLBACK MessageQueue::WindowProcedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* queue = reinterpret_cast<MessageQueue*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (queue && msg == kPostedMessage) {
        const std::unique_ptr<Posted> posted(reinterpret_cast<Posted*>(lParam));
        queue->Deliver(*posted);
        return 0;
    }
    if (queue && msg == kSocketMessage) {
        if (TSocketWatch* watch = queue->WatchOf(sys::NumberOf(static_cast<SOCKET>(wParam))))
            watch->Notified(WSAGETSELECTEVENT(lParam));
        return 0;
    }
    if (queue && msg == WM_TIMER) {
        auto it = queue->FTimers.find(wParam);
        if (it != queue->FTimers.end()) {
            const std::function<void()> tick = it->second; // the tick may stop its own timer
            tick();
        }
        return 0;
    }
    return ::DefWindowProcW(window, msg, wParam, lParam);
}

void MessageQueue::TakeSystemMessages()
{
    MSG msg;
    for (int taken = 0; taken < kMessagesPerPass && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++taken) {
        ++FDelivered;
        if (msg.message == WM_QUIT) {
            ++gQuitRequests;
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void MessageQueue::Process(bool wait)
{
    const unsigned long start = FDelivered;
    TakeSystemMessages();
    if (!wait || FDelivered != start || HasLocal())
        return;
    // Sleeps in the system until a message arrives, costing no processor time.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    TakeSystemMessages();
}

void MessageQueue::StartTimer(std::uintptr_t id, unsigned ms, std::function<void()> tick)
{
    FTimers[id] = std::move(tick);
    ::SetTimer(FWindow, id, ms, nullptr); // the same id again restarts its countdown
}

void MessageQueue::StopTimer(std::uintptr_t id)
{
    if (FTimers.erase(id))
        ::KillTimer(FWindow, id);
}

void MessageQueue::RemoveWatch(int fd, TSocketWatch* watch)
{
    auto it = FWatches.find(fd);
    if (it != FWatches.end() && it->second == watch)
        FWatches.erase(it);
}

TSocketWatch* MessageQueue::WatchOf(int fd) const
{
    auto it = FWatches.find(fd);
    return it == FWatches.end() ? nullptr : it->second;
}

MessageQueue* CurrentQueue() { return tQueue; }

MessageQueue& Queue()
{
    if (!tQueue) {
        tQueue = new MessageQueue;
        ::FlsSetValue(QueueSlot(), tQueue);
    }
    return *tQueue;
}

} // namespace detail

void RequireEventLoop()
{
}

} // namespace ferro
