#include "connection.h"

#include "system_socket.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace ferro::net {

namespace {

// The system rounds it up to a tick of its clock.
constexpr long kMomentMicroseconds = 1000;

// Errors after which the connection can carry nothing more.
bool BreaksConnection(int error)
{
    switch (error) {
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EPIPE:
    case ENETDOWN:
    case ENETUNREACH:
#ifdef EHOSTDOWN // not every system's errno has it
    case EHOSTDOWN:
#endif
    case EHOSTUNREACH:
        return true;
    default:
        return false;
    }
}

} // namespace

int TConnection::Keep(int error)
{
    if (BreaksConnection(error) && !FBrokenBy)
        FBrokenBy = error;
    return error;
}

void TConnection::Broke(int error)
{
    if (!FBrokenBy)
        FBrokenBy = error;
}

long TConnection::Receive(char* into, std::size_t length, bool peek, bool wait)
{
    Flush();
    if (Buffered() == 0 && FBrokenBy)
        return -FBrokenBy;
    const bool more = !EndOfStream() && !FBrokenBy;
    // A receive as large as the read-ahead buffer or more goes past it: a
    // large body costs one copy, not two, and a system call per buffer's worth.
    if (length >= TReadAhead::kSize && !peek && more) {
        const std::size_t most = std::min<std::size_t>(length, std::numeric_limits<int>::max());
        const long n = FAhead.TakeThrough(FFd, into, most, wait);
        return n < 0 ? -Keep(static_cast<int>(-n)) : n;
    }
    // Fewer bytes buffered than asked for: all the system holds when nothing
    // is (waiting as asked), more without waiting when some is, so a peek
    // sees everything that has arrived.
    if (Buffered() < length && Buffered() < TReadAhead::kSize && more) {
        const bool some = Buffered() > 0;
        const long n = FAhead.Fill(FFd, wait && !some);
        if (n < 0) {
            Keep(static_cast<int>(-n)); // told by the next receive when some came
            if (!some)
                return n;
        }
    }
    return static_cast<long>(FAhead.Take(into, length, peek));
}

long TConnection::ReceiveLeftovers(char* into, std::size_t length)
{
    if (Buffered() == 0 && (EndOfStream() || FAhead.Fill(FFd, false) <= 0))
        return 0;
    return static_cast<long>(FAhead.Take(into, length, false));
}

long TConnection::Look()
{
    if (Buffered() > 0)
        return 1;
    if (EndOfStream() || FBrokenBy)
        return 0;
    char byte;
    const long n = sys::Receive(FFd, &byte, 1, sys::kPeek | sys::kDontWait);
    if (n >= 0 || sys::NothingYet(n))
        return n == 0 ? 0 : n;
    Broke(static_cast<int>(-n));
    return 0;
}

long TConnection::Send(const char* bytes, std::size_t length, bool more, bool sendBlocked, int flags)
{
    if (FBrokenBy)
        return -FBrokenBy;
    if (more && FBatch.Keep(FFd, bytes, length, sendBlocked))
        return static_cast<long>(length);
    if (!more && length == 0 && !FBatch.Holds())
        return 0; // nothing to send and nothing kept
    // Whatever is kept goes first, together with this send.
    const long n = FBatch.SendWith(FFd, bytes, length, flags);
    return n < 0 ? -Keep(static_cast<int>(-n)) : n;
}

long TConnection::PushHeld(int flags)
{
    if (!FBatch.Holds())
        return 0;
    if (FBrokenBy)
        return -FBrokenBy;
    const long n = FBatch.SendWith(FFd, nullptr, 0, flags);
    return n < 0 ? -Keep(static_cast<int>(-n)) : 0;
}

void TConnection::BoundWaits()
{
    if (FWaitsBounded)
        return;
    sys::SetWaitLimits(FFd, kMomentMicroseconds);
    FWaitsBounded = true;
}

void TConnection::Restart()
{
    FAhead.Clear();
    FBatch.Clear();
    FBrokenBy = 0;
    FWaitsBounded = false;
}

} // namespace ferro::net
