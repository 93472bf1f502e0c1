#include "platform/fault_hook.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/handle_registry.h"

namespace kavrin::platform {

namespace {

struct HookSlot {
  std::mutex mutex;
  FileFaultHook hook;
  std::atomic<bool> installed{false};  // spares every read and write the lock when no hook is set
};

HookSlot& Slot() {
  static HookSlot* slot = new HookSlot();
  return *slot;
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) {
  HookSlot& slot = Slot();
  std::lock_guard<std::mutex> guard(slot.mutex);
  slot.installed = static_cast<bool>(hook);
  slot.hook = std::move(hook);
}

namespace detail {

DWORD FaultFor(FileOp op, const std::string& name) {
  HookSlot& slot = Slot();
  if (!slot.installed.load()) return ERROR_SUCCESS;
  FileFaultHook hook;
  {
    std::lock_guard<std::mutex> guard(slot.mutex);
    hook = slot.hook;
  }
  // Called outside the lock, so that the hook may itself replace or clear the hook.
  return hook ? hook(op, name) : ERROR_SUCCESS;
}

DWORD FaultFor(FileOp op, HANDLE handle) {
  if (!Slot().installed.load()) return ERROR_SUCCESS;
  std::string name;
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) { name = entry.name; });
  return FaultFor(op, name);
}

}  // namespace detail
}  // namespace kavrin::platform
