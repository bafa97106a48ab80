// Internal to the platform: the message queue of each thread on Qt's event
// loop, behind the windows and posting of messages.h and the pump of
// pump.cpp.
#pragma once

#include "thread_windows.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

namespace ferro::detail {

inline const QEvent::Type kPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
inline const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A message posted from another thread travels as a Qt event.
struct PostedEvent : QEvent {
    explicit PostedEvent(Posted posted) : QEvent(kPostedEvent), Message(std::move(posted)) {}
    Posted Message;
};

// The windows of one thread and that thread's own message queue, on Qt.
//
// Messages posted on the queue's thread wait in a queue of our own: the pump
// takes them without a trip through Qt's event queue, which would cost a
// wake-up of the event loop for every message. When the event loop is about
// to sleep with messages still waiting, one Qt event is posted to deliver
// them, so they never wait for an unrelated event.
class MessageQueue : public QObject, public TThreadWindows {
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

    HWND Allocate(TWndMethod wndProc) { return TThreadWindows::Allocate(this, std::move(wndProc)); }
    // From another thread: delivered on this queue's thread.
    void PostFromElsewhere(Posted posted) { QCoreApplication::postEvent(this, new PostedEvent(std::move(posted))); }

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

    bool FDrainPosted = false;
    bool FWaiting = false;
    unsigned long FAtStart = 0;
};

} // namespace ferro::detail
