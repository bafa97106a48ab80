// WSAAsyncSelect on POSIX sockets: readiness seen by the event loop becomes
// one posted message per occurrence, re-armed by the matching call.
#include "winsock_sockets.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace ferro::winsock::detail {
namespace {

std::mutex gSocketsLock;
std::atomic<unsigned> gTableChanges {0}; // a change of the table ends what Find remembers

std::unordered_map<SOCKET, std::unique_ptr<SocketState>>& Sockets()
{
    // Never destroyed: a socket left open at exit must not tear down its
    // notifiers after the event loop is gone.
    static auto* sockets = new std::unordered_map<SOCKET, std::unique_ptr<SocketState>>;
    return *sockets;
}

void Post(const SocketState& state, long event, int error)
{
    if (state.Msg != 0 && (state.Events & event))
        PostMessage(state.Window, state.Msg, static_cast<std::uintptr_t>(state.Fd), WSAMAKESELECTREPLY(static_cast<int>(event), error));
}

bool Pending(int fd, int ms)
{
    pollfd look {fd, POLLIN, 0};
    return ::poll(&look, 1, ms) == 1;
}

bool Selected(const SocketState& state, long event) { return state.Msg != 0 && (state.Events & event); }

bool WantsRead(const SocketState& state)
{
    switch (state.State) {
    case Phase::Listening:
        return Selected(state, FD_ACCEPT) && state.AcceptArmed;
    case Phase::Connected:
        // What is read ahead is announced without the watch.
        if (state.ReadBlocked || state.Buffered() > 0 || state.EndOfStream || state.BrokenBy)
            return false;
        return (Selected(state, FD_READ) && state.ReadArmed) || (Selected(state, FD_CLOSE) && !state.CloseReported);
    default:
        return false;
    }
}

bool WantsWrite(const SocketState& state)
{
    // A connection in progress is always watched: its completion changes the
    // socket's phase whether or not anybody listens for FD_CONNECT.
    if (state.State == Phase::Connecting)
        return true;
    return state.State == Phase::Connected && Selected(state, FD_WRITE) && state.WriteArmed;
}

// Tells the event loop only what changes: every change of a watch costs it.
void UpdateWatch(SocketState& state)
{
    const bool read = WantsRead(state);
    const bool write = WantsWrite(state);
    if (read != state.ReadWatched) {
        state.Watch->WatchRead(read);
        state.ReadWatched = read;
    }
    if (write != state.WriteWatched) {
        state.Watch->WatchWrite(write);
        state.WriteWatched = write;
    }
}

// Data already read ahead is announced without waiting for the connection.
void AnnounceBuffered(SocketState& state)
{
    if (state.Buffered() > 0 && Selected(state, FD_READ) && state.ReadArmed) {
        state.ReadArmed = false;
        Post(state, FD_READ, 0);
    } else if (state.Buffered() == 0 && (state.EndOfStream || state.BrokenBy) && Selected(state, FD_CLOSE) &&
               !state.CloseReported) {
        state.CloseReported = true;
        Post(state, FD_CLOSE, state.BrokenBy);
    }
}

void ReadableConnection(SocketState& state)
{
    char byte;
    const ssize_t n = state.Buffered() > 0 ? 1
        : state.EndOfStream || state.BrokenBy ? 0
                                               : ::recv(state.Fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n > 0) {
        if (Selected(state, FD_READ) && state.ReadArmed) {
            state.ReadArmed = false;
            Post(state, FD_READ, 0);
        } else {
            state.ReadBlocked = true;
        }
        return;
    }
    // The end of the stream (n == 0) or a broken connection: FD_CLOSE, once,
    // and only once all data before it has been read. The system tells a
    // break only once, so it is kept for the receives that follow. Nothing
    // more can come, so the watch rests until somebody reads.
    if (n < 0 && !state.BrokenBy)
        state.BrokenBy = ErrorFromErrno(errno);
    if (Selected(state, FD_CLOSE) && !state.CloseReported) {
        state.CloseReported = true;
        Post(state, FD_CLOSE, state.BrokenBy);
    }
    state.ReadBlocked = true;
}

void OnReadable(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return;
    if (state->State == Phase::Listening) {
        state->AcceptArmed = false;
        Post(*state, FD_ACCEPT, 0);
    } else if (state->State == Phase::Connected) {
        ReadableConnection(*state);
    }
    UpdateWatch(*state);
}

void OnWritable(SOCKET s)
{
    SocketState* state = Find(s);
    if (!state)
        return;
    if (state->State == Phase::Connecting) {
        int error = 0;
        socklen_t len = sizeof error;
        ::getsockopt(state->Fd, SOL_SOCKET, SO_ERROR, &error, &len);
        ConnectCompleted(*state, error ? ErrorFromErrno(error) : 0);
        return;
    }
    state->SendBlocked = false;
    if (state->State == Phase::Connected && state->WriteArmed) {
        state->WriteArmed = false;
        Post(*state, FD_WRITE, 0);
    }
    UpdateWatch(*state);
}

// The selections around each send of a stream: FD_WRITE alone on a
// connection with room, and the deselection after it, while the watch rests.
// Neither changes the watch, nor has anything else to announce.
bool SelectsQuickly(SocketState& state, HWND window, unsigned msg, long events)
{
    if (state.State != Phase::Connected || state.ReadWatched || state.WriteWatched)
        return false;
    if (msg != 0 && (events != FD_WRITE || state.SendBlocked))
        return false;
    state.Window = window;
    state.Msg = msg;
    state.Events = msg != 0 ? events : 0;
    state.ReadArmed = state.AcceptArmed = true;
    state.ReadBlocked = false;
    state.WriteArmed = msg == 0;
    if (msg != 0)
        Post(state, FD_WRITE, 0);
    return true;
}

} // namespace

