// TLS settings and fingerprints as people write them: every platform's,
// whatever stands behind TLS there.
#include <ferrolink/tls.h>

#include <cctype>
#include <string>

namespace ferro {

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

} // namespace

bool ParseFingerprint(const std::string& text, TFingerprint& into)
{
    std::string digits = Trimmed(text);
    for (const char* prefix : {"SHA256 Fingerprint=", "sha256:"})
        if (StartsWithNoCase(digits, prefix))
            digits = Trimmed(digits.substr(std::string(prefix).size()));
    // 64 digits, or 32 pairs with a colon between each two.
    const bool colons = digits.size() == 32 * 3 - 1;
    if (!colons && digits.size() != 64)
        return false;
    TFingerprint parsed {};
    const std::size_t step = colons ? 3 : 2;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const std::size_t at = i * step;
        const int high = HexDigit(digits[at]);
        const int low = HexDigit(digits[at + 1]);
        if (high < 0 || low < 0 || (colons && i + 1 < parsed.size() && digits[at + 2] != ':'))
            return false;
        parsed[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    into = parsed;
    return true;
}

std::string FingerprintText(const TFingerprint& fingerprint)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(fingerprint.size() * 3);
    for (const std::uint8_t byte : fingerprint) {
        if (!text.empty())
            text += ':';
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

bool operator==(const TTlsSettings& a, const TTlsSettings& b)
{
    return a.Enabled == b.Enabled && a.CertificateFile == b.CertificateFile && a.KeyFile == b.KeyFile &&
           a.CAFile == b.CAFile && a.Pins == b.Pins && a.HandshakeTimeOut == b.HandshakeTimeOut;
}

} // namespace ferro
