// TComponent: the class library's owned components, widgets and data components alike. An owner frees
// what it owns, last first; a component leaving its owner (freed on its own) is taken out of the
// owner's list first. Objects of other kinds can be handed over too and are freed in the same order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::classlib {

enum class TOperation { opInsert, opRemove };

// A component's name: assigned like a field (`Name = "Form1"`) and read like one or by a call
// (`Name()`), so both the widget code and the data code read naturally.
class TComponentName {
 public:
  TComponentName& operator=(std::string name) {
    value_ = std::move(name);
    return *this;
  }
  const std::string& operator()() const { return value_; }
  operator const std::string&() const { return value_; }
  bool empty() const { return value_.empty(); }
  friend bool operator==(const TComponentName& a, std::string_view b) { return a.value_ == b; }

 private:
  std::string value_;
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponentName Name;
  int Tag = 0;

  TComponent* Owner() const { return owner_; }
  void SetName(std::string name) { Name = std::move(name); }
  int ComponentCount() const;
  // Null past the end.
  TComponent* Components(int index) const;
  // By name, ignoring case; null when none.
  TComponent* FindComponent(std::string_view name) const;
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  // Takes an object of any class; it is freed with the owned components, in the same order.
  template <class T>
  T* Own(std::unique_ptr<T> object) {
    T* raw = object.release();
    owned_.push_back(Entry{nullptr, [raw] { delete raw; }});
    return raw;
  }

  // Set while the component's properties are read from a form; some setters only store then.
  bool Loading() const { return loading_; }
  void SetLoading(bool loading) { loading_ = loading; }

  // Called before the object is deleted, while every derived part still exists. Forms fire OnDestroy
  // and free their components here.
  virtual void BeforeDestruction();
  bool Destroying() const { return destroying_; }

 protected:
  // Told when a component is inserted into or removed from this owner.
  virtual void Notification(TComponent* component, TOperation operation);
  // Frees every owned component and object, from the last to the first. Derived destructors call
  // this first, so owned components go while the owner is still whole.
  void DestroyComponents();
  void MarkDestroying() { destroying_ = true; }

 private:
  struct Entry {
    TComponent* Component;
    std::function<void()> Release;
  };

  TComponent* owner_ = nullptr;
  std::vector<Entry> owned_;
  bool loading_ = false;
  bool destroying_ = false;
};

// Frees a component the way its owner would: BeforeDestruction, then delete. Null does nothing.
void Free(TComponent* component);

}  // namespace kavrin::classlib
