// The table of the stand-in's open sockets, shared by every thread; each
// socket's state is used by its component's thread alone.
#include "socket_state.h"

#include <atomic>
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
    auto state = std::make_unique<SocketState>(fd);
    state->Link.State = phase;
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

} // namespace ferro::winsock::detail
