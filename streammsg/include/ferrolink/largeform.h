/// @file
/// The large form of a stream message: what carries a body the fixed form
/// cannot (more than 9 999 bytes). docs/protocol.md has both forms in ABNF,
/// with examples and test vectors.
///
///     large-message = magic version name-length name body-length     ; then the receiver's go-ahead
///                     body check                                     ; then its final reply
///     magic       = "QBIG"          ; no integer conversion reads it: a fixed-form receiver fails at once
///     version     = %x01
///     name-length = OCTET          ; at most 251 from a sender
///     body-length = 8OCTET         ; unsigned, big-endian
///     check       = 16OCTET        ; XXH3-128 of the body, canonical (big-endian)
///
/// Every reply is 16 bytes: "GO", "OK", "BAD CHECK" or "NOT STORED" padded
/// with blanks, "TOOLARGE" and the receiver's limit (8 octets, big-endian),
/// or "VERSION", 8 blanks and the highest version the receiver knows (1
/// octet) for a header of a version it does not know. The go-ahead comes after the header, before any body byte,
/// so that a body over the receiver's limit is refused unread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ferro::qbmsg {

/// The first four bytes of a large message, where the fixed form has its
/// name-length field.
inline const std::string kLargeMagic = "QBIG";
/// The only version there is.
constexpr std::uint8_t kLargeVersion = 1;
/// The size of the header's fixed part: magic, version, name-length.
constexpr std::size_t kLargeLead = 6;
/// The size of the body-length field.
constexpr std::size_t kLargeLengthSize = 8;
/// The size of the check.
constexpr std::size_t kCheckSize = 16;

/// The go-ahead after a header: the receiver takes a body of that size.
inline const std::string kGoAhead = "GO" + std::string(14, ' ');
/// The final reply when the body's check did not match: nothing was stored.
inline const std::string kBadCheck = "BAD CHECK" + std::string(7, ' ');
/// The reply when the receiver could not hold or store the body.
inline const std::string kNotStored = "NOT STORED" + std::string(6, ' ');
/// The first 8 bytes of the refusal of a body over the receiver's limit.
inline const std::string kTooLargeTag = "TOOLARGE";
/// The first 15 bytes of the answer to a header of a version the receiver
/// does not know; the 16th is the highest version it knows.
inline const std::string kVersionTag = "VERSION" + std::string(8, ' ');

/// The sender's failure when the receiver closes on a large header (it
/// knows only the fixed form).
inline const std::string kNoLargeForm = "The receiver does not take messages over 9999 bytes";
/// The sender's failure on kBadCheck.
inline const std::string kCheckFailed = "The message arrived damaged (the receiver's check failed); it was not stored";
/// The sender's failure on kNotStored.
inline const std::string kNotStoredText = "The receiver could not store the message";

/// The header of a large message carrying `name` and a body of `bodySize`
/// bytes. The name must pass EncodingProblem's tests of a name.
std::string EncodeLargeHeader(const std::string& name, std::uint64_t bodySize);
/// The refusal of a body over `limit` bytes.
std::string EncodeTooLarge(std::uint64_t limit);
/// The limit in a refusal; empty when `reply` is no refusal.
std::optional<std::uint64_t> ParseTooLarge(const std::string& reply);
/// The answer to a header of a version this receiver does not know.
std::string EncodeUnknownVersion();
/// The highest version a receiver knows, from its answer; empty when
/// `reply` is no such answer.
std::optional<std::uint8_t> ParseUnknownVersion(const std::string& reply);
/// The sender's failure on a reply it does not know, the reply quoted with
/// bytes outside printable ASCII as a backslash, x and two hex digits.
std::string UnknownReplyText(const std::string& reply);
/// An unsigned big-endian number from `bytes` (at most 8 of them).
std::uint64_t ReadBigEndian(const char* bytes, std::size_t count);
/// "Message body too large (N bytes, at most M)".
std::string TooLargeText(std::uint64_t size, std::uint64_t limit);

/// The end-to-end check of a large body, XXH3-128: fed in pieces, it gives
/// the same value as over the whole body at once.
class TBodyCheck {
public:
    TBodyCheck();
    ~TBodyCheck();
    TBodyCheck(const TBodyCheck&) = delete;
    TBodyCheck& operator=(const TBodyCheck&) = delete;

    /// Adds the next `count` bytes of the body.
    void Add(const void* bytes, std::size_t count);
    /// The check of everything added, in the wire's byte order.
    std::array<char, kCheckSize> Value() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

} // namespace ferro::qbmsg
