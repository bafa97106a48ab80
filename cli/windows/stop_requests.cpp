// Stop requests on Windows: the console's control handler runs on a thread
// of its own, and posts to a window of the command's thread, whose message
// the event loop delivers.
#include "stop_requests.h"

#include "text.h"

#include <ferrolink/messages.h>

#include <windows.h>

#include <atomic>

namespace qbmsgcli {

namespace {

constexpr unsigned kStopMessage = WM_USER + 1; // the system's number, and ours

std::atomic<unsigned> gRequests {0};
std::atomic<ferro::HWND> gWindow {0};
std::atomic<bool> gSecondEnds {false};

BOOL WINAPI OnControl(DWORD)
{
    StopHeard().store(true);
    if (gSecondEnds.load() && ++gRequests > 1)
        return FALSE; // the system's own handler ends the process
    ferro::PostWindowMessage(gWindow.load(), kStopMessage, 0, 0);
    return TRUE;
}

} // namespace

struct TStopRequests::TListener {
    ferro::HWND Window = 0;
};

TStopRequests::TStopRequests(std::function<void()> onStop, bool secondEnds) : FOnStop(std::move(onStop))
{
    FListener = std::make_unique<TListener>();
    FListener->Window = ferro::AllocateHWnd([this](ferro::TMessage& message) {
        if (message.Msg == kStopMessage && !FStopped)
            Stop();
    });
    gWindow.store(FListener->Window);
    gSecondEnds.store(secondEnds);
    gRequests.store(0);
    if (!::SetConsoleCtrlHandler(&OnControl, TRUE))
        FFailure = "Cannot hear the console's stop requests: " + SystemCause(EINVAL);
}

TStopRequests::~TStopRequests()
{
    ::SetConsoleCtrlHandler(&OnControl, FALSE);
    gWindow.store(0);
    ferro::DeallocateHWnd(FListener->Window);
}

} // namespace qbmsgcli
