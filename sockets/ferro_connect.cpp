// The client side of TFerrolink: name lookup, connection, disconnection.
#include <ferrolink/ferro.h>

#include "winsock.h"

#include <cstring>

namespace ferro {

using namespace winsock;

void TFerrolink::Connect()
{
    CheckThread();
    BeenCanceled = false;
    if (FConnected)
        Raise("Already connected", 0);
    const std::uint16_t port = RangeCheckedWord(Port);
    ResolveHost();
    if (FSockAddr.sin_addr.s_addr == 0)
        Raise("Null Remote Address", 0);
    StatusMessage(kLevelOperation, "Connecting");
    FSockAddr.sin_family = AF_INET;
    FSockAddr.sin_port = htons(port);
    const TWaitEnd end = AwaitCompletion(FD_CONNECT, [this] {
        // The outcome comes with FD_CONNECT; the immediate result says nothing.
        connect(FHandle, reinterpret_cast<const sockaddr*>(&FSockAddr), sizeof FSockAddr);
    });
    // An attempt whose wait ended without its outcome must not complete
    // later, to this destination, in the next Connect's place.
    if (end != TWaitEnd::Done)
        ext::AbandonConnect(FHandle);
    RaiseUnlessDone(end, {"Connection Timed Out", "Connection Canceled", "Connection Failed"});
    FConnected = true;
}

void TFerrolink::ResolveHost()
{
    // Sized to what Host holds, so a long name is looked up whole.
    const std::string name = CutShort(Host);
    FSockAddr.sin_addr.s_addr = inet_addr(name.c_str());
    if (FSockAddr.sin_addr.s_addr != INADDR_NONE)
        return;

    TimerOn();
    FAsyncDone = false;
    FLookupFilled = false;
    FLookupError = 0;
    FFailureCause = 0;
    FLookupTask = WSAAsyncGetHostByName(FNotifyWindow, WM_SOCKETDONE, name.c_str(), FHostEntBuffer.get(), kHostEntBufferSize);
    if (FLookupTask == 0) {
        // The request could not even start: no reply will ever come.
        TimerOff();
        Raise("Host Lookup Failed", WSAGetLastError());
    }
    PumpUntilDone();
    TimerOff();
    const HANDLE task = std::exchange(FLookupTask, 0);
    if (!FAsyncDone)
        WSACancelAsyncRequest(task); // its late reply must not end a later wait
    if (FBeenTimedOut)
        Raise("Host Lookup Timed Out", 0);
    if (BeenCanceled)
        Raise("Host Lookup Canceled", 0);
    // Decided by the lookup's own reply: a later message may have rewritten
    // FLastEventOk meanwhile.
    if (!FLookupFilled) {
        FFailureCause = FLookupError;
        Raise("Host Lookup Failed", FFailureCause);
    }

    hostent entry;
    std::memcpy(&entry, FHostEntBuffer.get(), sizeof entry);
    if (!entry.h_addr_list || !entry.h_addr_list[0])
        Raise("Host Lookup Failed", 0);
    std::memcpy(&FSockAddr.sin_addr.s_addr, entry.h_addr_list[0], 4);
    if (FHostResolvedHook)
        FHostResolvedHook(this);
    Deselect();
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
