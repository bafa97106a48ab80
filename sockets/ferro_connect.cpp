// The client side of TFerrolink: name lookup, connection, disconnection.
#include <ferrolink/ferro.h>

#include "host_names.h"
#include "winsock.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace ferro {

using namespace winsock;

namespace {

constexpr std::int32_t kAttemptMsWithoutTimeOut = 5000; // each address but the last, when TimeOut is 0

// Brackets as URLs write an IPv6 address ("[::1]") are no part of it.
std::string WithoutBrackets(const std::string& host)
{
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

// The address `name` writes out, into `address`: the common dotted form and
// the other forms inet_addr reads, as before, or an IPv6 address. IPv4 text
// inet_addr did not read (255.255.255.255 among it) is looked up like a
// name, as it always was.
bool AddressWrittenOut(const std::string& name, sockaddr_storage& address)
{
    if (const std::uint32_t v4 = inet_addr(name.c_str()); v4 != INADDR_NONE) {
        sockaddr_in in {};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = v4;
        address = {};
        std::memcpy(&address, &in, sizeof in);
        return true;
    }
    return name.find(':') != std::string::npos && InetPton(name.c_str(), address);
}

int LookupFamily(std::int32_t ipVersion)
{
    return ipVersion == 4 ? AF_INET : ipVersion == 6 ? kFamilyInet6 : AF_UNSPEC;
}

} // namespace

void TFerrolink::Connect()
{
    CheckThread();
    BeenCanceled = false;
    if (FConnected)
        Raise("Already connected", 0);
    const std::uint16_t port = RangeCheckedWord(Port);
    ResolveHost();
    if (IsAnyAddress(FAddresses->Address[0]))
        Raise("Null Remote Address", 0);
    StatusMessage(kLevelOperation, "Connecting");
    const auto start = std::chrono::steady_clock::now();
    const int count = FAddresses->Count;
    for (int i = 0;; ++i) {
        const bool last = i + 1 == count;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        const std::int64_t left = TimeOut > 0 ? std::max<std::int64_t>(TimeOut - spent, 1) : 0;
        const std::int64_t limit = TimeOut > 0 ? (last ? left : std::max<std::int64_t>(left / (count - i), 1))
                                               : (last ? 0 : kAttemptMsWithoutTimeOut);
        FSockAddr = FAddresses->Address[i];
        SetPort(FSockAddr, port);
        const TWaitEnd end = AttemptConnection(static_cast<std::int32_t>(limit));
        if (end == TWaitEnd::Done)
            break;
        // Refused, unreachable or out of its own time: the next address, if
        // any and if the whole TimeOut is not spent.
        const bool spentAll = TimeOut > 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(TimeOut);
        if (last || end == TWaitEnd::Canceled || spentAll)
            RaiseUnlessDone(end, {"Connection Timed Out", "Connection Canceled", "Connection Failed"});
    }
    FConnected = true;
    if (Tls.Enabled)
        SecureOrClose(false, WithoutBrackets(CutShort(Host)));
}

void TFerrolink::SecureOrClose(bool server, const std::string& peerName)
{
    try {
        SecureConnection(server, peerName);
    } catch (const EComponentDestroyed&) {
        throw;
    } catch (...) {
        // Nothing may travel in the clear on a connection meant to be secure.
        try {
            if (server)
                RestoreListeningSocket();
            else
                RequestCloseSocket();
        } catch (...) {
            // The handshake's failure is the one to report.
        }
        throw;
    }
}

TFerrolink::TWaitEnd TFerrolink::AttemptConnection(std::int32_t limitMs)
{
    // Which of a name's several addresses is tried (one address is just the
    // connection the other texts tell of).
    if (FAddresses->Count > 1 && Reports(kLevelSocketStep))
        StatusMessage(kLevelSocketStep, "Trying " + AddressText(FSockAddr));
    const TWaitEnd end = AwaitCompletion(FD_CONNECT, [this] {
        // The outcome comes with FD_CONNECT; the immediate result says nothing.
        connect(FHandle, reinterpret_cast<const sockaddr*>(&FSockAddr), AddressLength(FSockAddr));
    }, limitMs);
    // An attempt whose wait ended without its outcome must not complete
    // later, to this destination, in the next attempt's or Connect's place.
    if (end != TWaitEnd::Done)
        ext::AbandonConnect(FHandle);
    return end;
}

void TFerrolink::ResolveHost()
{
    std::string failure;
    const int cause = LookUpAddresses(Host, failure);
    if (!failure.empty())
        Raise(failure, std::max(cause, 0));
}

int TFerrolink::LookUpAddresses(const std::string& host, std::string& failure)
{
    const std::string name = WithoutBrackets(host);
    FAddresses->Count = 0;
    if (const std::string fault = HostNameFault(name); !fault.empty()) {
        failure = "Invalid Host Name (" + fault + ")";
        return -1;
    }
    if (AddressWrittenOut(name, FAddresses->Address[0])) {
        FAddresses->Count = 1;
        return 0;
    }

    TimerOn();
    FAsyncDone = false;
    FLookupFilled = false;
    FLookupError = 0;
    FFailureCause = 0;
    FLookupTask = WSAAsyncGetAddrInfo(FNotifyWindow, WM_SOCKETDONE, name.c_str(), LookupFamily(IPVersion), FAddresses.get());
    if (FLookupTask == 0) {
        // The request could not even start: no reply will ever come.
        TimerOff();
        failure = "Host Lookup Failed";
        return WSAGetLastError();
    }
    PumpUntilDone();
    TimerOff();
    const HANDLE task = std::exchange(FLookupTask, 0);
    if (!FAsyncDone)
        WSACancelAsyncRequest(task); // its late reply must not end a later wait
    if (FBeenTimedOut) {
        failure = "Host Lookup Timed Out";
        return -1;
    }
    if (BeenCanceled) {
        failure = "Host Lookup Canceled";
        return -1;
    }
    // Decided by the lookup's own reply: a later message may have rewritten
    // FLastEventOk meanwhile.
    if (!FLookupFilled || FAddresses->Count == 0) {
        FFailureCause = FLookupFilled ? 0 : FLookupError;
        failure = "Host Lookup Failed";
        return FFailureCause;
    }
    if (FHostResolvedHook)
        FHostResolvedHook(this);
    Deselect();
    return 0;
}

std::string TFerrolink::PeerAddress() const
{
    return FSockAddr.ss_family == 0 ? std::string() : AddressText(FSockAddr);
}

void TFerrolink::Disconnect()
{
    CheckThread();
    StatusMessage(kLevelOperation, "Disconnecting");
    RequestCloseSocket();
}

void TFerrolink::AbortConnection()
{
    ResetOnClose();
    Disconnect();
}

void TFerrolink::ResetOnClose()
{
    // A reset tells the peer that what it has received is not all there was;
    // an orderly end would let it take a cut message as whole.
    const linger now {1, 0};
    setsockopt(FHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
}

} // namespace ferro
