// The names a sender gives its files, made safe to use inside the
// receiver's folder.
#pragma once

#include <string>
#include <vector>

namespace qbmsgcli {

// The hidden folder, in the receiver's folder, where parts of cut-off
// bodies wait for their senders to send again.
inline const std::string kKeptPartsFolder = ".qbmsg-partial";

// The folders and the file name of `path` as a sender sent it, safe to make
// inside the receiver's folder: empty parts, "." and ".." are left out (so
// "/etc/passwd" is etc/passwd there and "../x" is x), control characters
// and backslashes become "_", a part is cut to 255 bytes, and a first
// part that is the hidden folder of kept parts gets a "_" in front. Empty
// when nothing usable is left, or the path is more than 64 folders deep.
// On Windows, too, the characters its names cannot hold (<>:"|?*) become
// "_", so do trailing dots and spaces (which it would drop), and a device's
// name ("CON", "nul.txt", "COM1") gets a "_" in front.
std::vector<std::string> SafeParts(const std::string& path);
// A part as the system's own rules for names let it be (see SafeParts);
// each platform's.
std::string SystemSafePart(std::string part);
// What separates a path's folders as the system writes them ("/", or "\\"
// on Windows), in the paths qbmsg prints; each platform's.
extern const std::string kFolderSeparator;

// `name` with the number `n` added before its extension ("report-2.bin"),
// or `name` itself for 0.
std::string Numbered(const std::string& name, int n);

} // namespace qbmsgcli
