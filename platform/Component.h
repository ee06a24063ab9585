// Owner model of components: an owner destroys the components it owns; a component
// destroyed first removes itself from its owner.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnor::platform {

// A component with an owner must live on the heap (see Make): the owner deletes it.
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    [[nodiscard]] TComponent* Owner() const noexcept { return owner_; }
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    [[nodiscard]] int ComponentCount() const noexcept { return static_cast<int>(owned_.size()); }
    // Raises Exception for an index outside 0 .. ComponentCount() - 1.
    [[nodiscard]] TComponent* Component(int index) const;
    // The owned component with this name (compared case-insensitively), or null.
    [[nodiscard]] TComponent* FindComponent(std::string_view name) const noexcept;

    // Takes over `child` from its present owner (if any); null does nothing.
    void InsertComponent(TComponent* child);
    // Gives up ownership of `child` without destroying it; the caller then owns it.
    void RemoveComponent(TComponent* child) noexcept;
    // Destroys every owned component, newest first. Derived classes whose components
    // call back into them run this first in their own destructor, while they are whole.
    void DestroyComponents() noexcept;

private:
    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> owned_;  // in order of insertion
};

// Creates a component owned by `owner`; the owner deletes it.
template <class T, class... Args>
T& Make(TComponent& owner, Args&&... args) {
    return *new T(&owner, std::forward<Args>(args)...);
}

}  // namespace velnor::platform
