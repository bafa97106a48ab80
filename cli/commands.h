// The two commands of qbmsg. Each returns the exit status: 0 success, 1 a
// failed transfer (or a message not stored), 2 a usage error (raised as
// UsageError).
#pragma once

#include <string>
#include <vector>

namespace qbmsgcli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130; // as a shell reports a command that SIGINT ended

int SendCommand(const std::vector<std::string>& args);
int ReceiveCommand(const std::vector<std::string>& args);

// Standard input was closed when qbmsg started (it reads /dev/null since).
extern bool gStandardInputClosed;

// Each command's help text.
extern const char* const kSendHelp;
extern const char* const kReceiveHelp;

} // namespace qbmsgcli
