#include "child.h"

#include "peer_system.h"
#include "recorder.h"

namespace {

// Gathers what comes from `fd` into `into` until its end.
std::thread Reader(int fd, std::string& into)
{
    return std::thread([fd, &into] {
        char chunk[4096];
        for (long n; (n = peer::ReadPipe(fd, chunk, sizeof chunk)) > 0;)
            into.append(chunk, static_cast<std::size_t>(n));
        peer::ClosePipe(fd);
    });
}

} // namespace

TChild::TChild(const std::string& program, const std::vector<std::string>& args)
{
    int output = -1, errors = -1;
    FProcess = peer::Spawn(program, args, output, errors);
    if (!FProcess)
        return;
    FOutputReader = Reader(output, FOutput);
    FErrorReader = Reader(errors, FErrors);
}

TChild::~TChild()
{
    if (FProcess && Running()) {
        peer::Kill(FProcess);
        AwaitEnd(5000);
    }
    if (FOutputReader.joinable())
        FOutputReader.join();
    if (FErrorReader.joinable())
        FErrorReader.join();
}

bool TChild::Running()
{
    return FProcess && FExitCode < 0 && !peer::Ended(FProcess, FExitCode);
}

bool TChild::AwaitEnd(int timeoutMs)
{
    if (!FProcess || !PumpUntil([this] { return !Running(); }, timeoutMs))
        return false;
    // Its pipes end with it (unless it left a process of its own holding them).
    if (FOutputReader.joinable())
        FOutputReader.join();
    if (FErrorReader.joinable())
        FErrorReader.join();
    return true;
}
