#include "platform/win_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace kavrin::platform {
namespace {

TEST(Win32ErrorFromErrno, MapsEachErrnoTheEngineDistinguishes) {
  const struct {
    int err;
    DWORD code;
  } cases[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
      {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EROFS, ERROR_ACCESS_DENIED},  // writing to a read-only file system is an access error
      {EISDIR, ERROR_ACCESS_DENIED},
      {EBADF, ERROR_INVALID_HANDLE},
      {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {EXDEV, ERROR_NOT_SAME_DEVICE},
      {ENOSPC, ERROR_DISK_FULL},
      {EDQUOT, ERROR_DISK_FULL},
      {EEXIST, ERROR_FILE_EXISTS},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {EFBIG, ERROR_FILE_TOO_LARGE},
      {ENAMETOOLONG, ERROR_INVALID_NAME},
      {EIO, ERROR_GEN_FAILURE},
      {ELOOP, ERROR_GEN_FAILURE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Win32ErrorFromErrno(c.err), c.code) << "errno " << c.err;
  }
}

TEST(LastError, BelongsToTheCallingThread) {
  SetLastError(ERROR_LOCK_VIOLATION);
  DWORD seen_by_other = ERROR_GEN_FAILURE;
  std::thread other([&] {
    seen_by_other = GetLastError();
    SetLastError(ERROR_DISK_FULL);
  });
  other.join();
  EXPECT_EQ(seen_by_other, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
}

}  // namespace
}  // namespace kavrin::platform
