#include "socketwatch.h"

#include <ferrolink/messages.h>

#include <QSocketNotifier>

namespace ferro {

namespace {

// A notifier is made only when its direction is first watched: most sockets
// (accepted connections, spare sockets) are never watched, and each notifier
// made or toggled costs the event loop a wake-up.
void Watch(std::unique_ptr<QSocketNotifier>& notifier, int fd, QSocketNotifier::Type type,
           const std::function<void()>& callback, bool on)
{
    if (!notifier) {
        if (!on)
            return;
        notifier = std::make_unique<QSocketNotifier>(fd, type); // enabled from the start
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [callback] {
            NoteEventHandled();
            try {
                callback();
            } catch (...) {
                HandleCurrentException();
            }
        });
        return;
    }
    if (notifier->isEnabled() != on)
        notifier->setEnabled(on);
}

} // namespace

TSocketWatch::TSocketWatch(int fd, std::function<void()> onReadable, std::function<void()> onWritable)
    : FFd(fd), FOnReadable(std::move(onReadable)), FOnWritable(std::move(onWritable))
{
}

TSocketWatch::~TSocketWatch() = default;

void TSocketWatch::WatchRead(bool on)
{
    Watch(FRead, FFd, QSocketNotifier::Read, FOnReadable, on);
}

void TSocketWatch::WatchWrite(bool on)
{
    Watch(FWrite, FFd, QSocketNotifier::Write, FOnWritable, on);
}

} // namespace ferro
