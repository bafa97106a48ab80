#include <ferrolink/component.h>

#include <algorithm>

namespace ferro {

TComponent::TComponent(TComponent* owner) : FOwner(owner)
{
    if (FOwner) {
        FDesigning = FOwner->FDesigning;
        FOwner->InsertComponent(this);
    }
}

TComponent::~TComponent()
{
    FDestroyingChildren = true;
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        FComponents.pop_back();
        child->FOwner = nullptr;
        delete child; // owned: created by CreateOwned with this owner
    }
    if (FOwner)
        FOwner->RemoveComponent(this);
}

void TComponent::RemoveComponent(TComponent* child)
{
    if (FDestroyingChildren)
        return;
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), child), FComponents.end());
}

void TComponent::NotifyComponentsLoaded()
{
    const auto children = FComponents; // a handler may create components
    for (TComponent* child : children)
        child->Loaded();
}

} // namespace ferro
