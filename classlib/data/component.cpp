#include "classlib/data/component.h"

#include <algorithm>
#include <cctype>

namespace kavrin::classlib {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::BeforeDestruction() { destroying_ = true; }

void TComponent::InsertComponent(TComponent* component) {
  if (component->owner_) component->owner_->RemoveComponent(component);
  owned_.push_back(Entry{component, {}});
  component->owner_ = this;
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto found =
      std::find_if(owned_.begin(), owned_.end(), [component](const Entry& e) { return e.Component == component; });
  if (found == owned_.end()) return;
  owned_.erase(found);
  component->owner_ = nullptr;
  if (!destroying_) Notification(component, TOperation::opRemove);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::DestroyComponents() {
  while (!owned_.empty()) {
    Entry last = std::move(owned_.back());
    owned_.pop_back();
    if (last.Component) {
      last.Component->owner_ = nullptr;
      Free(last.Component);
    } else {
      last.Release();
    }
  }
}

int TComponent::ComponentCount() const {
  return static_cast<int>(
      std::count_if(owned_.begin(), owned_.end(), [](const Entry& e) { return e.Component != nullptr; }));
}

TComponent* TComponent::Components(int index) const {
  for (const auto& e : owned_) {
    if (!e.Component) continue;
    if (index-- == 0) return e.Component;
  }
  return nullptr;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const auto& e : owned_) {
    if (e.Component && SameName(e.Component->Name(), name)) return e.Component;
  }
  return nullptr;
}

void Free(TComponent* component) {
  if (!component) return;
  if (!component->Destroying()) component->BeforeDestruction();
  delete component;
}

}  // namespace kavrin::classlib