SocketState* Find(SOCKET s)
{
    // A socket's state is used by the thread of its component alone; the
    // table is shared by every thread. A thread mostly asks for the same
    // socket again: that answer holds until the table changes.
    struct Last {
        SOCKET Socket = INVALID_SOCKET;
        SocketState* State = nullptr;
        unsigned Changes = 0;
    };
    thread_local Last last;
    const unsigned changes = gTableChanges.load(std::memory_order_acquire);
    if (last.State && last.Socket == s && last.Changes == changes)
        return last.State;
    const std::lock_guard lock(gSocketsLock);
    auto it = Sockets().find(s);
    SocketState* state = it == Sockets().end() ? nullptr : it->second.get();
    last = {s, state, changes};
    return state;
}

SocketState& Register(int fd, Phase phase)
{
    auto state = std::make_unique<SocketState>();
    state->Fd = fd;
    state->State = phase;
    const auto s = static_cast<SOCKET>(fd);
    state->Watch = std::make_unique<TSocketWatch>(fd, [s] { OnReadable(s); }, [s] { OnWritable(s); });
    const std::lock_guard lock(gSocketsLock);
    ++gTableChanges;
    auto& slot = Sockets()[s];
    slot = std::move(state);
    return *slot;
}

void Unregister(SOCKET s)
{
    std::unique_ptr<SocketState> gone;
    const std::lock_guard lock(gSocketsLock);
    auto it = Sockets().find(s);
    if (it == Sockets().end())
        return;
    gone = std::move(it->second);
    Sockets().erase(it);
    ++gTableChanges;
}

