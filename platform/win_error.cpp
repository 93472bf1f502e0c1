#include "platform/win_error.h"

#include <cerrno>

namespace kavrin::platform {

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD code) { last_error = code; }

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    // A read-only file system is an access error rather than ERROR_WRITE_PROTECT: the engine treats
    // both the same way, and Windows reports a read-only share as access denied too. Opening a
    // directory as a file is access denied on Windows as well.
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace kavrin::platform
