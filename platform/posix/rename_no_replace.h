// Giving a file a name that no file has: the durable file's commit and the
// temporary body file's keep.
#pragma once

#include <string>

namespace ferro::detail {

/// Gives `from` of the folder open as `fromFolder` the name `to` in
/// `toFolder` unless a file of that name exists. False with errno set
/// (EEXIST: the name is taken) when it did not.
bool RenameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to);

} // namespace ferro::detail
