#include "listener.h"

#include "system_socket.h"

#include <utility>

namespace ferro::net {

TListener::~TListener()
{
    if (FParked >= 0)
        sys::Close(FParked);
}

int TListener::Listen(int fd, int backlog)
{
    const int result = sys::Listen(fd, backlog);
    if (result == 0)
        FBacklog = backlog;
    return result;
}

bool TListener::Pending(int fd) const
{
    if (FParked >= 0 || FLooked == TLook::Pending)
        return true;
    return FLooked == TLook::None && sys::Poll(fd, sys::kReadable, 0) > 0;
}

bool TListener::LookEarly(int fd, bool bounded)
{
    if (FParked >= 0)
        return true;
    if (!bounded) {
        const bool pending = sys::Poll(fd, sys::kReadable, 1) > 0;
        FLooked = pending ? TLook::Pending : TLook::Empty;
        return pending;
    }
    const int taken = sys::Accept(fd, FParkedFrom);
    FParked = taken >= 0 ? taken : -1;
    const bool none = sys::NothingYet(taken);
    FLooked = none ? TLook::Empty : TLook::Pending;
    return !none;
}

int TListener::Accept(int fd, sys::TEndpoint& from)
{
    FLooked = TLook::None;
    if (FParked >= 0) {
        from = FParkedFrom;
        return std::exchange(FParked, -1);
    }
    return sys::Accept(fd, from);
}

} // namespace ferro::net
