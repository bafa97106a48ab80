// What qbmsg prints: bytes from the network made safe for a terminal, and
// the causes of failures in words.
#pragma once

#include <string>

namespace qbmsgcli {

// A sender's name made safe to print on one line: quoted, with quotes,
// backslashes and bytes outside printable ASCII as escapes.
std::string Printable(const std::string& text);
// The same escapes without the quotes: for any line that quotes bytes that
// came from the network (a failed length field, a reply).
std::string Escaped(const std::string& text);

// The cause a socket error number stands for, in words ("connection
// refused"); empty for 0.
std::string SocketCause(int error);
// A component's failure that is only a number ("Unknown Error No. 10054")
// said in words, the number after them: "the receiver reset the connection
// (Unknown Error No. 10054)", `peer` naming the other end. Any other text
// comes back as it is.
std::string InWords(const std::string& text, const std::string& peer);
// The operating system's words for an errno value.
std::string SystemCause(int error);

} // namespace qbmsgcli
