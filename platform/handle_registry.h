// The process's open handles: which name each was opened by, whether it may write, and the byte
// ranges it holds locked.
//
// The kernel knows the locks of an open file description but not the Windows rules on top of them (a
// handle may not lock a range overlapping its own, and unlocks only what it locked exactly), so each
// handle's ranges are kept here.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mapped_reads.h"
#include "platform/win_file.h"

namespace kavrin::platform::detail {

struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // never 0

  bool Overlaps(const ByteRange& other) const {
    return offset <= other.offset + (other.length - 1) && other.offset <= offset + (length - 1);
  }
  bool operator==(const ByteRange&) const = default;
};

struct HandleEntry {
  std::string name;
  bool read_only = false;
  // The handle's file pointer, kept here so that a seek costs no system call and a read or write is one
  // pread or pwrite; the descriptor's own offset is never used.
  std::int64_t position = 0;
  std::vector<ByteRange> locked;
  // Reads come from this map while they lie within the first known_size bytes: the file's size as last
  // seen, or as this handle's own writes left it.
  std::shared_ptr<MappedView> view;
  std::int64_t known_size = 0;
};

class HandleRegistry {
 public:
  static HandleRegistry& Instance();

  void Add(HANDLE handle, std::string name, bool read_only);  // may throw std::bad_alloc
  bool Remove(HANDLE handle);                                 // false when the handle is unknown

  // Runs f(HandleEntry&) under the registry's lock; false when the handle is unknown.
  template <typename F>
  bool With(HANDLE handle, F&& f) {
    std::lock_guard<std::mutex> guard(mutex_);
    // Descriptors are small numbers reused lowest first, so a table indexed by them stays short.
    if (handle < 0 || static_cast<std::size_t>(handle) >= entries_.size()) return false;
    HandleEntry* entry = entries_[static_cast<std::size_t>(handle)].get();
    if (!entry) return false;
    f(*entry);
    return true;
  }

 private:
  HandleRegistry() = default;

  std::mutex mutex_;
  std::vector<std::unique_ptr<HandleEntry>> entries_;  // by descriptor; null where none is open
};

}  // namespace kavrin::platform::detail
