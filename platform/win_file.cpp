#include "platform/win_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "platform/fault_hook.h"
#include "platform/handle_registry.h"
#include "platform/io_counters.h"
#include "platform/name_resolution.h"
#include "platform/share_modes.h"
#include "platform/unique_fd.h"

namespace kavrin::platform {

namespace {

using detail::FaultFor;
using detail::HandleEntry;
using detail::HandleRegistry;
using detail::MappedView;
using detail::OpenWithShareMode;
using detail::ResolvedName;
using detail::ResolveName;
using detail::ShareMode;
using detail::UniqueFd;

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as any new file is
constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

bool FailWithErrno() { return Fail(Win32ErrorFromErrno(errno)); }

HANDLE NoHandle(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

std::int64_t NoPosition(DWORD code) {
  SetLastError(code);
  return -1;
}

DWORD NoAttributes(DWORD code) {
  SetLastError(code);
  return INVALID_FILE_ATTRIBUTES;
}

// Whether the fault hook failed the operation; its code is then the last error.
bool Faulted(DWORD code) {
  if (code == ERROR_SUCCESS) return false;
  SetLastError(code);
  return true;
}

// Whether the handle came from CreateFileA and is still open; *read_only tells whether it may write.
bool LookUp(HANDLE handle, bool* read_only, std::int64_t* position = nullptr) {
  return HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    *read_only = entry.read_only;
    if (position) *position = entry.position;
  });
}

void MoveTo(HANDLE handle, std::int64_t position) {
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) { entry.position = position; });
}

// Windows refuses to write to a file whose read-only attribute is set, whoever asks; the same must hold
// here for root, whom the kernel lets write anyway.
bool ReadOnlyAttribute(const struct stat& st) { return (st.st_mode & kAnyWriteBit) == 0; }

// 0, or the errno that kept the file from being emptied.
int EmptyFile(int fd, bool fd_writable) {
  if (fd_writable) return ftruncate(fd, 0) == 0 ? 0 : errno;
  // A handle opened for reading only cannot cut the file itself; reopening the descriptor's own inode
  // through /proc cannot reach a file that has replaced it under the name since.
  UniqueFd writer(open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_CLOEXEC));
  if (!writer.Valid()) return errno;
  return ftruncate(writer.Get(), 0) == 0 ? 0 : errno;
}

// Delete and rename need the file closed everywhere: an exclusive share lock proves it, and holding it
// through the unlink or rename keeps others from opening the file meanwhile.
UniqueFd OpenForRemoval(const std::string& path, struct stat* st) {
  UniqueFd fd = OpenWithShareMode(path, O_RDONLY, 0, ShareMode::Exclusive, st);
  if (!fd.Valid() && GetLastError() == ERROR_ACCESS_DENIED) {
    // A file we may not read can still be ours to remove.
    fd = OpenWithShareMode(path, O_WRONLY, 0, ShareMode::Exclusive, st);
  }
  return fd;
}

// Renames without ever replacing an existing target.
bool RenameNoReplace(const std::string& from, const std::string& to, bool is_directory) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  if (errno != EINVAL && errno != ENOSYS) return FailWithErrno();

  // The file system cannot rename without replacing: a hard link fails on an existing target instead.
  if (is_directory) {
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) return Fail(ERROR_ALREADY_EXISTS);
    return rename(from.c_str(), to.c_str()) == 0 || FailWithErrno();
  }
  if (link(from.c_str(), to.c_str()) != 0) {
    return errno == EEXIST ? Fail(ERROR_ALREADY_EXISTS) : FailWithErrno();
  }
  if (unlink(from.c_str()) != 0) {
    const int err = errno;
    unlink(to.c_str());
    return Fail(Win32ErrorFromErrno(err));
  }
  return true;
}

}  // namespace

