#include <ferrolink/messages.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <deque>
#include <unordered_map>
#include <utility>

namespace ferro {

namespace {

struct Posted {
    HWND Target = 0;
    TMessage Message;
    std::function<bool()> BeforeDelivery;
};

const QEvent::Type kPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kDrainEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A message posted from another thread travels as a Qt event.
struct PostedEvent : QEvent {
    explicit PostedEvent(Posted posted) : QEvent(kPostedEvent), Message(std::move(posted)) {}
    Posted Message;
};

// The windows and the UI thread's own message queue.
//
// Messages posted on the UI thread wait in a queue of our own: the pump takes
// them without a trip through Qt's event queue, which would cost a wake-up of
// the event loop for every message. When the event loop is about to sleep with
// messages still waiting, one Qt event is posted to deliver them, so they
// never wait for an unrelated event.
class MessageQueue : public QObject {
public:
    MessageQueue()
    {
        QCoreApplication::instance()->installEventFilter(this);
        QObject::connect(Dispatcher(), &QAbstractEventDispatcher::aboutToBlock, this, [this] { AboutToBlock(); });
    }

    HWND Allocate(TWndMethod wndProc)
    {
        const HWND window = ++FLastWindow;
        FWindows.emplace(window, std::move(wndProc));
        return window;
    }

    void Deallocate(HWND window) { FWindows.erase(window); }

    void PostLocal(Posted posted) { FLocal.push_back(std::move(posted)); }

    // Delivers the messages waiting in our queue, in order, including those
    // that their handlers post meanwhile.
    void DrainLocal()
    {
        while (!FLocal.empty()) {
            Posted next = std::move(FLocal.front());
            FLocal.pop_front();
            ++FDelivered;
            Deliver(next);
        }
    }

    bool HasLocal() const { return !FLocal.empty(); }

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
            DrainLocal();
            return true;
        }
        if (e->type() == kPostedEvent) {
            Deliver(static_cast<PostedEvent*>(e)->Message);
            return true;
        }
        return QObject::event(e);
    }

    // Counts every event the application delivers.
    bool eventFilter(QObject*, QEvent*) override
    {
        ++FDelivered;
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
        auto it = FWindows.find(posted.Target);
        if (it == FWindows.end())
            return;
        // A copy, so that a procedure that destroys its own window is safe.
        TWndMethod wndProc = it->second;
        try {
            if (!posted.BeforeDelivery || posted.BeforeDelivery())
                wndProc(posted.Message);
        } catch (...) {
            HandleCurrentException();
        }
    }

    std::unordered_map<HWND, TWndMethod> FWindows;
    HWND FLastWindow = 0;
    std::deque<Posted> FLocal;
    bool FDrainPosted = false;
    bool FWaiting = false;
    unsigned long FDelivered = 0;
    unsigned long FAtStart = 0;
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

constexpr std::chrono::microseconds kEventLoopInterval(500);

bool OnUiThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
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
    Posted posted {window, TMessage {msg, wParam, lParam, 0}, std::move(beforeDelivery)};
    if (OnUiThread())
        gQueue->PostLocal(std::move(posted));
    else
        QCoreApplication::postEvent(gQueue, new PostedEvent(std::move(posted)));
    return true;
}

bool PostMessage(HWND window, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    return PostMessageWith(window, msg, wParam, lParam, nullptr);
}

void ProcessMessages()
{
    if (gQueue)
        gQueue->DrainLocal();
    // Asking the event loop costs a system call even when nothing waits. A
    // pump that runs again within a fraction of a millisecond (a transfer's
    // passes) asks it once per interval: events wait at most that long, which
    // nobody can tell from a wait that happens to end that much later.
    using Clock = std::chrono::steady_clock;
    static Clock::time_point lastAsked;
    const Clock::time_point now = Clock::now();
    if (now - lastAsked < kEventLoopInterval)
        return;
    lastAsked = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitAndProcessMessages()
{
    if (gQueue && gQueue->HasLocal()) {
        gQueue->DrainLocal();
        return;
    }
    Queue().Process(true);
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

} // namespace ferro
