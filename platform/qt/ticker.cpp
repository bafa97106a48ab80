// A timer's ticks on Qt's event loop.
#include "ticker.h"

#include <QTimer>

namespace ferro {

namespace {

// A precise QTimer, so a time-out ends when it says.
class TQtTicker final : public TTimer::TTicker {
public:
    explicit TQtTicker(TTimer& owner)
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [&owner] { Tick(owner); });
    }
    void Start(int interval) override { FTimer.start(interval); }
    void Stop() override { FTimer.stop(); }

private:
    QTimer FTimer;
};

} // namespace

std::unique_ptr<TTimer::TTicker> TTimer::TTicker::Make(TTimer& owner)
{
    return std::make_unique<TQtTicker>(owner);
}

} // namespace ferro