HANDLE CreateFileA(const std::string& name, DWORD access, DWORD share, DWORD disposition) {
  const bool want_read = (access & GENERIC_READ) != 0;
  const bool want_write = (access & GENERIC_WRITE) != 0;
  if ((!want_read && !want_write) ||
      (disposition != CREATE_NEW && disposition != CREATE_ALWAYS && disposition != OPEN_EXISTING)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (Faulted(FaultFor(disposition == OPEN_EXISTING ? FileOp::Open : FileOp::Create, name))) {
    return INVALID_HANDLE_VALUE;
  }

  // Sharing with readers only ("other writers denied") has no flock counterpart; it is opened
  // exclusively, which is stricter than Windows but never lets a second writer in. The same goes for
  // sharing with writers only.
  const ShareMode mode = (share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) == (FILE_SHARE_READ | FILE_SHARE_WRITE)
                             ? ShareMode::Shared
                             : ShareMode::Exclusive;

  ResolvedName resolved;
  if (!ResolveName(name, &resolved)) return INVALID_HANDLE_VALUE;
  int flags = want_write ? (want_read ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case OPEN_EXISTING:
      if (!resolved.exists) return NoHandle(ERROR_FILE_NOT_FOUND);
      break;
    case CREATE_NEW:
      if (resolved.exists) return NoHandle(ERROR_FILE_EXISTS);
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      // Never O_TRUNC: the file is emptied only once the share check has shown nobody has it open.
      flags |= O_CREAT;
      break;
  }

  // Emptying a file is only safe once no other open has it, whatever sharing that open allowed, so
  // CREATE_ALWAYS opens exclusively and shares the file, if asked to, only after emptying it.
  const bool empties = disposition == CREATE_ALWAYS;
  struct stat st {};
  UniqueFd fd = OpenWithShareMode(resolved.path, flags, kNewFileMode, empties ? ShareMode::Exclusive : mode, &st);
  if (!fd.Valid()) return INVALID_HANDLE_VALUE;
  if (S_ISDIR(st.st_mode)) return NoHandle(ERROR_ACCESS_DENIED);
  if (want_write && ReadOnlyAttribute(st)) return NoHandle(ERROR_ACCESS_DENIED);
  if (empties && st.st_size != 0) {
    if (const int err = EmptyFile(fd.Get(), want_write); err != 0) return NoHandle(Win32ErrorFromErrno(err));
  }
  if (empties && mode == ShareMode::Shared && !detail::ShareExclusiveOpen(fd.Get())) return INVALID_HANDLE_VALUE;

  try {
    HandleRegistry::Instance().Add(fd.Get(), name, !want_write);
  } catch (const std::bad_alloc&) {
    return NoHandle(ERROR_NOT_ENOUGH_MEMORY);
  }
  SetLastError(disposition == CREATE_ALWAYS && resolved.exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return fd.Release();
}

bool CloseHandle(HANDLE handle) {
  // Forgetting the handle before closing it: once closed, its number may be handed to another open.
  // The kernel drops the handle's locks and share lock with the last descriptor of its description.
  if (!HandleRegistry::Instance().Remove(handle)) return Fail(ERROR_INVALID_HANDLE);
  return close(handle) == 0 || errno == EINTR || FailWithErrno();
}

namespace {

// The handle's map, after making sure it reaches end when the file does; null when the range lies
// beyond the file (a plain read then gives what the file holds) or the handle reads plainly (mapped
// false).
std::shared_ptr<MappedView> ViewFor(HANDLE handle, std::int64_t end, std::int64_t& known, bool& mapped) {
  std::shared_ptr<MappedView> view;
  known = 0;
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    view = entry.view;
    known = entry.known_size;
  });
  mapped = view != nullptr;
  if (!view) return nullptr;
  if (end <= known && static_cast<std::uint64_t>(end) <= view->Length()) return view;
  struct stat st {};
  detail::CountOther();
  if (fstat(handle, &st) != 0 || st.st_size < end) return nullptr;
  if (static_cast<std::uint64_t>(end) > view->Length()) {
    view = MappedView::Map(handle, detail::MapLengthFor(st.st_size));
  }
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    if (view) entry.view = view;
    entry.known_size = st.st_size;
  });
  known = st.st_size;
  return view;
}

// After a read from the map failed: the file is shorter than the handle thought.
void ForgetKnownSize(HANDLE handle) {
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) { entry.known_size = 0; });
}

// Whether the file, by its size now, holds every byte before end.
bool FileReaches(HANDLE handle, std::uint64_t end) {
  struct stat st {};
  detail::CountOther();
  return fstat(handle, &st) == 0 && static_cast<std::uint64_t>(st.st_size) >= end;
}

