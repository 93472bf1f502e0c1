#include "classlib/data/component.h"

#include <algorithm>

namespace kavrin::classlib {

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  destroying_ = true;
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* component) {
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto found = std::find(components_.begin(), components_.end(), component);
  if (found == components_.end()) return;
  components_.erase(found);
  component->owner_ = nullptr;
  if (!destroying_) Notification(component, TOperation::opRemove);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
}

}  // namespace kavrin::classlib
