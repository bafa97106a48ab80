#include "messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <cstdio>
#include <unordered_map>
#include <utility>

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct MessageEvent : QEvent {
    MessageEvent(HWND target, TMessage message, std::function<bool()> beforeDelivery)
        : QEvent(kMessageEvent), Target(target), Message(message), BeforeDelivery(std::move(beforeDelivery))
    {
    }
    HWND Target;
    TMessage Message;
    std::function<bool()> BeforeDelivery;
};

// Receives the posted messages on the UI thread and hands each to its window.
class MessageQueue : public QObject {
public:
    HWND Allocate(TWndMethod wndProc)
    {
        const HWND window = ++FLastWindow;
        FWindows.emplace(window, std::move(wndProc));
        return window;
    }

    void Deallocate(HWND window) { FWindows.erase(window); }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != kMessageEvent)
            return QObject::event(e);
        Deliver(*static_cast<MessageEvent*>(e));
        return true;
    }

private:
    void Deliver(MessageEvent& e)
    {
        auto it = FWindows.find(e.Target);
        if (it == FWindows.end())
            return;
        // A copy, so that a procedure that destroys its own window is safe.
        TWndMethod wndProc = it->second;
        try {
            if (!e.BeforeDelivery || e.BeforeDelivery())
                wndProc(e.Message);
        } catch (...) {
            HandleCurrentException();
        }
    }

    std::unordered_map<HWND, TWndMethod> FWindows;
    HWND FLastWindow = 0;
};

MessageQueue* gQueue = nullptr; // created on the UI thread by the first window

MessageQueue& Queue()
{
    if (!gQueue)
        gQueue = new MessageQueue; // lives as long as the program
    return *gQueue;
}

TExceptionHandler& ExceptionHandler()
{
    static TExceptionHandler handler = [](const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    };
    return handler;
}

// One notifier serves the readable-waits of whichever socket waits now, so a
// waiting loop creates no object per pass. Never destroyed at exit: the event
// dispatcher it would unregister from may be gone by then.
QSocketNotifier* gReadable = nullptr;

// A blocking pass must return once it has handled anything. Some event
// dispatchers deliver the posted events first and then block anyway; this
// guard counts every event the application delivers and, when the dispatcher
// is about to block after having delivered some, wakes it at once.
class BlockGuard : public QObject {
public:
    BlockGuard()
    {
        QCoreApplication::instance()->installEventFilter(this);
        QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this, dispatcher] {
            if (FWaiting && FDelivered != FAtStart)
                dispatcher->wakeUp();
        });
    }

    void Wait(QEventLoop::ProcessEventsFlags flags)
    {
        const bool outer = FWaiting;
        const unsigned long outerStart = FAtStart;
        FWaiting = true;
        FAtStart = FDelivered;
        QCoreApplication::processEvents(flags | QEventLoop::WaitForMoreEvents);
        FWaiting = outer;
        FAtStart = outerStart;
    }

protected:
    bool eventFilter(QObject*, QEvent*) override
    {
        ++FDelivered;
        return false;
    }

private:
    bool FWaiting = false;
    unsigned long FDelivered = 0;
    unsigned long FAtStart = 0;
};

BlockGuard& Guard()
{
    static auto* guard = new BlockGuard; // lives as long as the program
    return *guard;
}

} // namespace

HWND AllocateHWnd(TWndMethod wndProc)
{
    return Queue().Allocate(std::move(wndProc));
}

void DeallocateHWnd(HWND window)
{
    if (gQueue)
        gQueue->Deallocate(window);
}

bool PostMessageWith(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                     std::function<bool()> beforeDelivery)
{
    if (!gQueue || window == 0)
        return false;
    TMessage message;
    message.Msg = msg;
    message.WParam = wParam;
    message.LParam = lParam;
    QCoreApplication::postEvent(gQueue, new MessageEvent(window, message, std::move(beforeDelivery)));
    return true;
}

bool PostMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    return PostMessageWith(window, msg, wParam, lParam, nullptr);
}

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitAndProcessMessages()
{
    Guard().Wait(QEventLoop::AllEvents);
}

void WaitAndProcessMessagesOrReadable(int fd)
{
    if (!gReadable || gReadable->socket() != fd) {
        delete gReadable;
        gReadable = new QSocketNotifier(fd, QSocketNotifier::Read);
    }
    gReadable->setEnabled(true);
    WaitAndProcessMessages();
    gReadable->setEnabled(false);
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
