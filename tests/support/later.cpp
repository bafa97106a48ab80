#include "loop.h"

#include <ferrolink/timer.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace ferro;

namespace {

struct TPending {
    std::unique_ptr<TTimer> Timer;
    bool Done = false;
};

// Every action's timer, each freed at a later call once its action has
// returned (never from within its own tick).
std::vector<std::unique_ptr<TPending>> gPending;

void FreeDone()
{
    std::erase_if(gPending, [](const std::unique_ptr<TPending>& p) { return p->Done; });
}

} // namespace

void Later(int ms, std::function<void()> action)
{
    FreeDone();
    auto pending = std::make_unique<TPending>();
    TPending* self = pending.get();
    pending->Timer = std::make_unique<TTimer>(nullptr);
    pending->Timer->OnTimer = [self, action = std::move(action)](TComponent*) {
        self->Timer->SetEnabled(false);
        action();
        self->Done = true;
    };
    pending->Timer->SetInterval(std::max(ms, 1)); // 0 would never fire
    gPending.push_back(std::move(pending));
}
