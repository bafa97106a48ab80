// Test support: the few system socket calls the peers are made of, each
// platform's own (support/posix, support/windows), so that the peers are
// written once. Sockets are IPv4 on the loopback; descriptors are ints on
// both platforms (a Windows SOCKET fits one), -1 for none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace peer {

// A TCP socket; `nonBlocking` for one whose connect returns at once.
int Socket(bool nonBlocking = false);
void Close(int fd);
// Binds to `address` (dotted IPv4) and `port` (0: the system picks);
// `overTimeWait` for a listener that a rerun may bind again at once.
bool Bind(int fd, const char* address, std::uint16_t port, bool overTimeWait = false);
bool Listen(int fd, int backlog);
// The port `fd` is bound to.
std::uint16_t LocalPort(int fd);
// Connects to 127.0.0.1:port; a non-blocking socket starts it only.
bool Connect(int fd, std::uint16_t port);
int Accept(int fd);
// One send or receive: the count, 0 at the end of the stream, -1 on error.
long Send(int fd, const char* bytes, std::size_t count);
long Receive(int fd, char* into, std::size_t count);
// Whether a connection started by a non-blocking Connect is made within
// `timeoutMs` (not refused, not still under way).
bool ConnectedWithin(int fd, int timeoutMs);
// Whether a plain client reaches 127.0.0.1's IPv6 twin, ::1, at `port`: 1
// when it connects, 0 when refused, -1 when this machine has no ::1.
int ReachesOverIPv6(std::uint16_t port);
// Whether the next receive on `fd` fails by the peer's reset.
bool ReceiveMeetsReset(int fd);
// Which of `fds` is readable (or closed, or failed) first within `timeoutMs`;
// -1 when none is.
int WaitReadable(const int* fds, int count, int timeoutMs);
// Whether the peer of `fd` has gone within `timeoutMs`, seen even while its
// bytes lie unread.
bool PeerGone(int fd, int timeoutMs);
void ShutdownSending(int fd);
// Closes with a reset instead of an orderly close.
void Reset(int fd);
bool NoDelayOn(int fd);
bool IsOpen(int fd);
// Sizes of the system's buffers; 0 leaves one as it is.
void SetBufferSizes(int fd, int sendBytes, int receiveBytes);
// True when something listens on `port` in either family, read from the
// system's table so that looking does not count as a client.
bool ListensOn(std::uint16_t port);
// How many descriptors (handles, on Windows) the process holds open.
int OpenDescriptors();
// The system socket behind a handle of the socket library stand-in.
int SystemSocketOf(unsigned handle);

// A child process running `program` with `args`, its standard output and
// error on two pipes read by ReadPipe: its system handle, 0 when it could
// not start.
long long Spawn(const std::string& program, const std::vector<std::string>& args, int& output, int& errors);
// Whether the child ended (then its exit status is in `code`); never waits.
bool Ended(long long process, int& code);
void Kill(long long process);
// Reads from a pipe until something comes: the count, 0 at its end.
long ReadPipe(int fd, char* into, std::size_t count);
void ClosePipe(int fd);

} // namespace peer
