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

// Whether the map shows the file reaching past the page of the byte before end, looked at after a copy
// ending there. A cut ends the file's pages past its new end in every map before it zeros the rest of
// the page the end falls in, so a page past the copy that can still be read shows that the copy met no
// cut's zeros (or that the file was written back since: MapStillHolds tells). Bytes of that page are no
// proof, the cut's zeros may not have reached them yet. Only the first shown bytes of the map are looked
// at: past the file's end as last seen, every look would end in a bus error. False means only that the
// map cannot tell (a copy in the file's last page); the file's size must.
bool MapReachesPast(const char* base, std::uint64_t shown, std::uint64_t end);

// Whether the map still holds the count bytes copied from it, looked at after the proof that the file
// reaches the copy's end (MapReachesPast, or the file's size). A file cut short and written back between
// the copy and that proof (a copy program, a restore) gave the copy zeros from the page of the passing
// end, which the file holds again by now: such a copy must be read again. The proof is then looked at
// once more, since a file cut again before this look would show the copy's zeros once more. False too
// when a page is gone.
bool MapStillHolds(const void* copy, const char* from, std::size_t count);

}  // namespace kavrin::platform::detail
