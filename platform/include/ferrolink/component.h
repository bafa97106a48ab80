// TComponent: the owner/owned relation of the class library. An owner destroys
// the components it owns, newest first, when it is destroyed itself; a window
// sets its components' published properties and then tells each of them that
// loading is over (Loaded), which is where components start their run-time work.
#pragma once

#include <utility>
#include <vector>

namespace ferro {

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    const std::vector<TComponent*>& Components() const { return FComponents; }

    // Design mode: the component is being edited, not run; it does no
    // network work. Inherited by components created later with this owner.
    bool DesignMode() const { return FDesigning; }
    void SetDesigning(bool designing) { FDesigning = designing; }

    // The after-load notification, sent once the owner has set the stored
    // published properties.
    virtual void Loaded() {}

    // Sends the after-load notification to every owned component, oldest first.
    void NotifyComponentsLoaded();

private:
    void InsertComponent(TComponent* child) { FComponents.push_back(child); }
    void RemoveComponent(TComponent* child);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    bool FDesigning = false;
    bool FDestroyingChildren = false;
};

// Creates a component owned by `owner`, which will destroy it. The returned
// pointer does not own.
template <class T, class... Args>
T* CreateOwned(TComponent* owner, Args&&... args)
{
    return new T(owner, std::forward<Args>(args)...);
}

} // namespace ferro