// Reads with pread from position on, leaving the handle's position after what was read.
bool ReadPlainly(HANDLE handle, char* bytes, DWORD count, std::int64_t position, DWORD* done) {
  DWORD total = 0;
  while (total < count) {
    detail::CountRead();
    const ssize_t n = pread(handle, bytes + total, count - total, static_cast<off_t>(position + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      MoveTo(handle, position + total);
      return FailWithErrno();
    }
    if (n == 0) break;  // end of file
    total += static_cast<DWORD>(n);
    if (done) *done = total;
  }
  MoveTo(handle, position + total);
  return true;
}

// A plain read of a mapped file, which falls back here when the map cannot vouch for a copy: while a
// foreign program cuts the file and writes it back, even a plain read can return zeros from the page of
// the passing end. The file's size and change time, the same after the read as before, show that
// nothing cut it meanwhile (on kernels with fine-grained timestamps, a change made after a look at the
// time always moves it); a file that keeps changing fails the read as a device failure does.
bool ReadPlainlyUnchanged(HANDLE handle, char* bytes, DWORD count, std::int64_t position, DWORD* done) {
  constexpr int kTries = 4;
  const auto same = [](const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
  };
  std::vector<char> again;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    struct stat before {};
    struct stat between {};
    struct stat after {};
    DWORD first = 0;
    DWORD second = 0;
    detail::CountOther();
    if (fstat(handle, &before) != 0) return FailWithErrno();
    if (!ReadPlainly(handle, bytes, count, position, &first)) return false;
    detail::CountOther();
    if (fstat(handle, &between) != 0) return FailWithErrno();
    if (same(before, between)) {
      // Where the file's times are coarse, a cut and its writing back within one tick leave them as they
      // were: the read must then find the same bytes once more.
      again.resize(first);
      if (!ReadPlainly(handle, again.data(), first, position, &second)) return false;
      detail::CountOther();
      if (fstat(handle, &after) != 0) return FailWithErrno();
      const bool agree = first == 0 || std::memcmp(bytes, again.data(), first) == 0;
      if (second == first && same(between, after) && agree) {
        if (done) *done = first;
        return true;
      }
    }
  }
  MoveTo(handle, position);
  return Fail(ERROR_GEN_FAILURE);
}

}  // namespace

bool EnableMappedReads(HANDLE handle) {
  bool known = false;
  if (!LookUp(handle, &known)) return Fail(ERROR_INVALID_HANDLE);
  if (!detail::MappableFile(handle)) return false;
  struct stat st {};
  if (fstat(handle, &st) != 0) return FailWithErrno();
  std::shared_ptr<MappedView> view = MappedView::Map(handle, detail::MapLengthFor(st.st_size));
  if (!view) return false;
  return HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    entry.view = std::move(view);
    entry.known_size = st.st_size;
  });
}

bool ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* done) {
  if (done) *done = 0;
  if (count > 0 && !detail::FaultHookInstalled()) {
    // A read the map holds, in one visit to the registry; any other read, or one the map cannot vouch
    // for, takes the path below, which starts over and tells why.
    bool mapped = false;
    bool plain = false;
    std::int64_t position = 0;
    const bool open = HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
      const MappedView* view = entry.view.get();
      if (!view) {
        plain = true;
        position = entry.position;
        return;
      }
      const auto end = static_cast<std::uint64_t>(entry.position) + count;
      const auto known = static_cast<std::uint64_t>(entry.known_size);
      if (end > known || end > view->Length()) return;
      const std::uint64_t shown = std::min(view->Length(), known);
      const char* from = view->Base() + entry.position;
      if (detail::GuardedCopy(buffer, from, count) && detail::MapReachesPast(view->Base(), shown, end) &&
          detail::MapStillHolds(buffer, from, count) && detail::MapReachesPast(view->Base(), shown, end)) {
        entry.position = static_cast<std::int64_t>(end);
        mapped = true;
      }
    });
    if (!open) return Fail(ERROR_INVALID_HANDLE);
    if (mapped) {
      if (done) *done = count;
      return true;
    }
    if (plain) return ReadPlainly(handle, static_cast<char*>(buffer), count, position, done);
  }
  bool read_only = false;
  std::int64_t position = 0;
  if (!LookUp(handle, &read_only, &position)) return Fail(ERROR_INVALID_HANDLE);
  if (Faulted(FaultFor(FileOp::Read, handle))) return false;
  auto* bytes = static_cast<char*>(buffer);
  bool mapped = false;
  if (count > 0) {
    std::int64_t known = 0;
    if (const std::shared_ptr<MappedView> view = ViewFor(handle, position + count, known, mapped)) {
      const auto end = static_cast<std::uint64_t>(position) + count;
      // A copy from the page a foreign cut ended in reads zeros: after it, the file must still reach
      // past that page (or, in its last page, by its size), the map must still hold what was copied (a
      // file cut and written back in between), and the file must reach past it still (cut once more
      // before that look, it would show the same zeros). The look past the copy stops at the size last
      // seen.
      const std::uint64_t shown = std::min(view->Length(), static_cast<std::uint64_t>(known));
      const char* from = view->Base() + position;
      const auto reaches = [&] { return detail::MapReachesPast(view->Base(), shown, end) || FileReaches(handle, end); };
      if (detail::GuardedCopy(bytes, from, count) && reaches() && detail::MapStillHolds(bytes, from, count) &&
          reaches()) {
        if (done) *done = count;
        MoveTo(handle, position + count);
        return true;
      }
      // Cut short by someone else, or unreadable: the plain read below says which.
      ForgetKnownSize(handle);
    }
  }
  if (mapped) return ReadPlainlyUnchanged(handle, bytes, count, position, done);
  return ReadPlainly(handle, bytes, count, position, done);
}

