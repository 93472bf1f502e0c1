#include "platform/handle_registry.h"

#include <utility>

namespace kavrin::platform::detail {

HandleRegistry& HandleRegistry::Instance() {
  // Never destroyed: handles may still be closed by other static objects' destructors at exit.
  static HandleRegistry* registry = new HandleRegistry();
  return *registry;
}

void HandleRegistry::Add(HANDLE handle, std::string name, bool read_only) {
  auto entry = std::make_unique<HandleEntry>(HandleEntry{std::move(name), read_only, 0, {}, nullptr, 0});
  const auto index = static_cast<std::size_t>(handle);
  std::lock_guard<std::mutex> guard(mutex_);
  if (index >= entries_.size()) entries_.resize(index + 1);
  entries_[index] = std::move(entry);
}

bool HandleRegistry::Remove(HANDLE handle) {
  std::unique_ptr<HandleEntry> gone;  // freed outside the lock: dropping its map unmaps
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (handle < 0 || static_cast<std::size_t>(handle) >= entries_.size()) return false;
    gone = std::move(entries_[static_cast<std::size_t>(handle)]);
  }
  return gone != nullptr;
}

}  // namespace kavrin::platform::detail
