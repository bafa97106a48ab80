// A component made before any application object: it must raise a clear
// error, not crash. Prints the error and exits 0 when it does.
#include <ferrolink/qbmsg.h>

#include <cstdio>

int main()
{
    try {
        ferro::TQBStrm sender(nullptr);
    } catch (const ferro::EThreadError& e) {
        std::printf("%s\n", e.what());
        return 0;
    }
    std::printf("made without an application\n");
    return 1;
}
