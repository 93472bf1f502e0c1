#include "classlib/widgets/component.h"

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

TWidgetComponent::TWidgetComponent(TWidgetComponent* owner) : owner_(owner) {
  if (owner_) {
    owner_->owned_.push_back(Entry{this, [this] { Free(this); }});
  }
}

TWidgetComponent::~TWidgetComponent() {
  destroying_ = true;
  DestroyComponents();
  if (owner_) owner_->Remove(this);
}

void TWidgetComponent::BeforeDestruction() {
  destroying_ = true;
}

void TWidgetComponent::DestroyComponents() {
  while (!owned_.empty()) {
    Entry entry = std::move(owned_.back());
    owned_.pop_back();
    if (entry.Component) entry.Component->owner_ = nullptr;
    entry.Release();
  }
}

void TWidgetComponent::Remove(TWidgetComponent* component) {
  auto it = std::find_if(owned_.begin(), owned_.end(), [component](const Entry& e) { return e.Component == component; });
  if (it != owned_.end()) owned_.erase(it);
}

int TWidgetComponent::ComponentCount() const {
  return static_cast<int>(std::count_if(owned_.begin(), owned_.end(), [](const Entry& e) { return e.Component != nullptr; }));
}

TWidgetComponent* TWidgetComponent::Components(int index) const {
  for (const auto& e : owned_) {
    if (!e.Component) continue;
    if (index-- == 0) return e.Component;
  }
  return nullptr;
}

TWidgetComponent* TWidgetComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const auto& e : owned_) {
    if (e.Component && SameName(e.Component->Name, name)) return e.Component;
  }
  return nullptr;
}

void Free(TWidgetComponent* component) {
  if (!component) return;
  if (!component->Destroying()) component->BeforeDestruction();
  delete component;
}

}  // namespace kavrin::classlib