void Select(SocketState& state, HWND window, unsigned msg, long events)
{
    // Deselecting a socket that nothing is selected for changes nothing: the
    // next selection arms every event afresh anyway.
    if (msg == 0 && state.Msg == 0)
        return;
    if (SelectsQuickly(state, window, msg, events))
        return;
    state.Window = window;
    state.Msg = msg;
    state.Events = msg != 0 ? events : 0;
    // A new selection looks at the socket afresh: whatever is ready now is
    // announced now (FD_WRITE at once on a writable socket).
    state.ReadArmed = state.WriteArmed = state.AcceptArmed = true;
    state.ReadBlocked = false;
    if (state.State == Phase::Connected && Selected(state, FD_CONNECT))
        Post(state, FD_CONNECT, 0);
    if (state.State == Phase::Connected)
        AnnounceBuffered(state);
    // Room to write is the common case: announce it without a trip through
    // the event loop's readiness watch, unless a send has just found none.
    if (state.State == Phase::Connected && Selected(state, FD_WRITE) && !state.SendBlocked) {
        state.WriteArmed = false;
        Post(state, FD_WRITE, 0);
    }
    // So is a connection already pending on a listening socket.
    if (state.State == Phase::Listening && Selected(state, FD_ACCEPT)) {
        const bool pending = state.Taken >= 0 || (state.Looked == SocketState::Look::None ? Pending(state.Fd, 0)
                                                                                          : state.Looked == SocketState::Look::Pending);
        if (pending) {
            state.AcceptArmed = false;
            Post(state, FD_ACCEPT, 0);
        }
    }
    state.Looked = SocketState::Look::None;
    UpdateWatch(state);
}

void ConnectStarted(SocketState& state)
{
    state.State = Phase::Connecting;
    UpdateWatch(state);
}

void ConnectCompleted(SocketState& state, int error)
{
    // A failed attempt leaves the socket as it was before connect, ready for
    // another attempt (on a new system socket, see Renew).
    state.State = error ? Phase::Fresh : Phase::Connected;
    state.AttemptFailed = error != 0;
    Post(state, FD_CONNECT, error);
    if (!error && Selected(state, FD_WRITE) && state.WriteArmed) {
        state.WriteArmed = false;
        Post(state, FD_WRITE, 0);
    }
    UpdateWatch(state);
}

void Renewed(SocketState& state)
{
    state.State = Phase::Fresh;
    state.Bound = false;
    state.NoDelay = false;
    state.Backlog = -1;
    state.AttemptFailed = false;
    state.MomentTimeOuts = false; // the new system socket has none
    state.BrokenBy = 0;
    state.AbortOnClose = false;
    state.CloseReported = false;
    state.ReadBlocked = state.SendBlocked = false;
    state.AheadBegin = state.AheadEnd = 0;
    state.EndOfStream = false;
    state.SendAhead.clear();
    state.SentTotal = 0;
    UpdateWatch(state);
}

void SendWouldBlock(SocketState& state)
{
    state.SendBlocked = true;
    state.WriteArmed = true;
    UpdateWatch(state);
}

void Received(SocketState& state)
{
    state.ReadArmed = true;
    state.ReadBlocked = false;
    // Nothing selected and nothing watched: nothing to announce or change.
    if (state.Msg == 0 && !state.ReadWatched && !state.WriteWatched)
        return;
    AnnounceBuffered(state);
    UpdateWatch(state);
}

void Accepted(SocketState& state)
{
    state.AcceptArmed = true;
    state.Looked = SocketState::Look::None;
    UpdateWatch(state);
}

void ListenStarted(SocketState& state)
{
    state.State = Phase::Listening;
    UpdateWatch(state);
}

} // namespace ferro::winsock::detail

namespace ferro::winsock {

bool LookForConnection(SOCKET s)
{
    using Look = detail::SocketState::Look;
    detail::SocketState* state = detail::Find(s);
    if (!state || state->State != detail::Phase::Listening)
        return false;
    if (state->Taken >= 0)
        return true;
    if (!state->MomentTimeOuts) {
        const bool pending = detail::Pending(state->Fd, 1);
        state->Looked = pending ? Look::Pending : Look::Empty;
        return pending;
    }
    // The accept waits the moment itself, and keeps what it takes for the
    // next accept: one system call instead of a look and an accept.
    socklen_t fromLength = sizeof state->TakenFrom;
    state->Taken = ::accept4(state->Fd, reinterpret_cast<::sockaddr*>(&state->TakenFrom), &fromLength, SOCK_CLOEXEC);
    // No connection came, or one came that cannot be taken now (out of
    // descriptors): then the accept that follows meets the cause itself.
    const bool none = state->Taken < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    state->Looked = none ? Look::Empty : Look::Pending;
    return !none;
}

} // namespace ferro::winsock
