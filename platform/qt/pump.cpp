// The pump: what a wait runs between its checks, on the Qt event loop of
// its thread, delivering the thread's own messages without a trip through
// Qt's event queue.
#include <ferrolink/messages.h>

#include "message_queue.h"

#include <QSocketNotifier>

#include <chrono>

namespace ferro {

using namespace detail;

namespace {

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

void detail::WaitAndProcessMessagesOrReadable(int fd)
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

} // namespace ferro
