#include "text.h"

#include "file_names.h"

#include <cstdio>
#include <cstring>

namespace qbmsgcli {

namespace {

// Quoted, the text is framed in double quotes; a backslash is escaped
// unless it is the system's folder separator (Windows) in an unquoted text,
// where no name can hold one; the output is built by
// appending alone (a quote put before a temporary made GCC 12 see an
// overlapping copy that cannot happen).
std::string Escape(const std::string& text, bool quoted)
{
    std::string out;
    out.reserve(text.size() + 2);
    if (quoted)
        out += '"';
    for (unsigned char c : text) {
        if ((quoted && c == '"') || (c == '\\' && (quoted || kFolderSeparator != "\\"))) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (quoted)
        out += '"';
    return out;
}

} // namespace

std::string Printable(const std::string& text)
{
    return Escape(text, true);
}

std::string Escaped(const std::string& text)
{
    return Escape(text, false);
}

std::string SocketCause(int error)
{
    switch (error) {
    case 0: return {};
    case 10004: return "interrupted";
    case 10013: return "permission denied";
    case 10022: return "invalid argument";
    case 10024: return "too many open files";
    case 10048: return "address already in use";
    case 10038: return "not a socket";
    case 10040: return "message too long";
    case 10047: return "address family not supported";
    case 10049: return "address not available";
    case 10050: return "network is down";
    case 10051: return "network unreachable";
    case 10053: return "connection aborted";
    case 10054: return "connection reset by peer";
    case 10055: return "no buffer space";
    case 10057: return "not connected";
    case 10058: return "the connection was shut down";
    case 10060: return "timed out";
    case 10061: return "connection refused";
    case 10064: return "host is down";
    case 10065: return "no route to host";
    case 11001: return "host not found";
    case 11002: return "temporary failure in name resolution";
    case 11003: return "name server failure";
    case 11004: return "no address for the name";
    default: return "socket error " + std::to_string(error);
    }
}

std::string InWords(const std::string& text, const std::string& peer)
{
    const std::string prefix = "Unknown Error No. ";
    if (text.rfind(prefix, 0) != 0 || text.size() == prefix.size() ||
        text.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
        return text;
    const int error = std::stoi(text.substr(prefix.size()));
    std::string words;
    switch (error) {
    case 10053: words = "the connection was aborted"; break;
    case 10054: words = "the " + peer + " reset the connection"; break;
    case 10058: words = "the " + peer + " had closed the connection"; break;
    case 10060: words = "the connection timed out"; break;
    default: words = SocketCause(error); break;
    }
    return words + " (" + text + ")";
}

std::string SystemCause(int error)
{
    return std::strerror(error);
}

} // namespace qbmsgcli
