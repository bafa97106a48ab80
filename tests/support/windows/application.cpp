// The application's loop where the program's loop is the thread's Win32
// message loop: WM_QUIT ends it, as PostQuitMessage asks.
#include "loop.h"
#include "wine.h"

#include <ferrolink/messages.h>

#include <windows.h>

void RunApplication()
{
    const unsigned asked = ferro::QuitRequests();
    while (ferro::QuitRequests() == asked)
        ferro::WaitAndProcessMessages();
}

void QuitApplication()
{
    ::PostQuitMessage(0);
}

bool RunsUnderWine()
{
    // wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool OnWindows()
{
    return true;
}
