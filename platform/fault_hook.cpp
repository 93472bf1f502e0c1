#include "platform/fault_hook.h"

#include <mutex>
#include <utility>

#include "platform/handle_registry.h"

namespace kavrin::platform {

namespace {

struct HookSlot {
  std::mutex mutex;
  FileFaultHook hook;
};

HookSlot& Slot() {
  static HookSlot* slot = new HookSlot();
  return *slot;
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) {
  HookSlot& slot = Slot();
  std::lock_guard<std::mutex> guard(slot.mutex);
  detail::g_faultHookInstalled.store(static_cast<bool>(hook), std::memory_order_release);
  slot.hook = std::move(hook);
}

namespace detail {

DWORD FaultFor(FileOp op, const std::string& name) {
  if (!FaultHookInstalled()) return ERROR_SUCCESS;
  HookSlot& slot = Slot();
  FileFaultHook hook;
  {
    std::lock_guard<std::mutex> guard(slot.mutex);
    hook = slot.hook;
  }
  // Called outside the lock, so that the hook may itself replace or clear the hook.
  return hook ? hook(op, name) : ERROR_SUCCESS;
}

DWORD FaultFor(FileOp op, HANDLE handle) {
  if (!FaultHookInstalled()) return ERROR_SUCCESS;
  std::string name;
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) { name = entry.name; });
  return FaultFor(op, name);
}

}  // namespace detail
}  // namespace kavrin::platform
