// A component whose status texts a command-line user can watch: the status
// hook is the descendants' to assign.
#pragma once

#include <ferrolink/ferro.h>

#include <functional>
#include <string>

namespace qbmsgcli {

using namespace ferro;

template <class Component>
class TWatched : public Component {
public:
    using Component::Component;
    ~TWatched() override { this->FStatusHook = nullptr; }

    void WatchStatus(std::function<void(const std::string&)> watcher)
    {
        this->FStatusHook = [watcher = std::move(watcher)](TComponent*, const std::string& text) { watcher(text); };
    }
};

} // namespace qbmsgcli
