// Internal to the stand-in: the operating system's socket calls, each once,
// and nowhere else. Every call returns what the system gave (a count, a
// descriptor, 0), or minus the error it named (-EAGAIN): never errno, so
// what a call failed with cannot be overwritten by a later one. A second
// platform replaces this unit and keeps the rest.
#pragma once

#include <netdb.h>
#include <sys/socket.h>
#include <sys/uio.h>

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
int Shutdown(int fd, int how);

long Receive(int fd, void* into, std::size_t length, int flags);
// Sends never raise SIGPIPE: a peer that went is an error (-EPIPE).
long Send(int fd, const void* bytes, std::size_t length, int flags);
long SendGathered(int fd, const ::iovec* parts, std::size_t count, int flags);

// The events of `events` that `fd` shows within `ms` (-1: no limit); 0
// when the time passed.
int Poll(int fd, short events, int ms);

int SetOption(int fd, int level, int name, const void* value, socklen_t length);
// An int option set to `value`.
int SetFlag(int fd, int level, int name, int value);
int GetOption(int fd, int level, int name, void* value, socklen_t& length);
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
