// What a form or the application owns: named components, freed by their owner from the last to the
// first. Objects of other kinds (datasets, settings components) can be handed over too and are freed
// in the same order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::classlib {

class TWidgetComponent {
 public:
  explicit TWidgetComponent(TWidgetComponent* owner = nullptr);
  virtual ~TWidgetComponent();
  TWidgetComponent(const TWidgetComponent&) = delete;
  TWidgetComponent& operator=(const TWidgetComponent&) = delete;

  std::string Name;
  int Tag = 0;

  TWidgetComponent* Owner() const { return owner_; }
  int ComponentCount() const;
  TWidgetComponent* Components(int index) const;
  // By name, ignoring case; null when none.
  TWidgetComponent* FindComponent(std::string_view name) const;

  // Takes an object of any class; it is freed with the owned components, in the same order.
  template <class T>
  T* Own(std::unique_ptr<T> object) {
    T* raw = object.release();
    owned_.push_back(Entry{nullptr, [raw] { delete raw; }});
    return raw;
  }

  // Called before the object is deleted, while every derived part still exists. Forms fire OnDestroy
  // and free their components here.
  virtual void BeforeDestruction();
  bool Destroying() const { return destroying_; }

 protected:
  // Frees every owned component and object, from the last to the first.
  void DestroyComponents();

 private:
  struct Entry {
    TWidgetComponent* Component;
    std::function<void()> Release;
  };
  void Remove(TWidgetComponent* component);

  TWidgetComponent* owner_;
  std::vector<Entry> owned_;
  bool destroying_ = false;
};

// Frees a component the way its owner would: BeforeDestruction, then delete. Null does nothing.
void Free(TWidgetComponent* component);

}  // namespace kavrin::classlib
