// WSAAsyncSelect on POSIX sockets: readiness seen by the event loop becomes
// one posted message per occurrence, re-armed by the matching call. Quick
// paths announce what is known without a trip through the readiness watch:
// room to write, data already read ahead, a connection an early accept saw.
#include "socket_state.h"

#include "thread_windows.h"

#include "system_socket.h"


namespace ferro::winsock::detail {
namespace {

void Post(const SocketState& state, long event, int error)
{
    if (state.Selection.Msg != 0 && (state.Selection.Events & event))
        PostMessage(state.Selection.Window, state.Selection.Msg, static_cast<std::uintptr_t>(state.Conn.Fd()), WSAMAKESELECTREPLY(static_cast<int>(event), error));
}

bool Selected(const SocketState& state, long event) { return state.Selection.Msg != 0 && (state.Selection.Events & event); }

bool WantsRead(const SocketState& state)
{
    switch (state.Link.State) {
    case Phase::Listening:
        return Selected(state, FD_ACCEPT) && state.Selection.AcceptArmed;
    case Phase::Connected:
        // What is read ahead is announced without the watch.
        if (state.Selection.ReadBlocked || state.Conn.Buffered() > 0 || state.Conn.EndOfStream() || BrokenBy(state))
            return false;
        return (Selected(state, FD_READ) && state.Selection.ReadArmed) || (Selected(state, FD_CLOSE) && !state.Selection.CloseReported);
    default:
        return false;
    }
}

bool WantsWrite(const SocketState& state)
{
    // A connection in progress is always watched: its completion changes the
    // socket's phase whether or not anybody listens for FD_CONNECT.
    if (state.Link.State == Phase::Connecting)
        return true;
    return state.Link.State == Phase::Connected && Selected(state, FD_WRITE) && state.Selection.WriteArmed;
}

} // namespace

// Tells the event loop only what changes: every change of a watch costs it.
void UpdateWatch(SocketState& state)
{
    const bool read = WantsRead(state);
    const bool write = WantsWrite(state);
    if (read != state.Selection.ReadWatched) {
        state.Watch->WatchRead(read);
        state.Selection.ReadWatched = read;
    }
    if (write != state.Selection.WriteWatched) {
        state.Watch->WatchWrite(write);
        state.Selection.WriteWatched = write;
    }
}

namespace {

// Data already read ahead is announced without waiting for the connection.
void AnnounceBuffered(SocketState& state)
{
    if (state.Conn.Buffered() > 0 && Selected(state, FD_READ) && state.Selection.ReadArmed) {
        state.Selection.ReadArmed = false;
        Post(state, FD_READ, 0);
    } else if (state.Conn.Buffered() == 0 && (state.Conn.EndOfStream() || BrokenBy(state)) && Selected(state, FD_CLOSE) &&
               !state.Selection.CloseReported) {
        state.Selection.CloseReported = true;
        Post(state, FD_CLOSE, BrokenBy(state));
    }
}

void ReadableConnection(SocketState& state)
{
    const long n = state.Conn.Look();
    if (n < 0)
        return; // nothing there yet
    if (n > 0) {
        if (Selected(state, FD_READ) && state.Selection.ReadArmed) {
            state.Selection.ReadArmed = false;
            Post(state, FD_READ, 0);
        } else {
            state.Selection.ReadBlocked = true;
        }
        return;
    }
    // The end of the stream (n == 0) or a broken connection: FD_CLOSE, once,
    // and only once all data before it has been read. The system tells a
    // break only once, so the connection keeps it for the receives that
    // follow. Nothing more can come, so the watch rests until somebody reads.
    if (Selected(state, FD_CLOSE) && !state.Selection.CloseReported) {
        state.Selection.CloseReported = true;
        Post(state, FD_CLOSE, BrokenBy(state));
    }
    state.Selection.ReadBlocked = true;
}

// The selections around each send of a stream: FD_WRITE alone on a
// connection with room, and the deselection after it, while the watch rests.
// Neither changes the watch, nor has anything else to announce.
bool SelectsQuickly(SocketState& state, HWND window, unsigned msg, long events)
{
    if (state.Link.State != Phase::Connected || state.Selection.ReadWatched || state.Selection.WriteWatched)
        return false;
    if (msg != 0 && (events != FD_WRITE || state.Selection.SendBlocked))
        return false;
    state.Selection.Window = window;
    state.Selection.Msg = msg;
    state.Selection.Events = msg != 0 ? events : 0;
    state.Selection.ReadArmed = state.Selection.AcceptArmed = true;
    state.Selection.ReadBlocked = false;
    state.Selection.WriteArmed = msg == 0;
    if (msg != 0)
        Post(state, FD_WRITE, 0);
    return true;
}

} // namespace

void OnReadable(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return;
    if (state->Link.State == Phase::Listening) {
        state->Selection.AcceptArmed = false;
        Post(*state, FD_ACCEPT, 0);
    } else if (state->Link.State == Phase::Connected) {
        ReadableConnection(*state);
    }
    UpdateWatch(*state);
}

void OnWritable(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return;
    if (state->Link.State == Phase::Connecting) {
        const int error = sys::PendingError(state->Conn.Fd());
        ConnectCompleted(*state, error ? ErrorFromErrno(error) : 0);
        return;
    }
    state->Selection.SendBlocked = false;
    if (state->Link.State == Phase::Connected && state->Selection.WriteArmed) {
        state->Selection.WriteArmed = false;
        Post(*state, FD_WRITE, 0);
    }
    UpdateWatch(*state);
}

void Select(SocketState& state, HWND window, unsigned msg, long events)
{
    // Deselecting a socket that nothing is selected for changes nothing: the
    // next selection arms every event afresh anyway.
    if (msg == 0 && state.Selection.Msg == 0)
        return;
    if (SelectsQuickly(state, window, msg, events))
        return;
    state.Selection.Window = window;
    state.Selection.Msg = msg;
    state.Selection.Events = msg != 0 ? events : 0;
    // A new selection looks at the socket afresh: whatever is ready now is
    // announced now (FD_WRITE at once on a writable socket).
    state.Selection.ReadArmed = state.Selection.WriteArmed = state.Selection.AcceptArmed = true;
    state.Selection.ReadBlocked = false;
    if (state.Link.State == Phase::Connected && Selected(state, FD_CONNECT))
        Post(state, FD_CONNECT, 0);
    if (state.Link.State == Phase::Connected)
        AnnounceBuffered(state);
    // Room to write is the common case: announce it without a trip through
    // the event loop's readiness watch, unless a send has just found none.
    if (state.Link.State == Phase::Connected && Selected(state, FD_WRITE) && !state.Selection.SendBlocked) {
        state.Selection.WriteArmed = false;
        Post(state, FD_WRITE, 0);
    }
    // So is a connection already pending on a listening socket.
    if (state.Link.State == Phase::Listening && Selected(state, FD_ACCEPT)) {
        if (state.Listening.Pending(state.Conn.Fd())) {
            state.Selection.AcceptArmed = false;
            Post(state, FD_ACCEPT, 0);
        }
    }
    state.Listening.ForgetLook();
    UpdateWatch(state);
}

void ConnectStarted(SocketState& state)
{
    state.Link.State = Phase::Connecting;
    UpdateWatch(state);
}

void ConnectCompleted(SocketState& state, int error)
{
    // A failed attempt leaves the socket as it was before connect, ready for
    // another attempt (on a new system socket, see Renew).
    state.Link.State = error ? Phase::Fresh : Phase::Connected;
    state.Link.AttemptFailed = error != 0;
    Post(state, FD_CONNECT, error);
    if (!error && Selected(state, FD_WRITE) && state.Selection.WriteArmed) {
        state.Selection.WriteArmed = false;
        Post(state, FD_WRITE, 0);
    }
    UpdateWatch(state);
}

void Renewed(SocketState& state)
{
    // The parts of a connection begin again; the mode stays but for the new
    // system socket's time-outs, and so does the selection but for what it
    // learnt of the old connection.
    state.Link = {};
    state.Conn.Restart();
    state.Selection.CloseReported = false;
    state.Selection.ReadBlocked = state.Selection.SendBlocked = false;
    UpdateWatch(state);
}

void SendWouldBlock(SocketState& state)
{
    state.Selection.SendBlocked = true;
    state.Selection.WriteArmed = true;
    UpdateWatch(state);
}

void Received(SocketState& state)
{
    state.Selection.ReadArmed = true;
    state.Selection.ReadBlocked = false;
    // Nothing selected and nothing watched: nothing to announce or change.
    if (state.Selection.Msg == 0 && !state.Selection.ReadWatched && !state.Selection.WriteWatched)
        return;
    AnnounceBuffered(state);
    UpdateWatch(state);
}

void Accepted(SocketState& state)
{
    state.Selection.AcceptArmed = true;
    state.Listening.ForgetLook();
    UpdateWatch(state);
}

void ListenStarted(SocketState& state)
{
    state.Link.State = Phase::Listening;
    UpdateWatch(state);
}

} // namespace ferro::winsock::detail

namespace ferro::winsock::ext {

void AwaitReadableOrMessages(SOCKET s)
{
    if (detail::SocketState* state = detail::Find(s))
        ferro::detail::WaitAndProcessMessagesOrReadable(state->Conn.Fd());
}

} // namespace ferro::winsock::ext
