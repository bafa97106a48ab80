// Internal to the transport: the operating system's socket calls, each
// once, and nowhere else. Every call returns what the system gave (a count,
// a descriptor, 0), or minus the error it named (-EAGAIN): never errno, so
// what a call failed with cannot be overwritten by a later one. Its words
// are its own (endpoints, flags, readiness), and it includes no system
// header: each platform has a unit of its own behind it, and the system's
// names never meet the socket interface's above.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ferro::sys {

// The two families.
constexpr int kInet4 = 4;
constexpr int kInet6 = 6;

// An IP address of either family and a port, whatever the system's records
// look like. Byte fields are in network order, as on the wire.
struct TEndpoint {
    int Family = kInet4;
    std::uint8_t Ip[16] {};      // IPv4: the first 4
    std::uint8_t Port[2] {};
    std::uint8_t FlowInfo[4] {}; // IPv6
    std::uint32_t ScopeId = 0;   // IPv6
};

// A new TCP socket of `family` (closed across exec); `type` and `protocol`
// as the socket interface and the system both number them (1: a stream).
int OpenStream(int family, int type = 1, int protocol = 0);
// A fresh TCP socket of `family` under the number `fd` (which it closes).
int ReplaceStream(int fd, int family);
int Close(int fd);
int Connect(int fd, const TEndpoint& to);
int Bind(int fd, const TEndpoint& at);
int Listen(int fd, int backlog);
// A connection taken from the listening `fd` (closed across exec), its
// peer's address in `from`.
int Accept(int fd, TEndpoint& from);

// How a receive or a send goes: the transport's own flags, which each
// platform's unit gives the system in its terms.
constexpr int kPeek = 1;     // the bytes stay for the next receive
constexpr int kDontWait = 2; // nothing there, or no room: -EAGAIN at once

long Receive(int fd, void* into, std::size_t length, int flags);
// Sends never raise SIGPIPE: a peer that went is an error (-EPIPE).
long Send(int fd, const void* bytes, std::size_t length, int flags);
// Bytes in several pieces, sent as one.
struct TPiece {
    const void* Bytes;
    std::size_t Length;
};
long SendGathered(int fd, const TPiece* pieces, std::size_t count, int flags);
// Ends the sending side (the peer reads the end of the stream).
int ShutdownSending(int fd);

// Readiness, as Poll asks and answers it.
constexpr int kReadable = 1; // data, the end, a break, or a connection to accept
constexpr int kWritable = 2; // room to send, or a connect's outcome
// What of `events` `fd` shows within `ms` (-1: no limit), a failure or a
// hang-up counting as both; 0 when the time passed.
int Poll(int fd, int events, int ms);

// The options the transport sets, each a call of its own.
int SetNoDelay(int fd);
int SetReuseAddress(int fd);
// IPv6 only, or (false) IPv4 as well on an IPv6 socket.
int SetV6Only(int fd, bool only);
// What a close does with bytes not yet sent: with `on`, waits up to
// `seconds` for them, or with 0 resets the connection at once.
int SetLinger(int fd, bool on, int seconds);
// The longest a receive or a send that may wait does so, in microseconds.
int SetWaitLimits(int fd, long microseconds);
// How many bytes the send buffer surely takes now, or minus the error
// (-ENOPROTOOPT where the system cannot tell).
long SendSpace(int fd);
// What a finished connect left (SO_ERROR): 0, or the error, positive.
int PendingError(int fd);
int PeerAddress(int fd, TEndpoint& peer);
// The address and port `fd` is bound to.
int LocalAddress(int fd, TEndpoint& local);

// An address written as people write them (192.0.2.1, 2001:db8::1) into
// `into`'s family and IP; false when `text` is none.
bool ParseIp(const char* text, TEndpoint& into);
// `address`'s IP as people write it.
std::string IpText(const TEndpoint& address);
// An IPv4 address in any form the system's inet_addr reads (octal,
// hexadecimal, fewer parts), in network order; 0xFFFFFFFF for none.
std::uint32_t InetAddr(const char* text);

// What a lookup found: its addresses in the resolver's order (the
// system's address selection rules), and the canonical name when asked for
// and known; or why it found none.
enum class TLookupError { None, NotFound, NoAddress, TryAgain, Failed, NoMemory };
struct TFound {
    TLookupError Error = TLookupError::None;
    std::string CanonicalName;
    std::vector<TEndpoint> Endpoints;
};
// Looks `name` up for TCP in `family` (0: either), at most `most`
// addresses. Blocks until the resolver answers.
TFound LookUp(const char* name, int family, bool canonical, std::size_t most);

// A call that would block, waited its bounded moment out, or was
// interrupted (a bounded call is never restarted): nothing came yet.
inline bool NothingYet(long result)
{
    return result == -EAGAIN || result == -EWOULDBLOCK || result == -EINTR;
}

} // namespace ferro::sys
