// A listening socket's part of the transport: its backlog, and the early
// accept. After a service a server looks a moment for the next connection
// (a sender posting one message after another is a moment away); with
// bounded waits the look is the accept itself, its connection parked for
// the next accept: one system call instead of a look and an accept.
#pragma once

#include "system_socket.h"

namespace ferro::net {

class TListener {
public:
    TListener() = default;
    // Closes a parked connection nobody accepted.
    ~TListener();
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    // -1 before the socket listens.
    int Backlog() const { return FBacklog; }
    // Listens on `fd` with `backlog`: 0, or minus the error.
    int Listen(int fd, int backlog);

    // A connection is there for the next accept: parked, or seen by the last
    // look, or (with no look since the last accept or selection) pending now.
    bool Pending(int fd) const;
    // The early accept: within a moment, a connection taken and parked
    // (`bounded`: the socket's own waits are a moment) or at least seen.
    // True when one is there; false too when one came that cannot be taken
    // now (out of descriptors): the accept that follows meets the cause.
    bool LookEarly(int fd, bool bounded);
    // What a look found counts until the next accept or selection.
    void ForgetLook() { FLooked = TLook::None; }
    // The next connection: the parked one, or one the system gives, waiting
    // as the socket's waits let it. Its descriptor with its peer's address
    // in `from`, or minus the error.
    int Accept(int fd, sys::TEndpoint& from);

private:
    enum class TLook { None, Pending, Empty };
    int FBacklog = -1;
    TLook FLooked = TLook::None;
    int FParked = -1;
    sys::TEndpoint FParkedFrom;
};

} // namespace ferro::net
