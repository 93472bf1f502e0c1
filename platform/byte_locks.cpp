#include "platform/byte_locks.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/handle_registry.h"
#include "platform/io_counters.h"

namespace kavrin::platform {

namespace {

using detail::ByteRange;
using detail::HandleEntry;
using detail::HandleRegistry;

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

// The kernel addresses bytes with a signed 64-bit offset, so the last byte locked must fit in one.
bool ValidRange(std::uint64_t offset, std::uint64_t length) {
  return length != 0 && offset <= kMaxOffset && length - 1 <= kMaxOffset - offset;
}

// Open-file-description locks: they belong to the handle rather than the process, so they conflict
// between two handles of one process and survive the closing of another descriptor of the file.
int SetOfdLock(HANDLE handle, short type, const ByteRange& range) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = static_cast<off_t>(range.offset);
  request.l_len = static_cast<off_t>(range.length);
  request.l_pid = 0;
  detail::CountOther();
  while (fcntl(handle, F_OFD_SETLK, &request) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

bool LockFile(HANDLE handle, std::uint64_t offset, std::uint64_t length) {
  if (!ValidRange(offset, length)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const ByteRange range{offset, length};
  DWORD error = ERROR_SUCCESS;
  const bool known = HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    for (const ByteRange& held : entry.locked) {
      if (held.Overlaps(range)) {
        error = ERROR_LOCK_VIOLATION;
        return;
      }
    }
    entry.locked.reserve(entry.locked.size() + 1);  // after this nothing can fail once the kernel agreed
    const int err = SetOfdLock(handle, entry.read_only ? F_RDLCK : F_WRLCK, range);
    if (err == EAGAIN || err == EACCES) {
      error = ERROR_LOCK_VIOLATION;
    } else if (err != 0) {
      error = Win32ErrorFromErrno(err);
    } else {
      entry.locked.push_back(range);
    }
  });
  if (!known) error = ERROR_INVALID_HANDLE;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  return true;
}

bool UnlockFile(HANDLE handle, std::uint64_t offset, std::uint64_t length) {
  if (!ValidRange(offset, length)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const ByteRange range{offset, length};
  DWORD error = ERROR_SUCCESS;
  const bool known = HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    auto it = entry.locked.begin();
    while (it != entry.locked.end() && !(*it == range)) ++it;
    if (it == entry.locked.end()) {
      error = ERROR_NOT_LOCKED;
      return;
    }
    // The handle's ranges never overlap, so unlocking this one leaves the kernel's record of the
    // others whole even where the kernel had merged adjacent ones.
    if (const int err = SetOfdLock(handle, F_UNLCK, range); err != 0) {
      error = Win32ErrorFromErrno(err);
      return;
    }
    entry.locked.erase(it);
  });
  if (!known) error = ERROR_INVALID_HANDLE;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  return true;
}

bool UnlockFilePair(HANDLE handle, std::uint64_t offset1, std::uint64_t length1, std::uint64_t offset2,
                    std::uint64_t length2) {
  if (!ValidRange(offset1, length1) || !ValidRange(offset2, length2)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  ByteRange low{offset1, length1};
  ByteRange high{offset2, length2};
  if (high.offset < low.offset) std::swap(low, high);
  DWORD error = ERROR_SUCCESS;
  bool spanFree = true;
  const bool known = HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    auto first = entry.locked.end();
    auto second = entry.locked.end();
    for (auto it = entry.locked.begin(); it != entry.locked.end(); ++it) {
      if (*it == low && first == entry.locked.end()) {
        first = it;
      } else if (*it == high && second == entry.locked.end()) {
        second = it;
      }
    }
    if (first == entry.locked.end() || second == entry.locked.end()) {
      error = ERROR_NOT_LOCKED;
      return;
    }
    // One unlock over the span would also drop whatever else the handle holds inside it.
    const ByteRange span{low.offset, high.offset + high.length - low.offset};
    for (auto it = entry.locked.begin(); it != entry.locked.end(); ++it) {
      if (it != first && it != second && it->Overlaps(span)) spanFree = false;
    }
    if (!spanFree) return;
    if (const int err = SetOfdLock(handle, F_UNLCK, span); err != 0) {
      error = Win32ErrorFromErrno(err);
      return;
    }
    if (first < second) std::swap(first, second);
    entry.locked.erase(first);
    entry.locked.erase(second);
  });
  if (!known) error = ERROR_INVALID_HANDLE;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  if (spanFree) return true;
  if (!UnlockFile(handle, high.offset, high.length)) return false;
  return UnlockFile(handle, low.offset, low.length);
}

}  // namespace kavrin::platform
