#include <ferrolink/messages.h>

#include <ferrolink/exceptions.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ferro {

namespace {

struct Posted {
    HWND Target = 0;
    TMessage Message;
    std::function<bool()> BeforeDelivery; // empty for almost every message
};

const QEvent::Type kPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A message posted from another thread travels as a Qt event.
struct PostedEvent : QEvent {
    explicit PostedEvent(Posted posted) : QEvent(kPostedEvent), Message(std::move(posted)) {}
    Posted Message;
};

class MessageQueue;

// Which queue each window belongs to, for posting from any thread.
std::mutex gWindowsLock;
std::unordered_map<HWND, MessageQueue*>& WindowQueues()
{
    static auto* queues = new std::unordered_map<HWND, MessageQueue*>; // never destroyed: see Queue()
    return *queues;
}
std::atomic<HWND> gLastWindow {0};
std::atomic<unsigned> gQuitRequests {0};

// The windows of one thread and that thread's own message queue.
//
// Messages posted on the queue's thread wait in a queue of our own: the pump
// takes them without a trip through Qt's event queue, which would cost a
// wake-up of the event loop for every message. When the event loop is about
// to sleep with messages still waiting, one Qt event is posted to deliver
// them, so they never wait for an unrelated event.
class MessageQueue : public QObject {
public:
    MessageQueue()
    {
        // Counting the application's events is possible on its own thread
        // only; elsewhere our own deliveries are what a wait is woken by.
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::instance()->installEventFilter(this);
        QObject::connect(Dispatcher(), &QAbstractEventDispatcher::aboutToBlock, this, [this] { AboutToBlock(); });
    }

    ~MessageQueue() override
    {
        const std::lock_guard lock(gWindowsLock);
        for (const auto& [window, procedure] : FWindows)
            WindowQueues().erase(window);
    }

    HWND Allocate(TWndMethod wndProc)
    {
        const HWND window = ++gLastWindow;
        FWindows.emplace(window, std::make_unique<TWndMethod>(std::move(wndProc)));
        const std::lock_guard lock(gWindowsLock);
        WindowQueues()[window] = this;
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

    // A window of this queue, known without the lock: this thread's own.
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

    // Processes Qt's events; with `wait`, sleeps until one arrives first,
    // but never after having handled one in this pass.
    void Process(bool wait)
    {
        if (!wait) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        const bool outer = FWaiting;
        const unsigned long outerStart = FAtStart;
        FWaiting = true;
        FAtStart = FDelivered;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        FWaiting = outer;
        FAtStart = outerStart;
    }

    // Something of ours ran (a socket's readiness, a timer tick): a pass
    // that has handled it must not go on to sleep.
    void Handled() { ++FDelivered; }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == kDrainEvent) {
            FDrainPosted = false;
            ++FDelivered;
            DrainLocal();
            return true;
        }
        if (e->type() == kPostedEvent) {
            ++FDelivered;
            Deliver(static_cast<PostedEvent*>(e)->Message);
            return true;
        }
        return QObject::event(e);
    }

    // Counts every event the application delivers, and the requests to quit.
    bool eventFilter(QObject*, QEvent* e) override
    {
        ++FDelivered;
        if (e->type() == QEvent::Quit)
            ++gQuitRequests;
        return false;
    }

private:
    static QAbstractEventDispatcher* Dispatcher() { return QThread::currentThread()->eventDispatcher(); }

    void AboutToBlock()
    {
        if (HasLocal() && !FDrainPosted) {
            FDrainPosted = true;
            QCoreApplication::postEvent(this, new QEvent(kDrainEvent));
        }
        // Some dispatchers deliver posted events first and then sleep anyway:
        // a pass that has handled something must return.
        if (FWaiting && FDelivered != FAtStart)
            Dispatcher()->wakeUp();
    }

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

    // The procedure of a window of this queue, or null; the last one asked
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
    bool FDrainPosted = false;
    bool FWaiting = false;
    unsigned long FDelivered = 0;
    unsigned long FAtStart = 0;
};

// This thread's queue, made by its first window. The application thread's
// lives as long as the program (its event loop may be gone before static
// objects are destroyed); another thread's goes when the thread ends.
struct ThreadQueue {
    MessageQueue* Queue = nullptr;
    ~ThreadQueue()
    {
        if (Queue && QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread())
            delete Queue;
    }
};
thread_local ThreadQueue tQueue;

MessageQueue* CurrentQueue() { return tQueue.Queue; }

MessageQueue& Queue()
{
    if (!tQueue.Queue)
        tQueue.Queue = new MessageQueue;
    return *tQueue.Queue;
}

TExceptionHandler& ExceptionHandler()
{
    static TExceptionHandler handler = [](const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    };
    return handler;
}

// One notifier serves the readable-waits of whichever socket of this thread
// waits now, so a waiting loop creates no object per pass. The application
// thread's is never destroyed: the event dispatcher it would unregister from
// may be gone by then.
struct ThreadReadable {
    QSocketNotifier* Notifier = nullptr;
    ~ThreadReadable()
    {
        if (Notifier && QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread())
            delete Notifier;
    }
};
thread_local ThreadReadable tReadable;

constexpr std::chrono::microseconds kEventLoopInterval(500);

} // namespace

void RequireEventLoop()
{
    if (!QCoreApplication::instance())
        throw EThreadError("No QCoreApplication: create the application object (QCoreApplication or QApplication) before any Ferrolink component");
    if (!QThread::currentThread()->eventDispatcher())
        throw EThreadError("This thread runs no Qt event loop: create Ferrolink components on the application's thread or in a QThread");
}

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
        QCoreApplication::postEvent(it->second, new PostedEvent(std::move(posted))); // delivered on its thread
    return true;
}

bool PostMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    // The common case, a window of this thread, makes no function object.
    if (MessageQueue* own = CurrentQueue(); own && window != 0 && own->Owns(window)) {
        own->PostLocal(window, TMessage {msg, wParam, lParam, 0});
        return true;
    }
    return PostMessageWith(window, msg, wParam, lParam, nullptr);
}

void ProcessMessages()
{
    if (MessageQueue* queue = CurrentQueue())
        queue->DrainLocal();
    // Asking the event loop costs a system call even when nothing waits. A
    // pump that runs again within a fraction of a millisecond (a transfer's
    // passes) asks it once per interval: events wait at most that long, which
    // nobody can tell from a wait that happens to end that much later.
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point lastAsked;
    const Clock::time_point now = Clock::now();
    if (now - lastAsked < kEventLoopInterval)
        return;
    lastAsked = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitAndProcessMessages()
{
    MessageQueue* queue = CurrentQueue();
    if (queue && queue->HasLocal()) {
        queue->DrainLocal();
        return;
    }
    Queue().Process(true);
}

void WaitAndProcessMessagesOrReadable(int fd)
{
    if (MessageQueue* queue = CurrentQueue(); queue && queue->HasLocal()) {
        queue->DrainLocal();
        return;
    }
    QSocketNotifier*& readable = tReadable.Notifier;
    if (!readable || readable->socket() != fd) {
        delete readable;
        readable = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(readable, &QSocketNotifier::activated, [] { NoteEventHandled(); });
    }
    readable->setEnabled(true);
    WaitAndProcessMessages();
    readable->setEnabled(false);
}

bool AwaitReadable(int fd, int ms)
{
    pollfd look {fd, POLLIN, 0};
    return ::poll(&look, 1, ms) > 0;
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
