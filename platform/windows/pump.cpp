// The pump on the Win32 message loop: the thread's own messages first, then
// what the system holds for the thread; a wait sleeps in
// MsgWaitForMultipleObjectsEx.
#include "message_queue.h"

#include "socketwatch.h"
#include "system_socket.h"

namespace ferro {

using namespace detail;

void ProcessMessages()
{
    MessageQueue& queue = Queue();
    queue.DrainLocal();
    queue.Process(false);
}

void WaitAndProcessMessages()
{
    MessageQueue& queue = Queue();
    if (queue.HasLocal()) {
        queue.DrainLocal();
        return;
    }
    queue.Process(true);
}

void detail::WaitAndProcessMessagesOrReadable(int fd)
{
    MessageQueue& queue = Queue();
    if (queue.HasLocal()) {
        queue.DrainLocal();
        return;
    }
    TSocketWatch* watch = queue.WatchOf(fd);
    if (watch)
        watch->AwaitingRead(true);
    // A close that came before the selection is not always told by it (seen
    // under wine: the wait slept through a peer's reset): what holds now is
    // looked at first, and the pass does not sleep when it is readable.
    const bool readableNow = sys::Poll(fd, sys::kReadable, 0) > 0;
    queue.Process(!readableNow);
    if ((watch = queue.WatchOf(fd)) != nullptr) // the socket may be gone by now
        watch->AwaitingRead(false);
}

} // namespace ferro
