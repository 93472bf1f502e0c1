// Byte-range locks with Win32 LockFile/UnlockFile semantics, on Linux open-file-description locks.
//
// Locks belong to the handle: two handles of one process exclude each other, and closing one handle
// never drops another's locks. A lock overlapping a range this handle already holds is refused, an
// unlock succeeds only for a range held exactly as locked, and nothing ever waits: a range held
// elsewhere fails at once with ERROR_LOCK_VIOLATION. A handle opened for reading only takes read locks,
// which exclude writers' locks but not other readers'.
#pragma once

#include <cstdint>

#include "platform/win_file.h"

namespace kavrin::platform {

bool LockFile(HANDLE handle, std::uint64_t offset, std::uint64_t length);
bool UnlockFile(HANDLE handle, std::uint64_t offset, std::uint64_t length);
// UnlockFile of two ranges held exactly as locked. Where the handle holds nothing between them the
// kernel drops both in one call; else they go one by one, the higher first.
bool UnlockFilePair(HANDLE handle, std::uint64_t offset1, std::uint64_t length1, std::uint64_t offset2,
                    std::uint64_t length2);

}  // namespace kavrin::platform
