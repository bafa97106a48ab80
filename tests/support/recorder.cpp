#include "recorder.h"

#include <ferrolink/messages.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

using namespace ferro;

namespace {
std::vector<std::string> gRecorded;
}

void InstallExceptionRecorder()
{
    SetApplicationExceptionHandler([](const std::exception& e) { gRecorded.emplace_back(e.what()); });
}

std::vector<std::string> TakeRecordedExceptions()
{
    return std::exchange(gRecorded, {});
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick; // wakes the loop so the deadline is seen
    tick.start(5);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PumpFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    PumpUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

std::vector<std::string> AwaitRecordedExceptions(int timeoutMs)
{
    PumpUntil([] { return !gRecorded.empty(); }, timeoutMs);
    return TakeRecordedExceptions();
}
