// TComponent: the class library's owned components. An owner frees what it owns, last first; a
// component leaving its owner (freed on its own) is taken out of the owner's list first.
#pragma once

#include <string>
#include <vector>

namespace kavrin::classlib {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  // Set while the component's properties are read from a form; some setters only store then.
  bool Loading() const { return loading_; }
  void SetLoading(bool loading) { loading_ = loading; }
  bool Destroying() const { return destroying_; }

 protected:
  // Told when a component is inserted into or removed from this owner.
  virtual void Notification(TComponent* component, TOperation operation);
  // Derived destructors call this first, so owned components go while the owner is still whole.
  void DestroyComponents();
  void MarkDestroying() { destroying_ = true; }

 private:
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  bool loading_ = false;
  bool destroying_ = false;
};

}  // namespace kavrin::classlib
