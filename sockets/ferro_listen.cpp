// The server side of TFerrolink: listening and taking a connection.
#include <ferrolink/ferro.h>

#include "winsock.h"

#include <cstring>

namespace ferro {

using namespace winsock;

void TFerrolink::Listen(bool synchronous)
{
    CheckThread();
    StatusMessage(kLevelOperation, "Listening");
    const std::uint16_t port = RangeCheckedWord(Port);
    // Binding again, as every renewed listen does, fails harmlessly; only a
    // listen that fails tells that the port could not be had.
    const int bindError = BindForListening(port);
    FAsyncDone = false;
    WSAAsyncSelect(FHandle, FNotifyWindow, synchronous ? WM_SOCKETDONE : WM_SOCKETNOTIFY, FD_ALL_EVENTS);
    if (listen(FHandle, Backlog) != 0) {
        const int error = bindError ? bindError : WSAGetLastError();
        const std::string text = "Cannot Listen On Port " + std::to_string(Port) + " (Unknown Error No. " + std::to_string(error) + ")";
        StatusMessage(kLevelOperation, text);
        // An application sees it without subclassing or raising ReportLevel.
        if (OnError)
            OnError(this, static_cast<std::uint16_t>(error), text);
    }
}

int TFerrolink::BindForListening(std::uint16_t port)
{
    sockaddr_storage at {};
    if (BindAddress.empty()) {
        // Every address of both families: IPv6's any address on a dual-stack
        // socket; IPv4's where the system has no IPv6.
        sockaddr_in6 any6 {};
        any6.sin6_family = kFamilyInet6;
        std::memcpy(&at, &any6, sizeof any6);
        SetPort(at, port);
        if (bind(FHandle, reinterpret_cast<const sockaddr*>(&at), AddressLength(at)) == 0)
            return 0;
        const int error = WSAGetLastError();
        if (error != WSAEAFNOSUPPORT && error != WSAEADDRNOTAVAIL && error != WSAEPROTONOSUPPORT)
            return error;
        sockaddr_in any4 {};
        any4.sin_family = AF_INET;
        at = {};
        std::memcpy(&at, &any4, sizeof any4);
    } else if (!FBindResolved) {
        std::string failure;
        const int cause = LookUpAddresses(BindAddress, failure);
        if (!failure.empty())
            return cause > 0 ? cause : WSAHOST_NOT_FOUND;
        FBindTo = FAddresses->Address[0];
        FBindResolved = true;
        at = FBindTo;
    } else {
        at = FBindTo;
    }
    SetPort(at, port);
    return bind(FHandle, reinterpret_cast<const sockaddr*>(&at), AddressLength(at)) == 0 ? 0 : WSAGetLastError();
}

void TFerrolink::Accept()
{
    CheckThread();
    TWait wait(*this);
    while (!FAsyncDone)
        wait.Sleep();
    TakePendingConnection();
    if (Tls.Enabled)
        SecureOrClose(true, {});
}

void TFerrolink::TakePendingConnection()
{
    CheckThread();
    Deselect();
    if (!FLastEventOk)
        Raise("Error creating Data Connection", FLastEventError);
    StatusMessage(kLevelSocketStep, "Accepting");
    FSockAddr = {}; // no client's address until one is taken
    sockaddr_storage peer {};
    int length = sizeof peer;
    const SOCKET accepted = accept(FHandle, reinterpret_cast<sockaddr*>(&peer), &length);
    FAcceptFailure = accepted == INVALID_SOCKET ? WSAGetLastError() : 0;
    if (accepted == INVALID_SOCKET) {
        // The cause (no descriptor left, the client gone) is worth more than
        // the range error a failed handle would make.
        ErrorManager(kToleratedError);
        throw ERangeError(); // would-block: the connection went before it was taken
    }
    if (accepted >= kNoSocket) {
        closesocket(accepted);
        throw ERangeError();
    }
    FListenHandle = FHandle;
    FHandle = static_cast<TSocketHandle>(accepted);
    FSockAddr = peer;
}

void TFerrolink::RestoreListeningSocket()
{
    if (FHandle != kNoSocket && FHandle != FListenHandle)
        closesocket(FHandle);
    FHandle = FListenHandle;
}

void TFerrolink::CloseListeningSocket()
{
    closesocket(FListenHandle);
}

void TFerrolink::CloseSocketForGood()
{
    RequestCloseSocket(false);
}

void TFerrolink::LookForNextConnection()
{
    ext::AcceptEarly(FHandle);
}

void TFerrolink::ResumeListening()
{
    WSAAsyncSelect(FHandle, FNotifyWindow, WM_SOCKETNOTIFY, FD_ALL_EVENTS);
}

bool TFerrolink::AcceptShortOfResources() const
{
    return FAcceptFailure == WSAEMFILE || FAcceptFailure == WSAENOBUFS;
}

} // namespace ferro
