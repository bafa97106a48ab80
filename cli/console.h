// What qbmsg asks of the system it runs on beyond the library: the process
// made ready, its standard streams, the terminal and the input a body is
// copied from. Each platform's own (cli/posix, cli/windows); the stop
// requests are in stop_requests.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace qbmsgcli {

// Makes the process ready before anything else runs (the event loop's
// application object where the platform needs one, standard streams that
// are safe to use, signals that must not end it) and gives its arguments
// in UTF-8, the program's name left out; what it returns lives as long as
// main.
std::shared_ptr<void> PrepareProcess(int& argc, char** argv, std::vector<std::string>& args);

// Whether `stream` is a terminal.
bool IsTerminal(std::FILE* stream);
// The terminal's width in columns; 80 when it cannot be told.
int Columns(std::FILE* stream);
// Writes all of `bytes` to standard output; false when it is gone (its
// reader closed it, or it fails).
bool WriteStandardOutput(const std::string& bytes);

// What an input is, as it is opened.
enum class TInputKind { File, Folder, Stream };
// Opens `file` ("-": standard input) for reading; the descriptor, or -1
// with the cause in errno. `kind` tells a regular file, a folder, or
// anything else (a pipe, a device) to be read as a stream.
int OpenInput(const std::string& file, TInputKind& kind);
// Reads up to `count` bytes: the count, 0 at the end, -1 with errno set.
long ReadInput(int fd, char* into, std::size_t count);
void CloseInput(int fd);

} // namespace qbmsgcli
