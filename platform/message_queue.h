// Internal to the platform: the message queue of each thread, behind the
// windows and posting of messages.h and the pump of pump.cpp.
#pragma once

#include <ferrolink/messages.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

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

inline const QEvent::Type kPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
inline const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A message posted from another thread travels as a Qt event.
struct PostedEvent : QEvent {
    explicit PostedEvent(Posted posted) : QEvent(kPostedEvent), Message(std::move(posted)) {}
    Posted Message;
};

class MessageQueue;

// Which queue each window belongs to, for posting from any thread.
extern std::mutex gWindowsLock;
std::unordered_map<HWND, MessageQueue*>& WindowQueues();
extern std::atomic<HWND> gLastWindow;
extern std::atomic<unsigned> gQuitRequests;

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
        // A loop that only ever calls processEvents() without waiting (much
        // Qt code does) never announces a sleep: every pass it makes takes
        // what waits in our queue as it starts.
        QObject::connect(Dispatcher(), &QAbstractEventDispatcher::awake, this, [this] {
            if (HasLocal())
                DrainLocal();
        });
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

// This thread's queue, or null before its first window.
MessageQueue* CurrentQueue();
// This thread's queue, made by its first window.
MessageQueue& Queue();

// As WaitAndProcessMessages, but also returns when the system socket `fd`
// turns readable (the socket interface's AwaitReadableOrMessages).
void WaitAndProcessMessagesOrReadable(int fd);

} // namespace ferro::detail
