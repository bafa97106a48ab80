// A TFerrolink whose machinery is open to the tests, recording every status
// text it reports.
#pragma once

#include "winsock.h"
#include <ferrolink/ferro.h>

#include <string>
#include <vector>

using namespace ferro;

class TProbe : public TFerrolink {
public:
    explicit TProbe(TComponent* owner = nullptr) : TFerrolink(owner)
    {
        FStatusHook = [this](TComponent*, const std::string& text) { Statuses.push_back(text); };
    }
    // The base's destructor still reports; Statuses is gone by then.
    ~TProbe() override { FStatusHook = nullptr; }

    using TFerrolink::AwaitCompletion;
    using TFerrolink::DispatchSocketEvent;
    using TFerrolink::ErrorManager;
    using TFerrolink::PeerHasSpoken;
    using TFerrolink::PumpUntilDone;
    using TFerrolink::RequestCloseSocket;
    using TFerrolink::StatusMessage;
    using TFerrolink::TimerOff;
    using TFerrolink::TimerOn;
    using TFerrolink::TWaitEnd;
    using TFerrolink::WndProc;

    using TFerrolink::FAcceptHook;
    using TFerrolink::FAsyncDone;
    using TFerrolink::FCloseHook;
    using TFerrolink::FConnectHook;
    using TFerrolink::FErrorHook;
    using TFerrolink::FHostResolvedHook;
    using TFerrolink::FLastEventOk;
    using TFerrolink::FListenHandle;
    using TFerrolink::FNotifyWindow;
    using TFerrolink::FOOBHook;
    using TFerrolink::FReadHook;
    using TFerrolink::FReplyCode;
    using TFerrolink::FSockAddr;
    using TFerrolink::FStatusHook;
    using TFerrolink::FWriteHook;

    // Posts a notification to the component's own window, as the socket
    // library would.
    void Post(unsigned msg, int event, int error = 0, std::uintptr_t wParam = 0)
    {
        PostMessage(FNotifyWindow, msg, wParam, winsock::WSAMAKESELECTREPLY(event, error));
    }

    std::vector<std::string> Statuses;
};
