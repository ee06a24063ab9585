#include "platform/Component.h"

#include <algorithm>

#include "platform/Exception.h"
#include "platform/Text.h"

namespace velnor::platform {

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::Component(int index) const {
    if (index < 0 || index >= ComponentCount()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    return owned_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const noexcept {
    if (name.empty()) return nullptr;
    for (TComponent* child : owned_) {
        if (SameText(child->Name(), name)) return child;
    }
    return nullptr;
}

void TComponent::InsertComponent(TComponent* child) {
    if (!child || child->owner_ == this) return;
    for (const TComponent* up = this; up; up = up->owner_) {
        if (up == child) throw Exception("A component cannot own itself or its owner");
    }
    owned_.reserve(owned_.size() + 1);  // the only step that can fail comes first
    if (child->owner_) child->owner_->RemoveComponent(child);
    owned_.push_back(child);
    child->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* child) noexcept {
    if (!child || child->owner_ != this) return;
    const auto it = std::find(owned_.rbegin(), owned_.rend(), child);
    if (it != owned_.rend()) owned_.erase(std::next(it).base());
    child->owner_ = nullptr;
}

void TComponent::DestroyComponents() noexcept {
    // A child's destructor may destroy or create siblings, so take one at a time.
    while (!owned_.empty()) {
        TComponent* child = owned_.back();
        owned_.pop_back();
        child->owner_ = nullptr;
        delete child;
    }
}

}  // namespace velnor::platform
