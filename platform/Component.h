// Owner model of components: an owner destroys the components it owns; a component
// destroyed first removes itself from its owner.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace velnor::platform {

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
    [[nodiscard]] TComponent* Component(int index) const;

private:
    void Insert(TComponent* child);
    void Remove(TComponent* child) noexcept;

    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> owned_;   // destroyed in reverse order of insertion
};

// Creates a component owned by `owner`; the owner deletes it.
template <class T, class... Args>
T& Make(TComponent& owner, Args&&... args) {
    return *new T(&owner, std::forward<Args>(args)...);
}

}  // namespace velnor::platform
