// The windowing layer's BMP check and decoding on arbitrary bytes.
#include <ferrolink/forms.h>

#include <QGuiApplication>

#include <cstdint>
#include <string>

using namespace ferro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
    try {
        const QImage image = DecodeBitmap(std::string(reinterpret_cast<const char*>(data), size));
        if (image.isNull())
            __builtin_trap(); // a picture that passes is a picture
    } catch (const Exception&) {
        // "Bitmap image is not valid" or "Stream read error".
    }
    return 0;
}
