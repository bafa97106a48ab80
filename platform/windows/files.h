// Internal to the Windows build: file names and errors as the file calls
// of the platform need them. Brings <windows.h>.
#pragma once

#include <windows.h>

#include <string>

namespace ferro::detail {

// A UTF-8 name in the system's UTF-16.
std::wstring Wide(const std::string& utf8);
// The full name of `name` in the folder numbered `folder` (kCurrentFolder:
// `name` as it is given, relative to the current folder). An empty name
// for a folder that is not open.
std::wstring PathIn(int folder, const std::string& name);
// errno's name for the thread's last Windows error, so that failures read
// as they do on other systems.
int ErrnoOfLastError();
// The file under a descriptor of the C runtime.
HANDLE HandleOf(int fd);
// A descriptor of the C runtime owning `file` (binary); -1, the file
// closed, when none can be had.
int DescriptorOf(HANDLE file);

} // namespace ferro::detail
