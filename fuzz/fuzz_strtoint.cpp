// The class library's integer conversion on arbitrary text.
#include <ferrolink/classes.h>

#include <cstdint>
#include <string>

using namespace ferro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const std::int32_t value = StrToInt(text);
        // A decimal value reads back the same from its own text.
        if (StrToInt(std::to_string(value)) != value)
            __builtin_trap();
    } catch (const EConvertError& e) {
        // The message quotes the text; read as C text it ends at a NUL.
        const std::string expected = "'" + text + "' is not a valid integer value";
        if (std::string(e.what()) != expected.c_str())
            __builtin_trap();
    }
    return 0;
}
