// Fingerprints as people paste them (qbmsg's --pin and --allow) on
// arbitrary text.
#include <ferrolink/tls.h>

#include <cctype>
#include <cstdint>
#include <string>

using namespace ferro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TFingerprint parsed {};
    parsed.fill(0xA5);
    const TFingerprint untouched = parsed;
    if (!ParseFingerprint(text, parsed)) {
        // A refused text leaves the result as it was.
        if (parsed != untouched)
            __builtin_trap();
        return 0;
    }
    // What was read reads back the same from its own text, in both forms.
    const std::string canonical = FingerprintText(parsed);
    std::string bare;
    for (const char c : canonical)
        if (c != ':')
            bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    TFingerprint again {}, fromBare {};
    if (canonical.size() != 95 || !ParseFingerprint(canonical, again) || again != parsed || !ParseFingerprint(bare, fromBare) ||
        fromBare != parsed)
        __builtin_trap();
    return 0;
}
