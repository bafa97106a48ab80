#include "socket_numbers.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace ferro::sys {

namespace {

constexpr int kFirstNumber = 3; // small, and never 0, 1 or 2, as descriptors

std::mutex gLock;

std::vector<TSlot>& Slots()
{
    static auto* slots = new std::vector<TSlot>; // never destroyed: sockets outlive static objects
    return *slots;
}

// Under the lock.
TSlot* SlotOf(int fd)
{
    const auto index = static_cast<std::size_t>(fd - kFirstNumber);
    return fd >= kFirstNumber && index < Slots().size() && Slots()[index].Socket != INVALID_SOCKET ? &Slots()[index] : nullptr;
}

} // namespace

TSlot Look(int fd)
{
    const std::lock_guard lock(gLock);
    const TSlot* slot = SlotOf(fd);
    return slot ? *slot : TSlot {};
}

int Number(SOCKET socket, long waitLimit)
{
    const std::lock_guard lock(gLock);
    auto& slots = Slots();
    auto free = std::find_if(slots.begin(), slots.end(), [](const TSlot& s) { return s.Socket == INVALID_SOCKET; });
    if (free == slots.end())
        free = slots.insert(slots.end(), TSlot {});
    *free = {socket, waitLimit};
    return kFirstNumber + static_cast<int>(free - slots.begin());
}

SOCKET Replace(int fd, SOCKET fresh)
{
    const std::lock_guard lock(gLock);
    TSlot* slot = SlotOf(fd);
    if (!slot)
        return INVALID_SOCKET;
    return std::exchange(*slot, TSlot {fresh, -1}).Socket;
}

SOCKET Release(int fd)
{
    const std::lock_guard lock(gLock);
    TSlot* slot = SlotOf(fd);
    return slot ? std::exchange(slot->Socket, INVALID_SOCKET) : INVALID_SOCKET;
}

bool SetWaitLimit(int fd, long microseconds)
{
    const std::lock_guard lock(gLock);
    TSlot* slot = SlotOf(fd);
    if (slot)
        slot->WaitLimit = microseconds;
    return slot != nullptr;
}

SOCKET SystemHandle(int fd)
{
    return Look(fd).Socket;
}

int NumberOf(SOCKET socket)
{
    const std::lock_guard lock(gLock);
    const auto& slots = Slots();
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (slots[i].Socket == socket)
            return kFirstNumber + static_cast<int>(i);
    return -1;
}

} // namespace ferro::sys
