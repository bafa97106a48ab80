// What qbmsg send sends: each FILE argument, and every file under each
// folder argument with its path inside that folder kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qbmsgcli {

struct TSendItem {
    std::string Source; // where it is read: a path, or "-" for standard input
    std::string Name;   // the path the receiver stores it under; empty for standard input
    std::int64_t Size = 0; // as it was when listed (standard input: 0)
};

struct TSendList {
    std::vector<TSendItem> Items;
    // What could not be listed: "<path>: <cause>", in the order met.
    std::vector<std::string> Failures;
    // Whether more than one file may go (a folder, or several arguments).
    bool Several = false;
};

// The files of `args`, in order; a folder's files sorted by path. A folder's
// name is its last part ("photos/" and "/home/me/photos" are both photos),
// links to files are sent as the files, links to folders and files that are
// neither are listed as failures, and an empty folder sends nothing.
TSendList ListFiles(const std::vector<std::string>& args);

} // namespace qbmsgcli
