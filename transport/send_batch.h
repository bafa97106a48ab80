// Send batching: sends marked "more follows" wait here and go out with the
// next send that is not, in one system call (a message's fields and its
// body's chunks leave as a few packets, not one each). Only as many bytes
// wait as the connection's buffer had room for when they came, so handing
// them over never finds it full: what a send counts is the system's.
// Small writes otherwise leave at once (TCP_NODELAY), set only before a
// connection's second send, the first that the system could hold back.
#pragma once

#include <cstddef>
#include <string>

namespace ferro::net {

class TSendBatch {
public:
    static constexpr std::size_t kSize = 16384;

    // Bytes kept for the next send.
    bool Holds() const { return !FBytes.empty(); }
    // Bytes the system has taken on this connection.
    std::size_t SentTotal() const { return FSentTotal; }

    // Keeps `length` bytes of a "more follows" send when the system is sure
    // to take all that is kept (asking it for its room at most once a
    // batch); false when they must go now. `sendBlocked`: a send found the
    // buffer full since the last room was seen.
    bool Keep(int fd, const char* buf, std::size_t length, bool sendBlocked);
    // Sends what is kept, then `buf`, in one system call. The count of
    // `buf`'s bytes the system took, or minus the errno (-EAGAIN when not
    // even the kept bytes all left: the rest stays kept).
    long SendWith(int fd, const char* buf, std::size_t length, int flags);
    // Hands what is kept to the system without waiting; true when nothing
    // is left.
    bool Flush(int fd);
    // As Flush, waiting up to `ms` for room.
    bool Deliver(int fd, int ms);
    // A reset drops what is kept: the peer learns of the loss by it.
    void Drop() { FBytes.clear(); }
    // A socket made afresh: nothing kept, nothing sent, no TCP_NODELAY.
    void Clear();

    // TCP_NODELAY, set once.
    void NoDelay(int fd);
    bool NoDelaySet() const { return FNoDelay; }
    // An accepted connection inherits its listener's setting.
    void InheritNoDelay(bool set) { FNoDelay = set; }

private:
    // Hands over what is kept without waiting: 0 when all has left, else
    // minus the error that stopped it (-EAGAIN: the buffer is full).
    long Push(int fd);

    std::string FBytes;
    std::size_t FRoom = 0;
    bool FRoomAsked = false; // the system was asked for this batch's room
    std::size_t FSentTotal = 0;
    bool FNoDelay = false;
};

} // namespace ferro::net
