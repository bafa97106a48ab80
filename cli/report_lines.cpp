#include "report_lines.h"

#include "console.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace qbmsgcli {

struct TReportLines::Shared {
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<std::string> Queue;
    bool Writing = false;
    bool Finished = false;
};

TReportLines::TReportLines() : FShared(std::make_shared<Shared>())
{
    FWriter = std::thread([shared = FShared] {
        std::unique_lock lock(shared->Lock);
        bool open = true;
        for (;;) {
            shared->Wake.wait(lock, [&] { return !shared->Queue.empty() || shared->Finished; });
            if (shared->Queue.empty())
                return;
            std::string line = std::move(shared->Queue.front());
            shared->Queue.pop_front();
            shared->Writing = true;
            lock.unlock();
            open = open && WriteStandardOutput(line); // lines to a closed output are dropped
            lock.lock();
            shared->Writing = false;
            shared->Wake.notify_all();
        }
    });
}

TReportLines::~TReportLines()
{
    bool idle;
    {
        const std::lock_guard lock(FShared->Lock);
        FShared->Finished = true;
        idle = FShared->Queue.empty() && !FShared->Writing;
    }
    FShared->Wake.notify_all();
    if (idle)
        FWriter.join();
    else
        FWriter.detach(); // blocked in a write nobody reads: ends with the process
}

void TReportLines::Add(std::string line)
{
    {
        const std::lock_guard lock(FShared->Lock);
        FShared->Queue.push_back(std::move(line));
    }
    FShared->Wake.notify_all();
}

bool TReportLines::Drain(const std::function<bool()>& stopAsked, int graceMs)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point giveUp = Clock::time_point::max();
    for (;;) {
        {
            std::unique_lock lock(FShared->Lock);
            const auto drained = [&] { return FShared->Queue.empty() && !FShared->Writing; };
            if (FShared->Wake.wait_for(lock, std::chrono::milliseconds(10), drained))
                return true;
        }
        if (giveUp == Clock::time_point::max() && stopAsked())
            giveUp = Clock::now() + std::chrono::milliseconds(graceMs);
        if (Clock::now() >= giveUp)
            return false;
    }
}

} // namespace qbmsgcli
