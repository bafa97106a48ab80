// Where qbmsg receive keeps the bodies: each in a new file message-N.bin of
// its folder, on the disk before it is answered.
#pragma once

#include <ferrolink/streams.h>

#include <stdexcept>
#include <string>

namespace qbmsgcli {

// A body that could not be stored; the text says which file and why.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raises StoreError unless `folder` is a folder this process can write in.
void CheckWritableFolder(const std::string& folder);

// Writes the body (from its position) to a temporary file inside `folder`,
// flushes it and the folder to the disk, and gives it the name
// message-N.bin, N the first number after `counter` with no such file
// (`counter` is left at N). Never replaces a file. On failure nothing is
// left behind and StoreError tells the cause. Returns the file's path.
std::string StoreDurably(const std::string& folder, int& counter, ferro::TStream& body);

} // namespace qbmsgcli
