#include "socketwatch.h"

#include "messages.h"

#include <QSocketNotifier>

namespace {

std::unique_ptr<QSocketNotifier> MakeNotifier(int fd, QSocketNotifier::Type type, std::function<void()> callback)
{
    auto notifier = std::make_unique<QSocketNotifier>(fd, type);
    notifier->setEnabled(false);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [callback = std::move(callback)] {
        try {
            callback();
        } catch (...) {
            HandleCurrentException();
        }
    });
    return notifier;
}

} // namespace

TSocketWatch::TSocketWatch(int fd, std::function<void()> onReadable, std::function<void()> onWritable)
    : FRead(MakeNotifier(fd, QSocketNotifier::Read, std::move(onReadable)))
    , FWrite(MakeNotifier(fd, QSocketNotifier::Write, std::move(onWritable)))
{
}

TSocketWatch::~TSocketWatch() = default;

void TSocketWatch::WatchRead(bool on)
{
    if (FRead->isEnabled() != on)
        FRead->setEnabled(on);
}

void TSocketWatch::WatchWrite(bool on)
{
    if (FWrite->isEnabled() != on)
        FWrite->setEnabled(on);
}
