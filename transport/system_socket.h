// Internal to the stand-in: the operating system's socket calls, each once,
// and nowhere else. Every call returns what the system gave (a count, a
// descriptor, 0), or minus the error it named (-EAGAIN): never errno, so
// what a call failed with cannot be overwritten by a later one. A second
// platform replaces this unit and keeps the rest.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <cstddef>

namespace ferro::sys {

// A new TCP socket of `family` (closed across exec).
int OpenStream(int family, int type = SOCK_STREAM, int protocol = 0);
// A fresh TCP socket of `family` under the number `fd` (which it closes).
int ReplaceStream(int fd, int family);
int Close(int fd);
int Connect(int fd, const ::sockaddr_storage& to, socklen_t length);
int Bind(int fd, const ::sockaddr_storage& at, socklen_t length);
int Listen(int fd, int backlog);
// A connection taken from the listening `fd` (closed across exec), its
// peer's address in `from`.
int Accept(int fd, ::sockaddr_storage& from);

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
int PeerAddress(int fd, ::sockaddr_storage& peer, socklen_t& length);

// The addresses of `name` (getaddrinfo): 0, or its EAI_ code; a list to
// hand to FreeAddresses.
int LookUp(const char* name, const ::addrinfo& hints, ::addrinfo*& list);
void FreeAddresses(::addrinfo* list);

// A call that would block, waited its bounded moment out, or was
// interrupted (a bounded call is never restarted): nothing came yet.
bool NothingYet(long result);

} // namespace ferro::sys
