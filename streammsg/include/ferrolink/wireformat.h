/// @file
/// The stream message wire format: one message and its reply per TCP connection.
///
///     message     = name-length name body-length body      (sender to receiver)
///     name-length = 4DIGIT            ; "%.4d": zero-padded, "0010"
///     name        = N OCTET           ; N = name-length, at most 251, no NUL
///     body-length = 4(SP / DIGIT)     ; "%4d": blank-padded, "   5"
///     body        = L OCTET           ; L = body-length, at most 9999
///     reply       = "OK" 14SP         ; receiver to sender, 16 bytes
///
/// A receiver parses both length fields as integers after skipping leading
/// blanks. The sender writes name-length and name in one write, body-length
/// in a second and the body in chunks of at most 255 bytes; the split carries
/// no meaning. Both sides close the connection after the reply.
#pragma once

#include <cstdint>
#include <string>

namespace ferro::qbmsg {

/// The port both ends use by default.
constexpr std::uint16_t kPort = 6711;
/// The size of either length field.
constexpr int kLengthFieldSize = 4;
/// The longest name a sender sends: name-length and name leave as one 255-byte text.
constexpr int kMaxNameLength = 251;
/// The longest name a receiver takes.
constexpr int kMaxNameField = 255;
/// The largest body: its length must fit four characters.
constexpr std::int64_t kMaxBodySize = 9999;
/// The size of the reply.
constexpr int kReplySize = 16;
/// The reply: "OK" and 14 blanks.
inline const std::string kReply = "OK" + std::string(14, ' ');

/// What keeps a name or a body from having a valid encoding, naming the
/// limit ("Message body too large (12000 bytes, at most 9999)"); empty when
/// both can be encoded.
std::string EncodingProblem(const std::string& name, std::int64_t bodySize);
/// Raises ESockError with EncodingProblem's text when it is not empty.
void CheckEncodable(const std::string& name, std::int64_t bodySize);

/// "%.4d" of the name's length, then the name.
std::string EncodeHeader(const std::string& name);
/// "%4d" of the body's size.
std::string EncodeBodyLength(std::int64_t bodySize);

/// A received length field as an integer; raises EConvertError
/// "'<field>' is not a valid integer value" for anything else.
std::int32_t ParseLength(const std::string& field);
/// Whether a first field is the start of a TLS handshake (a record of type
/// 22, version 3.x): a TLS sender at a receiver without TLS.
bool StartsTlsHandshake(const std::string& field);

} // namespace ferro::qbmsg
