// Holds a message-only window in GetMessage until it is ended: while it
// runs, wine keeps its desktop process between the test programs instead of
// starting it again for each (some 1.5 s a program).
#include <windows.h>

int main()
{
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&msg);
    ::DestroyWindow(window);
    return 0;
}
