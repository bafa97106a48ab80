/// @file
/// Folders held open by a number, so that the files a program makes in a
/// folder are made where that folder is now, whatever its path names later.
/// The durable files (durablefile.h) and temporary files (tempfilestream.h)
/// take folders this way.
#pragma once

#include <string>

namespace ferro {

/// The current folder, as a folder number: names relative to it.
constexpr int kCurrentFolder = -100;

/// Opens the folder at `path` (a UTF-8 name).
/// @return its number, or -1 with the system's cause in errno (ENOENT, for
///   none there; ENOTDIR, for a file that is not a folder).
int OpenFolder(const std::string& path);
/// Closes a folder opened by OpenFolder; -1 and kCurrentFolder are let be.
void CloseFolder(int folder);

} // namespace ferro
