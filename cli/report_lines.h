// Lines for standard output, written by a thread of their own: a reader that
// does not read (a full pipe) never holds up the receiver, so a reply never
// waits on its report line and a stop request is still heard.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace qbmsgcli {

class TReportLines {
public:
    TReportLines();
    // Leaves a writer that is stuck behind: the process is ending.
    ~TReportLines();
    TReportLines(const TReportLines&) = delete;
    TReportLines& operator=(const TReportLines&) = delete;

    // Queues `line` (its line end included) for standard output.
    void Add(std::string line);
    // Waits until every queued line is written, or gives up `graceMs` after
    // `stopAsked` first says yes; true when all were written.
    bool Drain(const std::function<bool()>& stopAsked, int graceMs);

private:
    struct Shared;
    std::shared_ptr<Shared> FShared; // the writer's too: it may outlive this object
    std::thread FWriter;
};

} // namespace qbmsgcli
