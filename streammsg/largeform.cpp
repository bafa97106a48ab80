#include <ferrolink/largeform.h>

#include <ferrolink/wireformat.h>

// The whole of xxHash is compiled in here: no library to link, for us or for
// the programs built on ours.
#define XXH_INLINE_ALL
#include <xxhash.h>

#include <cstdio>
#include <stdexcept>

namespace ferro::qbmsg {

namespace {

void AppendBigEndian(std::string& to, std::uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8)
        to.push_back(static_cast<char>((value >> shift) & 0xFF));
}

} // namespace

std::string EncodeLargeHeader(const std::string& name, std::uint64_t bodySize)
{
    std::string header = kLargeMagic;
    header.push_back(static_cast<char>(kLargeVersion));
    header.push_back(static_cast<char>(name.size()));
    header += name;
    AppendBigEndian(header, bodySize);
    return header;
}

std::string EncodeNamedHeader(const std::string& name, std::uint64_t bodySize, const std::string& path)
{
    std::string header = EncodeLargeHeader(name, bodySize);
    header[kLargeMagic.size()] = static_cast<char>(kNamedVersion);
    header.push_back(static_cast<char>((path.size() >> 8) & 0xFF));
    header.push_back(static_cast<char>(path.size() & 0xFF));
    return header + path;
}

std::string PathProblem(const std::string& path)
{
    if (path.size() > kMaxPathLength)
        return "File name too long (" + std::to_string(path.size()) + " bytes, at most " + std::to_string(kMaxPathLength) + ")";
    if (path.find('\0') != std::string::npos)
        return "File name holds a NUL character";
    return {};
}

std::string EncodeResumeOffer(std::uint64_t kept, const std::array<char, kCheckSize>& check)
{
    std::string offer = kResumeTag;
    AppendBigEndian(offer, kept);
    return offer + std::string(check.data(), check.size());
}

std::optional<std::uint64_t> ParseResumeOffer(const std::string& reply)
{
    if (reply.size() < kReplySize || reply.compare(0, kResumeTag.size(), kResumeTag) != 0)
        return std::nullopt;
    return ReadBigEndian(reply.data() + kResumeTag.size(), kLargeLengthSize);
}

std::string EncodeOffset(std::uint64_t from)
{
    std::string offset;
    AppendBigEndian(offset, from);
    return offset;
}

std::string EncodeTooLarge(std::uint64_t limit)
{
    std::string reply = kTooLargeTag;
    AppendBigEndian(reply, limit);
    return reply;
}

std::optional<std::uint64_t> ParseTooLarge(const std::string& reply)
{
    if (reply.size() != kReplySize || reply.compare(0, kTooLargeTag.size(), kTooLargeTag) != 0)
        return std::nullopt;
    return ReadBigEndian(reply.data() + kTooLargeTag.size(), kLargeLengthSize);
}

std::string EncodeUnknownVersion()
{
    return kVersionTag + static_cast<char>(kNamedVersion);
}

std::optional<std::uint8_t> ParseUnknownVersion(const std::string& reply)
{
    if (reply.size() != kReplySize || reply.compare(0, kVersionTag.size(), kVersionTag) != 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(reply.back());
}

std::string UnknownReplyText(const std::string& reply)
{
    std::string quoted;
    for (const unsigned char c : reply) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", c);
        quoted += c >= 0x20 && c < 0x7F && c != '\\' && c != '"' ? std::string(1, static_cast<char>(c)) : std::string(escape);
    }
    return "The receiver gave an answer this sender does not know: \"" + quoted + "\"";
}

std::uint64_t ReadBigEndian(const char* bytes, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count && i < 8; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

std::string TooLargeText(std::uint64_t size, std::uint64_t limit)
{
    return "Message body too large (" + std::to_string(size) + " bytes, at most " + std::to_string(limit) + ")";
}

struct TBodyCheck::TState {
    XXH3_state_t* Hash = XXH3_createState();
};

TBodyCheck::TBodyCheck() : FState(std::make_unique<TState>())
{
    if (!FState->Hash || XXH3_128bits_reset(FState->Hash) != XXH_OK)
        throw std::bad_alloc();
}

TBodyCheck::~TBodyCheck()
{
    XXH3_freeState(FState->Hash);
}

void TBodyCheck::Reset()
{
    XXH3_128bits_reset(FState->Hash);
}

void TBodyCheck::Add(const void* bytes, std::size_t count)
{
    XXH3_128bits_update(FState->Hash, bytes, count);
}

std::array<char, kCheckSize> TBodyCheck::Value() const
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(FState->Hash));
    std::array<char, kCheckSize> value {};
    static_assert(sizeof canonical.digest == kCheckSize);
    for (std::size_t i = 0; i < kCheckSize; ++i)
        value[i] = static_cast<char>(canonical.digest[i]);
    return value;
}

} // namespace ferro::qbmsg
