#include "platform/handle_registry.h"

#include <utility>

namespace kavrin::platform::detail {

HandleRegistry& HandleRegistry::Instance() {
  // Never destroyed: handles may still be closed by other static objects' destructors at exit.
  static HandleRegistry* registry = new HandleRegistry();
  return *registry;
}

void HandleRegistry::Add(HANDLE handle, std::string name, bool read_only) {
  std::lock_guard<std::mutex> guard(mutex_);
  entries_[handle] = HandleEntry{std::move(name), read_only, 0, {}, nullptr, 0};
}

bool HandleRegistry::Remove(HANDLE handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_.erase(handle) != 0;
}

}  // namespace kavrin::platform::detail
