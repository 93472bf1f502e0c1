#include "platform/share_modes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/win_error.h"

namespace kavrin::platform::detail {

namespace {

// A delete or rename elsewhere can swap the file under the name between our open and our flock; each
// retry needs another such swap to lose again, so a few are plenty.
constexpr int kOpenAttempts = 8;

// A file opened while the process has stdin, stdout or stderr closed would get that number, and
// anything printed would go into the file; such a descriptor is moved up out of the way.
UniqueFd AboveStandardDescriptors(UniqueFd fd) {
  if (!fd.Valid() || fd.Get() > STDERR_FILENO) return fd;
  UniqueFd moved(fcntl(fd.Get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
  if (!moved.Valid()) SetLastError(Win32ErrorFromErrno(errno));
  return moved;
}

bool PathStillNames(const std::string& path, const struct stat& opened) {
  struct stat now {};
  return stat(path.c_str(), &now) == 0 && now.st_dev == opened.st_dev && now.st_ino == opened.st_ino;
}

}  // namespace

UniqueFd OpenWithShareMode(const std::string& path, int flags, mode_t mode, ShareMode share, struct stat* st) {
  const int lock = (share == ShareMode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    UniqueFd opened(open(path.c_str(), flags | O_CLOEXEC, mode));
    if (!opened.Valid()) {
      SetLastError(Win32ErrorFromErrno(errno));
      return {};
    }
    UniqueFd fd = AboveStandardDescriptors(std::move(opened));
    if (!fd.Valid()) return {};
    if (fstat(fd.Get(), st) != 0) {
      SetLastError(Win32ErrorFromErrno(errno));
      return {};
    }
    if (S_ISDIR(st->st_mode)) return fd;

    if (flock(fd.Get(), lock) == 0) {
      // We may hold the lock on a file that was unlinked or renamed away after we opened it.
      if (PathStillNames(path, *st)) return fd;
      continue;
    }
    const int err = errno;
    if (err == EWOULDBLOCK || err == EINTR) {
      if (!PathStillNames(path, *st)) continue;
      if (err == EINTR) continue;
      SetLastError(ERROR_SHARING_VIOLATION);
      return {};
    }
    SetLastError(Win32ErrorFromErrno(err));
    return {};
  }
  SetLastError(ERROR_SHARING_VIOLATION);
  return {};
}

bool ShareExclusiveOpen(int fd) {
  int result = 0;
  do {
    result = flock(fd, LOCK_SH | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  SetLastError(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(errno));
  return false;
}

}  // namespace kavrin::platform::detail
