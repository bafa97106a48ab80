#include "read_ahead.h"

#include "system_socket.h"

#include <algorithm>
#include <cstring>

namespace ferro::net {

long TReadAhead::Fill(int fd, bool wait)
{
    if (!FBytes)
        FBytes = std::make_unique_for_overwrite<char[]>(kSize);
    char* bytes = FBytes.get();
    std::memmove(bytes, bytes + FBegin, Buffered());
    FEnd = Buffered();
    FBegin = 0;
    const long n = sys::Receive(fd, bytes + FEnd, kSize - FEnd, wait ? 0 : sys::kDontWait);
    if (n == 0)
        FEndOfStream = true;
    else if (n > 0)
        FEnd += static_cast<std::size_t>(n);
    return n;
}

long TReadAhead::TakeThrough(int fd, char* into, std::size_t length, bool wait)
{
    const std::size_t waiting = Take(into, length, false);
    if (waiting == length || FEndOfStream)
        return static_cast<long>(waiting);
    const long n = sys::Receive(fd, into + waiting, length - waiting, wait && waiting == 0 ? 0 : sys::kDontWait);
    if (n == 0)
        FEndOfStream = true;
    if (n < 0 && waiting > 0)
        return static_cast<long>(waiting); // the error shows at the next receive
    if (n <= 0 && waiting == 0)
        return n;
    return static_cast<long>(waiting + static_cast<std::size_t>(std::max<long>(n, 0)));
}

std::size_t TReadAhead::Take(char* into, std::size_t length, bool peek)
{
    const std::size_t n = std::min(Buffered(), length);
    if (n > 0)
        std::memcpy(into, FBytes.get() + FBegin, n);
    if (!peek)
        FBegin += n;
    return n;
}

void TReadAhead::Clear()
{
    FBegin = FEnd = 0;
    FEndOfStream = false;
}

} // namespace ferro::net
