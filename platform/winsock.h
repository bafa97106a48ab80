// The socket library the components are written against (version 1.1 of the
// Windows Sockets interface), standing on POSIX sockets: the stand-in. Its
// mechanisms and every place it departs from that interface are listed in
// docs/transport.md; its extensions are in namespace ext below.
//
// Error numbers are the interface's own (10035 would-block, 10061 refused,
// ...), read with WSAGetLastError after a call fails. Notifications arrive as
// window messages (messages.h): wParam is the socket, lParam the event in its
// low 16 bits and the error in its high 16 bits.
//
// The calls go through a replaceable TWinsockApi so that tests can inject
// faults (a short send, a failing closesocket or start-up, a chosen error).
// Include this header before any POSIX socket header: those define macros
// with the same names as the constants below.
#pragma once

#include <ferrolink/messages.h>
#include <ferrolink/winsock_records.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ferro {
struct TTlsSettings;
namespace tls {
class TContext;
}
} // namespace ferro

namespace ferro::winsock {

constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

constexpr int AF_UNSPEC = 0;
constexpr int AF_INET = 2;
// IPv6 is 23 in the interface, 10 in the system's headers, which take the
// name AF_INET6 for a macro: code that sees both uses kFamilyInet6.
constexpr int kFamilyInet6 = 23;
#ifndef AF_INET6
constexpr int AF_INET6 = kFamilyInet6;
#endif
constexpr int SOCK_STREAM = 1;
constexpr int IPPROTO_TCP = 6;
constexpr int MSG_PEEK = 2;
constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_LINGER = 0x0080;
constexpr std::uint32_t INADDR_ANY = 0;
constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFF;

constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;
constexpr long FD_ALL_EVENTS = 63;

constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

struct sockaddr {
    std::uint16_t sa_family;
    char sa_data[14];
};

// SO_LINGER's value: on with 0 seconds makes closesocket reset the
// connection instead of ending it.
struct linger {
    std::uint16_t l_onoff;
    std::uint16_t l_linger;
};

struct hostent {
    char* h_name;
    char** h_aliases;
    std::int16_t h_addrtype;
    std::int16_t h_length;
    char** h_addr_list; // null-terminated; each entry 4 bytes, network order
};

constexpr int MAXGETHOSTSTRUCT = 1024;

inline std::uint16_t WSAGETSELECTEVENT(std::intptr_t lParam) { return static_cast<std::uint16_t>(lParam & 0xFFFF); }
inline std::uint16_t WSAGETSELECTERROR(std::intptr_t lParam) { return static_cast<std::uint16_t>((lParam >> 16) & 0xFFFF); }
inline std::intptr_t WSAMAKESELECTREPLY(int event, int error) { return static_cast<std::intptr_t>((event & 0xFFFF) | ((error & 0xFFFF) << 16)); }

// The calls that can fail or notify. The default implementation works on
// POSIX sockets; a test derives from TPosixWinsock, overrides a call to
// inject a fault, and installs its object with TWinsockOverride.
class TWinsockApi {
public:
    virtual ~TWinsockApi() = default;
    virtual int WSAStartup(std::uint16_t versionRequested, WSADATA* data) = 0;
    virtual int WSACleanup() = 0;
    virtual int WSAGetLastError() = 0;
    virtual void WSASetLastError(int error) = 0;
    virtual SOCKET socket(int af, int type, int protocol) = 0;
    virtual int closesocket(SOCKET s) = 0;
    virtual int connect(SOCKET s, const sockaddr* name, int nameLen) = 0;
    virtual int bind(SOCKET s, const sockaddr* name, int nameLen) = 0;
    virtual int listen(SOCKET s, int backlog) = 0;
    virtual SOCKET accept(SOCKET s, sockaddr* addr, int* addrLen) = 0;
    virtual int send(SOCKET s, const char* buf, int len, int flags) = 0;
    virtual int recv(SOCKET s, char* buf, int len, int flags) = 0;
    virtual int setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen) = 0;
    virtual int WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events) = 0;
    virtual HANDLE WSAAsyncGetHostByName(HWND window, unsigned msg, const char* name, char* buf, int bufLen) = 0;
    // The later interface's address-family-neutral lookup, asynchronous as
    // the one above: the addresses of `name` of `family` (AF_UNSPEC for
    // both, AF_INET, AF_INET6) go into `list`, and the reply's event code is
    // their count. Cancelled with WSACancelAsyncRequest.
    virtual HANDLE WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char* name, int family, ADDRESSLIST* list) = 0;
    virtual int WSACancelAsyncRequest(HANDLE task) = 0;
};

