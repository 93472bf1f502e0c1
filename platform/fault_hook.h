// The test hook that makes file operations fail (SetFileFaultHook in win_file.h).
#pragma once

#include <string>

#include "platform/win_file.h"

namespace kavrin::platform::detail {

// The hook's verdict on an operation: 0 to go ahead, else the code it must fail with.
DWORD FaultFor(FileOp op, const std::string& name);
// The same for an operation on a handle, named by the name it was opened with.
DWORD FaultFor(FileOp op, HANDLE handle);

}  // namespace kavrin::platform::detail
