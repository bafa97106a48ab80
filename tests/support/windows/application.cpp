// The application's loop where the program's loop is the thread's Win32
// message loop: WM_QUIT ends it, as PostQuitMessage asks.
#include "loop.h"

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