class TPosixWinsock : public TWinsockApi {
public:
    int WSAStartup(std::uint16_t versionRequested, WSADATA* data) override;
    int WSACleanup() override;
    int WSAGetLastError() override;
    void WSASetLastError(int error) override;
    SOCKET socket(int af, int type, int protocol) override;
    int closesocket(SOCKET s) override;
    int connect(SOCKET s, const sockaddr* name, int nameLen) override;
    int bind(SOCKET s, const sockaddr* name, int nameLen) override;
    int listen(SOCKET s, int backlog) override;
    SOCKET accept(SOCKET s, sockaddr* addr, int* addrLen) override;
    int send(SOCKET s, const char* buf, int len, int flags) override;
    int recv(SOCKET s, char* buf, int len, int flags) override;
    int setsockopt(SOCKET s, int level, int optName, const char* optVal, int optLen) override;
    int WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events) override;
    HANDLE WSAAsyncGetHostByName(HWND window, unsigned msg, const char* name, char* buf, int bufLen) override;
    HANDLE WSAAsyncGetAddrInfo(HWND window, unsigned msg, const char* name, int family, ADDRESSLIST* list) override;
    int WSACancelAsyncRequest(HANDLE task) override;
};

// Installs `api` for the lifetime of this object, then puts back the previous.
class TWinsockOverride {
public:
    explicit TWinsockOverride(TWinsockApi& api);
    ~TWinsockOverride();
    TWinsockOverride(const TWinsockOverride&) = delete;
    TWinsockOverride& operator=(const TWinsockOverride&) = delete;

private:
    TWinsockApi* FPrevious;
};

TWinsockApi& Api();

// The interface's calls, as the components call them.
inline int WSAStartup(std::uint16_t v, WSADATA* d) { return Api().WSAStartup(v, d); }
inline int WSACleanup() { return Api().WSACleanup(); }
inline int WSAGetLastError() { return Api().WSAGetLastError(); }
inline void WSASetLastError(int e) { Api().WSASetLastError(e); }
inline SOCKET socket(int af, int type, int protocol) { return Api().socket(af, type, protocol); }
inline int closesocket(SOCKET s) { return Api().closesocket(s); }
inline int connect(SOCKET s, const sockaddr* n, int l) { return Api().connect(s, n, l); }
inline int bind(SOCKET s, const sockaddr* n, int l) { return Api().bind(s, n, l); }
inline int listen(SOCKET s, int backlog) { return Api().listen(s, backlog); }
inline SOCKET accept(SOCKET s, sockaddr* a, int* l) { return Api().accept(s, a, l); }
inline int send(SOCKET s, const char* b, int l, int f) { return Api().send(s, b, l, f); }
inline int recv(SOCKET s, char* b, int l, int f) { return Api().recv(s, b, l, f); }
inline int setsockopt(SOCKET s, int level, int name, const char* v, int l) { return Api().setsockopt(s, level, name, v, l); }
inline int WSAAsyncSelect(SOCKET s, HWND w, unsigned m, long e) { return Api().WSAAsyncSelect(s, w, m, e); }
inline HANDLE WSAAsyncGetHostByName(HWND w, unsigned m, const char* n, char* b, int l)
{
    return Api().WSAAsyncGetHostByName(w, m, n, b, l);
}
inline HANDLE WSAAsyncGetAddrInfo(HWND w, unsigned m, const char* n, int f, ADDRESSLIST* l)
{
    return Api().WSAAsyncGetAddrInfo(w, m, n, f, l);
}
inline int WSACancelAsyncRequest(HANDLE task) { return Api().WSACancelAsyncRequest(task); }

