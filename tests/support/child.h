// Test support: a program run as a child process, its standard output and
// error gathered as it runs, waited for with a deadline while this thread's
// event loop runs; the same on every platform.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

class TChild {
public:
    // Starts `program` with `args`; Started() says whether it could.
    TChild(const std::string& program, const std::vector<std::string>& args);
    // Kills it when it still runs.
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    bool Started() const { return FProcess != 0; }
    // Pumps the event loop until the program has ended and its output is
    // all in, or `timeoutMs` passed; whether it ended.
    bool AwaitEnd(int timeoutMs);
    bool Running();
    // Its exit status, once it ended; -1 before.
    int ExitCode() const { return FExitCode; }
    // What it wrote, once it ended.
    const std::string& Output() const { return FOutput; }
    const std::string& Errors() const { return FErrors; }

private:
    long long FProcess = 0; // the system's: a pid, or a process handle
    int FExitCode = -1;
    std::string FOutput, FErrors;
    std::thread FOutputReader, FErrorReader;
};
