// Each thread's message queue on Qt, made by its first window, and what a
// thread needs to run components: the application object and an event loop.
#include "message_queue.h"

#include <ferrolink/exceptions.h>

namespace ferro {

namespace detail {

namespace {

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

} // namespace

MessageQueue* CurrentQueue() { return tQueue.Queue; }

MessageQueue& Queue()
{
    if (!tQueue.Queue)
        tQueue.Queue = new MessageQueue;
    return *tQueue.Queue;
}

} // namespace detail

void RequireEventLoop()
{
    if (!QCoreApplication::instance())
        throw EThreadError("No QCoreApplication: create the application object (QCoreApplication or QApplication) before any Ferrolink component");
    if (!QThread::currentThread()->eventDispatcher())
        throw EThreadError("This thread runs no Qt event loop: create Ferrolink components on the application's thread or in a QThread");
}

} // namespace ferro
