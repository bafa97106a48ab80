// The two commands of qbmsg. Each returns the exit status: 0 success, 1 a
// failed transfer, 2 a usage error (raised as UsageError).
#pragma once

#include <string>
#include <vector>

namespace qbmsgcli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int SendCommand(const std::vector<std::string>& args);
int ReceiveCommand(const std::vector<std::string>& args);

// The sender's name made safe to print on one line: quotes, backslashes and
// bytes outside printable ASCII become escapes.
std::string Printable(const std::string& text);

} // namespace qbmsgcli
