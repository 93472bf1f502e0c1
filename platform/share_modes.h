// Windows share modes across processes, emulated with flock() on each open.
//
// flock belongs to the open file description, so it excludes two opens in one process as well as in
// two processes, and it can be taken on a read-only descriptor. Every open of a file made by this layer
// takes one: a shared open LOCK_SH, an exclusive one LOCK_EX, both without waiting. Only this layer's
// opens take part; a program that opens the file by other means is not kept out.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/unique_fd.h"

namespace kavrin::platform::detail {

enum class ShareMode { Shared, Exclusive };

// Opens path with the open(2) flags (O_CLOEXEC is added) and takes the share lock. A file that is open
// elsewhere in a conflicting mode fails with ERROR_SHARING_VIOLATION. A directory is returned without a
// share lock. *st receives the opened file's status. On failure the descriptor is invalid and the last
// error is set.
UniqueFd OpenWithShareMode(const std::string& path, int flags, mode_t mode, ShareMode share, struct stat* st);

// Turns an exclusive open into a shared one; false with ERROR_SHARING_VIOLATION if another open took
// the file in the moment the kernel holds neither lock.
bool ShareExclusiveOpen(int fd);

}  // namespace kavrin::platform::detail
