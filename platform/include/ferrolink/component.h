/// @file
/// TComponent: the owner/owned relation of the class library. An owner destroys
/// the components it owns, newest first, when it is destroyed itself; a window
/// sets its components' published properties and then tells each of them that
/// loading is over (Loaded), which is where components start their run-time work.
#pragma once

#include <utility>
#include <vector>

namespace ferro {

/// A component: it has an owner, which destroys it with itself, and owns the
/// components made with it as their owner. Neither copyable nor movable.
class TComponent {
public:
    /// Registers with `owner` (null for none), taking over its design mode.
    explicit TComponent(TComponent* owner);
    /// Destroys the owned components, newest first, then leaves the owner.
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    /// The owner, or null.
    TComponent* Owner() const { return FOwner; }
    /// The owned components, oldest first.
    const std::vector<TComponent*>& Components() const { return FComponents; }

    /// Design mode: the component is being edited, not run; it does no
    /// network work. Inherited by components created later with this owner.
    bool DesignMode() const { return FDesigning; }
    /// Sets design mode (for a form designer; programs leave it off).
    void SetDesigning(bool designing) { FDesigning = designing; }

    /// The after-load notification, sent once the owner has set the stored
    /// published properties; a listening server starts listening here. A
    /// component made in code, without a window to load it, is sent it by
    /// calling Loaded() itself once its properties are set.
    virtual void Loaded() {}

    /// Sends the after-load notification to every owned component, oldest first.
    void NotifyComponentsLoaded();

private:
    void InsertComponent(TComponent* child) { FComponents.push_back(child); }
    void RemoveComponent(TComponent* child);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    bool FDesigning = false;
    bool FDestroyingChildren = false;
};

/// Creates a component owned by `owner`, which will destroy it. The returned
/// pointer does not own.
template <class T, class... Args>
T* CreateOwned(TComponent* owner, Args&&... args)
{
    return new T(owner, std::forward<Args>(args)...);
}

} // namespace ferro