bool WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* done) {
  if (done) *done = 0;
  bool read_only = false;
  std::int64_t position = 0;
  if (!LookUp(handle, &read_only, &position)) return Fail(ERROR_INVALID_HANDLE);
  if (read_only) return Fail(ERROR_ACCESS_DENIED);
  if (Faulted(FaultFor(FileOp::Write, handle))) return false;
  const auto* bytes = static_cast<const char*>(buffer);
  DWORD total = 0;
  while (total < count) {
    detail::CountWrite();
    const ssize_t n = pwrite(handle, bytes + total, count - total, static_cast<off_t>(position + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      MoveTo(handle, position + total);
      return FailWithErrno();
    }
    // No progress without an error means no room is left.
    if (n == 0) {
      MoveTo(handle, position + total);
      return Fail(ERROR_DISK_FULL);
    }
    total += static_cast<DWORD>(n);
    if (done) *done = total;
  }
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
    entry.position = position + total;
    if (entry.view) entry.known_size = std::max(entry.known_size, position + total);
  });
  return true;
}

namespace {

// The position distance bytes from base, which is never negative; 0, else the code it fails with.
DWORD Offset(std::int64_t base, std::int64_t distance, std::int64_t* position) {
  // Only a negative distance can go before the start and only a positive one can overflow.
  if (distance < 0 && base + distance < 0) return ERROR_NEGATIVE_SEEK;
  if (distance > 0 && base > std::numeric_limits<std::int64_t>::max() - distance) return ERROR_INVALID_PARAMETER;
  *position = base + distance;
  return ERROR_SUCCESS;
}

}  // namespace

std::int64_t SetFilePointer(HANDLE handle, std::int64_t distance, DWORD method) {
  if ((method == FILE_BEGIN || method == FILE_CURRENT) && !detail::FaultHookInstalled()) {
    // Needs no size: moved in one visit to the registry.
    std::int64_t position = -1;
    DWORD error = ERROR_SUCCESS;
    const bool open = HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) {
      error = Offset(method == FILE_CURRENT ? entry.position : 0, distance, &position);
      if (error == ERROR_SUCCESS) entry.position = position;
    });
    if (!open) return NoPosition(ERROR_INVALID_HANDLE);
    if (error != ERROR_SUCCESS) return NoPosition(error);
    return position;
  }
  bool read_only = false;
  std::int64_t current = 0;
  if (!LookUp(handle, &read_only, &current)) return NoPosition(ERROR_INVALID_HANDLE);
  if (Faulted(FaultFor(FileOp::Seek, handle))) return -1;
  std::int64_t base = 0;
  switch (method) {
    case FILE_BEGIN: break;
    case FILE_CURRENT: base = current; break;
    case FILE_END: {
      struct stat st {};
      detail::CountOther();
      if (fstat(handle, &st) != 0) return NoPosition(Win32ErrorFromErrno(errno));
      base = st.st_size;
      break;
    }
    default: return NoPosition(ERROR_INVALID_PARAMETER);
  }
  std::int64_t position = 0;
  if (const DWORD error = Offset(base, distance, &position); error != ERROR_SUCCESS) return NoPosition(error);
  MoveTo(handle, position);
  return position;
}

bool SetEndOfFile(HANDLE handle) {
  bool read_only = false;
  std::int64_t position = 0;
  if (!LookUp(handle, &read_only, &position)) return Fail(ERROR_INVALID_HANDLE);
  if (read_only) return Fail(ERROR_ACCESS_DENIED);
  if (Faulted(FaultFor(FileOp::Truncate, handle))) return false;
  detail::CountOther();
  while (ftruncate(handle, static_cast<off_t>(position)) != 0) {
    if (errno != EINTR) return FailWithErrno();
  }
  HandleRegistry::Instance().With(handle, [&](HandleEntry& entry) { entry.known_size = position; });
  return true;
}

bool FlushFileBuffers(HANDLE handle) {
  bool read_only = false;
  if (!LookUp(handle, &read_only)) return Fail(ERROR_INVALID_HANDLE);
  if (Faulted(FaultFor(FileOp::Flush, handle))) return false;
  // The data and the size it needs to be read back; timestamps may wait.
  detail::CountOther();
  while (fdatasync(handle) != 0) {
    if (errno != EINTR) return FailWithErrno();
  }
  return true;
}

