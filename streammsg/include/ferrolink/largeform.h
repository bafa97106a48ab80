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
///
/// Version 2 is version 1 with the file's path after the body-length, so
/// that the receiver can store a file under its own name, and with one more
/// answer to the header: "RESUME", 2 blanks and the length of a part of that
/// file the receiver kept from a send that was cut off (8 octets), then the
/// check of that part (16 octets). The sender answers with the offset it
/// sends from (8 octets): that length when its file begins with that part,
/// else 0 for the whole body. The final check covers the whole body either way.
///
///     path-length = 2OCTET         ; big-endian, at most 4095
///     path        = *4095OCTET     ; relative, "/" between folders, no NUL
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
/// The version without a file's path: what every large-form receiver takes.
constexpr std::uint8_t kLargeVersion = 1;
/// The version that carries the file's path and may resume a cut-off body.
constexpr std::uint8_t kNamedVersion = 2;
/// The longest path version 2 carries, in bytes.
constexpr std::size_t kMaxPathLength = 4095;
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

/// The first 8 bytes of the offer to resume; the length kept follows (8
/// octets), then its check (16 octets).
inline const std::string kResumeTag = "RESUME  ";
/// The size of the offer to resume.
constexpr std::size_t kResumeOfferSize = 32;

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
/// The header of version 2: as EncodeLargeHeader's, then the file's
/// `path` (at most kMaxPathLength bytes, see PathProblem).
std::string EncodeNamedHeader(const std::string& name, std::uint64_t bodySize, const std::string& path);
/// Why `path` cannot travel in a header of version 2 (too long, a NUL);
/// empty when it can.
std::string PathProblem(const std::string& path);
/// The offer to resume a body of which the receiver kept `kept` bytes
/// whose check is `check`.
std::string EncodeResumeOffer(std::uint64_t kept, const std::array<char, kCheckSize>& check);
/// The length kept, from the first 16 bytes of an offer to resume; empty
/// when `reply` is no such offer.
std::optional<std::uint64_t> ParseResumeOffer(const std::string& reply);
/// The sender's answer to an offer: the offset it sends from.
std::string EncodeOffset(std::uint64_t from);
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

    /// Starts again, as if nothing had been added.
    void Reset();
    /// Adds the next `count` bytes of the body.
    void Add(const void* bytes, std::size_t count);
    /// The check of everything added so far, in the wire's byte order; more
    /// may be added after.
    std::array<char, kCheckSize> Value() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

} // namespace ferro::qbmsg
