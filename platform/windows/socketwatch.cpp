#include "socketwatch.h"

#include "message_queue.h"
#include "system_handles.h"
#include "system_socket.h"

#include <cerrno>

namespace ferro {

namespace {

constexpr long kReadEvents = FD_READ | FD_CLOSE | FD_ACCEPT;
constexpr long kWriteEvents = FD_WRITE | FD_CONNECT;

} // namespace

TSocketWatch::TSocketWatch(int fd, std::function<void()> onReadable, std::function<void()> onWritable)
    : FFd(fd), FOnReadable(std::move(onReadable)), FOnWritable(std::move(onWritable))
{
    detail::Queue().AddWatch(FFd, this);
}

TSocketWatch::~TSocketWatch()
{
    if (detail::MessageQueue* queue = detail::CurrentQueue())
        queue->RemoveWatch(FFd, this);
}

void TSocketWatch::WatchRead(bool on)
{
    FRead = on;
    Select();
}

void TSocketWatch::WatchWrite(bool on)
{
    FWrite = on;
    Select();
}

void TSocketWatch::AwaitingRead(bool on)
{
    FAwaiting = on;
    Select();
}

void TSocketWatch::Select()
{
    const long events = (FRead || FAwaiting ? kReadEvents : 0) | (FWrite ? kWriteEvents : 0);
    // Asked again even when unchanged: a socket renewed under the same
    // number is a new system socket, and a new selection tells what holds.
    const SOCKET socket = sys::SystemHandle(FFd);
    if (socket == INVALID_SOCKET || (events == 0 && FSelected == 0))
        return;
    ::WSAAsyncSelect(socket, detail::Queue().Window(), events ? detail::kSocketMessage : 0, events);
    FSelected = events;
    // A close that came before this selection is not always told by it
    // (seen under wine): the end of the stream, or a reset, that is there
    // now is told as the system would have told it.
    char byte;
    const long peeked = (events & FD_CLOSE) ? sys::Receive(FFd, &byte, 1, sys::kPeek | sys::kDontWait) : 1;
    if (peeked == 0 || peeked == -ECONNRESET)
        ::PostMessageW(detail::Queue().Window(), detail::kSocketMessage, socket, WSAMAKESELECTREPLY(FD_CLOSE, 0));
}

void TSocketWatch::Notified(long events)
{
    NoteEventHandled();
    try {
        if ((events & kReadEvents) && FRead)
            FOnReadable();
        if ((events & kWriteEvents) && FWrite)
            FOnWritable();
    } catch (...) {
        HandleCurrentException();
    }
}

} // namespace ferro
