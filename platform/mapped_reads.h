// Reads from a read-only shared map of a file: a read that the map holds costs no system call. Only for
// files on local file systems, whose pages every process shares with its plain reads and writes; a
// network file system (NFS, SMB) can be shared by several machines and is read with plain reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kavrin::platform::detail {

class MappedView {
 public:
  // A map of the first length bytes of the file (past its end too: those pages are never read), or
  // null when the file cannot be mapped.
  static std::shared_ptr<MappedView> Map(int fd, std::uint64_t length);
  ~MappedView();
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  const char* Base() const { return base_; }
  std::uint64_t Length() const { return length_; }

 private:
  MappedView(const char* base, std::uint64_t length) : base_(base), length_(length) {}
  const char* base_;
  std::uint64_t length_;
};

// How much to map for a file of size bytes: room to grow, so a growing file is seldom mapped again.
std::uint64_t MapLengthFor(std::int64_t size);

// Whether the descriptor is a regular file on a local file system.
bool MappableFile(int fd);

// Copies count bytes out of a map; false when a page is gone (the file was cut short by someone else,
// or the disk failed to read it), which would otherwise end the process with SIGBUS.
bool GuardedCopy(void* to, const void* from, std::size_t count);

// Whether the map shows the file still holding the byte before end, read after a copy ending there: a
// file cut short keeps the page of its new end mapped with zeros past it, and the pages after it are
// gone, so a byte other than zero at end - 1 or beyond (looked for in the next few KiB) proves the
// file reaches end. Only the first shown bytes of the map are looked at: past the file's end as last
// seen, every look would end in a bus error. False means only that the map cannot tell; the file's
// size must.
bool MapShowsEnd(const char* base, std::uint64_t shown, std::uint64_t end);

}  // namespace kavrin::platform::detail