bool ReserveFileSpace(HANDLE handle, std::int64_t offset, std::int64_t length) {
  bool read_only = false;
  if (!LookUp(handle, &read_only)) return Fail(ERROR_INVALID_HANDLE);
  if (read_only) return Fail(ERROR_ACCESS_DENIED);
  if (Faulted(FaultFor(FileOp::Reserve, handle))) return false;
  if (offset < 0 || length < 0 || offset > std::numeric_limits<std::int64_t>::max() - length) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (length == 0) return true;
  // Reserving does not meet the file size limit; the writes into the reserved space would.
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(offset + length) > static_cast<std::uint64_t>(limit.rlim_cur)) {
    return Fail(ERROR_DISK_FULL);
  }
  while (fallocate(handle, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset), static_cast<off_t>(length)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EOPNOTSUPP || errno == ENOSYS) return Fail(ERROR_NOT_SUPPORTED);
    if (errno == EFBIG) return Fail(ERROR_DISK_FULL);
    return FailWithErrno();
  }
  return true;
}

std::int64_t GetFileSize(HANDLE handle) {
  bool read_only = false;
  if (!LookUp(handle, &read_only)) return NoPosition(ERROR_INVALID_HANDLE);
  struct stat st {};
  detail::CountOther();
  if (fstat(handle, &st) != 0) return NoPosition(Win32ErrorFromErrno(errno));
  return st.st_size;
}

DWORD GetFileAttributesA(const std::string& name) {
  ResolvedName resolved;
  if (!ResolveName(name, &resolved)) return INVALID_FILE_ATTRIBUTES;
  if (!resolved.exists) return NoAttributes(ERROR_FILE_NOT_FOUND);
  struct stat st {};
  if (stat(resolved.path.c_str(), &st) != 0) return NoAttributes(Win32ErrorFromErrno(errno));
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (ReadOnlyAttribute(st)) return FILE_ATTRIBUTE_READONLY;
  struct statvfs fs {};
  if (statvfs(resolved.path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

bool DeleteFileA(const std::string& name) {
  if (Faulted(FaultFor(FileOp::Delete, name))) return false;
  ResolvedName resolved;
  if (!ResolveName(name, &resolved)) return false;
  if (!resolved.exists) return Fail(ERROR_FILE_NOT_FOUND);
  struct stat st {};
  UniqueFd fd = OpenForRemoval(resolved.path, &st);
  if (!fd.Valid()) return false;
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  return unlink(resolved.path.c_str()) == 0 || FailWithErrno();
}

bool MoveFileA(const std::string& existing, const std::string& target) {
  if (Faulted(FaultFor(FileOp::Move, existing))) return false;
  ResolvedName source;
  if (!ResolveName(existing, &source)) return false;
  if (!source.exists) return Fail(ERROR_FILE_NOT_FOUND);
  ResolvedName destination;
  if (!ResolveName(target, &destination)) return false;

  struct stat st {};
  UniqueFd fd = OpenForRemoval(source.path, &st);
  if (!fd.Valid()) return false;

  if (destination.exists) {
    // The target names the source itself up to case: a rename that only changes case, which a
    // case-insensitive disk allows. Anything else already there is never replaced.
    struct stat target_st {};
    const bool case_change = destination.path != target && stat(destination.path.c_str(), &target_st) == 0 &&
                             target_st.st_dev == st.st_dev && target_st.st_ino == st.st_ino;
    if (!case_change) return Fail(ERROR_ALREADY_EXISTS);
  }
  return RenameNoReplace(source.path, target, S_ISDIR(st.st_mode));
}

bool FileExists(const std::string& name) {
  ResolvedName resolved;
  if (!ResolveName(name, &resolved)) return false;
  if (!resolved.exists) return Fail(ERROR_FILE_NOT_FOUND);
  struct stat st {};
  if (stat(resolved.path.c_str(), &st) != 0) return FailWithErrno();
  return !S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  ResolvedName first;
  ResolvedName second;
  const bool resolved = ResolveName(a, &first) && ResolveName(b, &second);
  if (resolved && first.exists && second.exists) {
    struct stat st_a {};
    struct stat st_b {};
    if (stat(first.path.c_str(), &st_a) == 0 && stat(second.path.c_str(), &st_b) == 0) {
      return st_a.st_dev == st_b.st_dev && st_a.st_ino == st_b.st_ino;
    }
  }
  return detail::EqualIgnoringAsciiCase(resolved ? first.path : a, resolved ? second.path : b);
}

}  // namespace kavrin::platform
