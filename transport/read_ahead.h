// Read-ahead: one system call takes what a connection holds, and the small
// receives and peeks of the components are served from here (a receive of
// 4 bytes, then of 10, then a peek of 1 cost one call instead of three).
#pragma once

#include <cstddef>
#include <memory>

namespace ferro::net {

class TReadAhead {
public:
    static constexpr std::size_t kSize = 16384;

    // Bytes waiting to be received.
    std::size_t Buffered() const { return FEnd - FBegin; }
    // The peer's close was read into the buffer's tail.
    bool EndOfStream() const { return FEndOfStream; }

    // Receives from `fd` into the free space (moving what waits to the
    // front): with `wait`, as the system's receive waits (blocking, or a
    // bounded wait), else without waiting. The system's result: bytes taken,
    // 0 for the end of the stream (remembered), or minus the errno.
    long Fill(int fd, bool wait);
    // A large receive: what waits is copied into `into`, then the rest of
    // `length` comes from `fd` straight into `into` (waiting as Fill does
    // only when nothing waited), never through the buffer. An end of stream
    // behind some bytes is remembered for the next receive. The bytes taken,
    // or the system's result when none were: 0 for the end, or minus the
    // errno.
    long TakeThrough(int fd, char* into, std::size_t length, bool wait);
    // Copies up to `length` waiting bytes into `into`; a peek leaves them.
    std::size_t Take(char* into, std::size_t length, bool peek);
    // Drops what waits and the end of the stream: a socket made afresh.
    void Clear();

private:
    std::unique_ptr<char[]> FBytes; // made at the first fill
    std::size_t FBegin = 0;
    std::size_t FEnd = 0;
    bool FEndOfStream = false;
};

} // namespace ferro::net
