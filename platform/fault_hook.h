// The test hook that makes file operations fail (SetFileFaultHook in win_file.h).
#pragma once

#include <atomic>
#include <string>

#include "platform/win_file.h"

namespace kavrin::platform::detail {

// Whether a hook is set: read by every file operation, so that without one the check is a single load.
inline std::atomic<bool> g_faultHookInstalled{false};
inline bool FaultHookInstalled() { return g_faultHookInstalled.load(std::memory_order_acquire); }

// The hook's verdict on an operation: 0 to go ahead, else the code it must fail with.
DWORD FaultFor(FileOp op, const std::string& name);
// The same for an operation on a handle, named by the name it was opened with.
DWORD FaultFor(FileOp op, HANDLE handle);

}  // namespace kavrin::platform::detail