// Pure conversions, never faulty.
std::uint32_t inet_addr(const char* text); // INADDR_NONE when not a dotted address
std::uint16_t htons(std::uint16_t value);
// An address written as text, either family ("127.0.0.1", "::1"; no brackets,
// no name) into `into` with port 0; false when `text` is no such address.
bool InetPton(const char* text, sockaddr_storage& into);
// An address record as text: "127.0.0.1:41234", "[::1]:41234".
std::string AddressText(const sockaddr_storage& address);
// The size of the record its family needs (16 or 28).
int AddressLength(const sockaddr_storage& address);
// Sets the port of a record of either family.
void SetPort(sockaddr_storage& address, std::uint16_t port);
// Whether it is the "any" address of its family (0.0.0.0, ::).
bool IsAnyAddress(const sockaddr_storage& address);

// The interface's error number for a POSIX errno value.
int ErrorFromErrno(int error);
// How many start-ups are not yet matched by a clean-up.
int StartupCount();
// Beyond the interface: the stand-in's extensions, named apart so that a
// caller shows at a glance where it goes beyond the old socket interface.
// docs/transport.md lists them with every other departure.
namespace ext {

// More data follows at once, so the system may join this send with the next
// into fewer packets (send batching). The bytes do not change. Bytes of such
// a send may be kept by the stand-in, but only as many as the system is
// sure to take; the next plain send, PushHeld, a receive or the close hands
// them over.
constexpr int MSG_MORE = 0x8000;
// For a receive on a socket that is not in blocking mode: when nothing has
// arrived yet, the receive itself waits a moment (a bounded wait of one tick
// of the system's clock, 1 to 10 ms) before it reports would-block. A caller
// about to wait for data saves the readiness check it would make; nothing
// else is handled meanwhile.
constexpr int MSG_WAITMOMENT = 0x4000;

// Hands the bytes kept by MSG_MORE sends to the system now. 0, or
// SOCKET_ERROR with the send's error (would-block: the rest stays kept).
int PushHeld(SOCKET s);
// The early accept: waits a moment for a connection on the listening socket
// `s` and tells whether one is pending. The socket's next selection takes
// this answer (FD_ACCEPT at once, or the readiness watch) instead of asking
// the system again, and the next accept takes a connection it took.
bool AcceptEarly(SOCKET s);
// Gives up a connection attempt of `s` whose outcome is not wanted any more
// (its wait timed out or was canceled). The system's attempt ends at once,
// so a late answer can neither complete it nor reach the next connect; the
// socket keeps its number and is as before connect (renewal). False when
// `s` is not a socket or no fresh system socket can be had.
bool AbandonConnect(SOCKET s);
// Sleeps in the thread's event loop until at least one event has arrived
// (a message, a timer's tick, any socket's notification) or `s` turns
// readable, then handles what is waiting: the wait of a receive that found
// nothing, costing no processor time. Returns at once for an unknown socket.
void AwaitReadableOrMessages(SOCKET s);

// TLS on a connection (tls_session.h). Once started, send and recv carry
// data inside TLS; the records go by the calls above. A failure of TLS
// itself is this error number, which the interface does not have; the
// session's failure text tells it (TlsFailure).
constexpr int WSAETLSFAILED = 10200;
// What a component's settings make for one side of its connections, shared
// by them; null, with the reason in `failure`, when they cannot be used.
std::shared_ptr<tls::TContext> MakeTlsContext(const TTlsSettings& settings, bool server, std::string& failure);
// Starts TLS on the connected socket `s`, as the side `context` is for; a
// client verifies that the server's certificate names `peerName` (a host
// name or an IP address) unless the context pins it. 0, or SOCKET_ERROR.
int StartTls(SOCKET s, const std::shared_ptr<tls::TContext>& context, const std::string& peerName);
// A step of the handshake: 0 when done; SOCKET_ERROR with would-block when
// it waits for the socket to turn readable (or writable: TlsWantsWrite), or
// with the failure (WSAETLSFAILED, or the plain error of a broken
// connection). A failed session reports its failure to every later call.
int TlsHandshake(SOCKET s);
bool TlsWantsWrite(SOCKET s);
// Why the session failed, in OpenSSL's words and ours ("certificate verify
// failed (self-signed certificate)"); empty when it has not.
std::string TlsFailure(SOCKET s);
// The version and cipher of an established session ("TLSv1.3 TLS_AES_256_GCM_SHA384").
std::string TlsDescription(SOCKET s);
// Of an established session with a pinned peer whose certificate is outside
// its dates: "the pinned certificate expired on 2001-01-01"; else empty.
std::string TlsPinnedDatesNote(SOCKET s);

} // namespace ext

} // namespace ferro::winsock
