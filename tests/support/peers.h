// Test support: plain loopback peers on the system's own sockets, written
// without the socket layer under test, so that they check it from the
// outside. Descriptors are ints on every platform.
#pragma once

#include "peer_system.h"

#include <cstdint>
#include <future>
#include <string>
#include <vector>

// A listening socket on 127.0.0.1 and a port the system picked.
class TcpListener {
public:
    explicit TcpListener(int backlog = 8, std::uint16_t port = 0);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    std::uint16_t Port() const { return FPort; }
    int Fd() const { return FFd; }
    // Accepts one connection; -1 when none came within `timeoutMs`.
    int Accept(int timeoutMs = 5000);

private:
    int FFd = -1;
    std::uint16_t FPort = 0;
};

// A listening socket on `address` (dotted IPv4) and `port`, so that two
// loopback addresses may share a port; -1 when it cannot be had.
int ListenOnAddress(const char* address, std::uint16_t port);
// Sizes of a socket's system buffers (see peer_system.h).
using peer::SetBufferSizes;
// The system socket behind a handle of the socket library stand-in.
using peer::SystemSocketOf;
// A connection's outcome, IPv6's reach and a reset (see peer_system.h).
using peer::ConnectedWithin;
using peer::ReachesOverIPv6;
using peer::ReceiveMeetsReset;
using peer::OpenDescriptors;
// A connected socket to 127.0.0.1:port; -1 when refused.
int ConnectTo(std::uint16_t port);
// Starts a connection without waiting for it; the descriptor either way.
int ConnectNonBlocking(std::uint16_t port);
// Sends all bytes (blocking).
bool SendAll(int fd, const std::string& bytes);
// Receives until `count` bytes, the peer's close or `timeoutMs`; returns what came.
std::string RecvSome(int fd, std::size_t count, int timeoutMs = 5000);
// Receives until the peer closes or `timeoutMs` passes.
std::string RecvAll(int fd, int timeoutMs = 5000);
// True when the peer has closed (a read returns end of stream) within `timeoutMs`.
bool PeerClosed(int fd, int timeoutMs = 5000);
void CloseFd(int fd);
// Ends the sending side only: the other end sees the end of the stream.
void ShutdownSending(int fd);
// Closes with a reset instead of an orderly close.
void ResetFd(int fd);
bool IsOpenFd(int fd);
// Whether a handle of the socket library stand-in names an open system socket.
bool HandleIsOpen(int handle);
// Whether TCP_NODELAY is set on the system socket `fd`.
bool NoDelayOn(int fd);
// True when something listens on `port`: read from the kernel's socket table,
// so that looking does not count as a client.
bool ListensOn(std::uint16_t port);
// A port that was free a moment ago, for a server under test to listen on.
std::uint16_t FreePort();
// A port on 127.0.0.1 with nothing listening on it.
std::uint16_t UnusedPort();

// A client on its own thread: connects, sends each chunk (pausing `pauseMs`
// between them), and returns what comes back until the server closes. With
// `closeEarly` it closes right after sending and returns nothing.
std::future<std::string> ExchangeAsync(std::uint16_t port, std::vector<std::string> chunks, int pauseMs = 0,
                                       bool closeEarly = false);
// A client on its own thread that connects, sends the chunks and resets the
// connection instead of closing it.
// Forwards one connection from `front` to port `back`, accepted only after
// `acceptAfterMs` (it waits in the backlog meanwhile); the byte at `flipAt`
// of the client's stream is inverted, and at `cutAt` both connections are
// closed; or, with `holdMs`, nothing more is forwarded until the client
// goes or `holdMs` have passed (then what it sent goes through until it
// closes): a network that stalls. Returns the bytes of the client's stream
// it forwarded.
std::future<std::size_t> ProxyAsync(TcpListener& front, std::uint16_t back, std::size_t flipAt = SIZE_MAX, std::size_t cutAt = SIZE_MAX,
                                    int acceptAfterMs = 0, int holdMs = 0);
std::future<void> ResetAfterAsync(std::uint16_t port, std::vector<std::string> chunks);
