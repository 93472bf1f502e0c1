// Index file layout. All numbers little-endian; a page is addressed by its byte offset, 0 meaning none.
// On an encrypted table the header and every page pass the file handler's scrambling as one unit each.
//
// Header, 2560 bytes at 0:
//    0  i32      change counter         +1 on every header write; other processes compare it
//    4  4        reserved               zero
//    8  u8       version                2
//    9  i32      end of file            where the next new page is appended; 2560 in a new file
//   13  u8       highest secondary      0 .. 30
//   14  33 x 76  descriptors            slot 0 primary, 1-30 secondary, 31 "Sys Deleted", 32 unused
// 2522  i32      record count           keys of index 0
// 2526  34       reserved               zero
//
// Index descriptor, 76 bytes (also what table creation passes in):
//    0  str30    name                   length byte and up to 30 characters; empty for the primary
//   31  u8       key length             0 in slot 0: no primary index
//   32  u8       descending
//   33  u8       case-insensitive
//   34  u8       unique                 always 1 for the primary
//   35  u8       key field count        at most 16
//   36  16 x i16 key field numbers      0 after the last
//   68  i32      root page              0 for an empty index
//   72  i32      free-chain head        pages freed by this index, chained through their next field
//
// Page, 1024 bytes at 2560 + 1024 k, owned by one index for its whole life:
//    0  u8       type                   0 root interior, 1 interior, 2 leaf, 3 root leaf
//    1  u16      entry count
//    3  i32      previous               left neighbour on the level, 0 for the leftmost
//    7  i32      next                   right neighbour; in a freed page the next free page
//   11  u16      used                   compressed size of a leaf's entries; 0 in interior pages
//   13  1011     entries                zero after the last entry
//
// Interior entry, keylen + 9 bytes, stored as held in memory:
//   key (keylen)  the child's first key;  i32 child offset;  i32 keys below the child;  u8 zero
// Leaf entry, packed:
//   u8 prefix p (bytes shared with the previous key, 0 for the first);  key bytes p .. keylen-1;
//   i32 record number (from 1)
#include "engine/index_format.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/memory_files.h"

namespace kavrin::engine {
namespace {

namespace header_at {
constexpr std::size_t ChangeCounter = 0;
constexpr std::size_t Version = 8;
constexpr std::size_t EndOfFile = 9;
constexpr std::size_t HighestSecondary = 13;
constexpr std::size_t Descriptors = 14;
constexpr std::size_t RecordCount = 2522;
}  // namespace header_at

namespace descriptor_at {
constexpr std::size_t Name = 0;
constexpr std::size_t KeyLength = 31;
constexpr std::size_t Descending = 32;
constexpr std::size_t CaseInsensitive = 33;
constexpr std::size_t Unique = 34;
constexpr std::size_t KeyFieldCount = 35;
constexpr std::size_t KeyFields = 36;
constexpr std::size_t Root = 68;
constexpr std::size_t FreeChain = 72;
}  // namespace descriptor_at

namespace page_at {
constexpr std::size_t Type = 0;
constexpr std::size_t Count = 1;
constexpr std::size_t Previous = 3;
constexpr std::size_t Next = 7;
constexpr std::size_t Used = 11;
constexpr std::size_t Entries = 13;
}  // namespace page_at

[[noreturn]] void Corrupt(std::string_view fileName) { RaiseEngineError(ec::PageBuffersCorrupt, fileName); }

bool IsLinkOrNone(std::int32_t offset, std::int32_t endOfFile) {
  return offset == 0 || IsPageOffset(offset, endOfFile);
}

}  // namespace

void EncodeIndexDescriptor(const TIndexDescriptor& d, std::span<std::uint8_t, IndexDescriptorSize> out) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, out.size());
  const std::size_t nameLength = std::min(d.Name.size(), IndexNameLength);
  p[descriptor_at::Name] = static_cast<std::uint8_t>(nameLength);
  std::memcpy(p + descriptor_at::Name + 1, d.Name.data(), nameLength);
  p[descriptor_at::KeyLength] = d.KeyLength;
  p[descriptor_at::Descending] = d.Descending;
  p[descriptor_at::CaseInsensitive] = d.CaseInsensitive;
  p[descriptor_at::Unique] = d.Unique;
  p[descriptor_at::KeyFieldCount] = d.KeyFieldCount;
  for (int i = 0; i < MaxKeyFields; ++i) StoreI16(p + descriptor_at::KeyFields + 2 * i, d.KeyFields[i]);
  StoreI32(p + descriptor_at::Root, d.Root);
  StoreI32(p + descriptor_at::FreeChain, d.FreeChain);
}

TIndexDescriptor DecodeIndexDescriptor(std::span<const std::uint8_t, IndexDescriptorSize> in) {
  const std::uint8_t* p = in.data();
  TIndexDescriptor d;
  // A length byte beyond the field (a damaged file) is cut to the field.
  const std::size_t nameLength = std::min<std::size_t>(p[descriptor_at::Name], IndexNameLength);
  d.Name.assign(reinterpret_cast<const char*>(p + descriptor_at::Name + 1), nameLength);
  d.KeyLength = p[descriptor_at::KeyLength];
  d.Descending = p[descriptor_at::Descending];
  d.CaseInsensitive = p[descriptor_at::CaseInsensitive];
  d.Unique = p[descriptor_at::Unique];
  d.KeyFieldCount = p[descriptor_at::KeyFieldCount];
  for (int i = 0; i < MaxKeyFields; ++i) d.KeyFields[i] = LoadI16(p + descriptor_at::KeyFields + 2 * i);
  d.Root = LoadI32(p + descriptor_at::Root);
  d.FreeChain = LoadI32(p + descriptor_at::FreeChain);
  return d;
}

void EncodeIndexFileHeader(const TIndexFileHeader& h, std::span<std::uint8_t, IndexHeaderSize> out) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, out.size());
  StoreI32(p + header_at::ChangeCounter, h.ChangeCounter);
  p[header_at::Version] = h.Version;
  StoreI32(p + header_at::EndOfFile, h.EndOfFile);
  p[header_at::HighestSecondary] = h.HighestSecondary;
  for (int slot = 0; slot < IndexSlotCount; ++slot) {
    EncodeIndexDescriptor(h.Descriptors[slot],
                          std::span<std::uint8_t, IndexDescriptorSize>(
                              p + header_at::Descriptors + slot * IndexDescriptorSize, IndexDescriptorSize));
  }
  StoreI32(p + header_at::RecordCount, h.RecordCount);
}

TIndexFileHeader DecodeIndexFileHeader(std::span<const std::uint8_t, IndexHeaderSize> in) {
  const std::uint8_t* p = in.data();
  TIndexFileHeader h;
  h.ChangeCounter = LoadI32(p + header_at::ChangeCounter);
  h.Version = p[header_at::Version];
  h.EndOfFile = LoadI32(p + header_at::EndOfFile);
  h.HighestSecondary = p[header_at::HighestSecondary];
  for (int slot = 0; slot < IndexSlotCount; ++slot) {
    h.Descriptors[slot] = DecodeIndexDescriptor(std::span<const std::uint8_t, IndexDescriptorSize>(
        p + header_at::Descriptors + slot * IndexDescriptorSize, IndexDescriptorSize));
  }
  h.RecordCount = LoadI32(p + header_at::RecordCount);
  return h;
}

void ValidateIndexFileHeader(const TIndexFileHeader& h, std::string_view fileName) {
  if (h.Version != IndexFileVersion) RaiseEngineError(ec::IncorrectVersion, fileName);
  const bool endValid = h.EndOfFile >= IndexHeaderSize && h.EndOfFile <= MaxIndexFileEnd &&
                        (h.EndOfFile - IndexHeaderSize) % PageSize == 0;
  if (!endValid || h.HighestSecondary > MaxSecondaryIndexes || h.RecordCount < 0) {
    RaiseEngineError(ec::HeaderError, fileName);
  }
  for (const TIndexDescriptor& d : h.Descriptors) {
    if (!IsLinkOrNone(d.Root, h.EndOfFile) || !IsLinkOrNone(d.FreeChain, h.EndOfFile) ||
        d.KeyFieldCount > MaxKeyFields) {
      RaiseEngineError(ec::HeaderError, fileName);
    }
  }
}

TPage::TPage(std::uint8_t keyLength, std::uint8_t descending)
    : capacity_(static_cast<std::uint16_t>(PageEntryArea / (keyLength + 9))),
      keyLength_(keyLength),
      descending_(descending) {}

void TPage::SetCount(std::uint16_t n) {
  if (n == count_) return;
  dirty_ = true;
  const std::size_t bytes = static_cast<std::size_t>(n) * EntrySize();
  // Room in steps of the entry area, so inserting into a page rarely reallocates.
  if (bytes > entries_.capacity()) {
    entries_.reserve((bytes / PageEntryArea + 1) * static_cast<std::size_t>(PageEntryArea));
  }
  entries_.resize(bytes, 0);
  if (n == 0) entries_.shrink_to_fit();
  count_ = n;
}

void TPage::SetPrevious(std::int32_t offset) {
  if (offset == previous_) return;
  previous_ = offset;
  dirty_ = true;
}

void TPage::SetNext(std::int32_t offset) {
  if (offset == next_) return;
  next_ = offset;
  dirty_ = true;
}

void TPage::SetType(std::uint8_t type) {
  if (type == type_) return;
  type_ = type;
  dirty_ = true;
}

void TPage::Reset() {
  current_ = 1;
  type_ = RootInteriorPage;
  used_ = 0;
  count_ = 0;
  entries_.clear();
  previous_ = 0;
  next_ = 0;
  dirty_ = false;
}

void TPage::Recycle(std::int32_t offset) {
  Reset();
  offset_ = offset;
  pins_ = 0;
  listed_ = false;
  notedIn_ = 0;
  prefixesExact_ = false;
}

std::int32_t TPage::RefAt(std::uint16_t entry) const { return LoadI32(Entry(entry) + keyLength_); }

void TPage::SetRefAt(std::uint16_t entry, std::int32_t ref) {
  StoreI32(Entry(entry) + keyLength_, ref);
  dirty_ = true;
}

std::int32_t TPage::CountAt(std::uint16_t entry) const { return IsLeaf() ? 1 : LoadI32(Entry(entry) + keyLength_ + 4); }

void TPage::SetCountAt(std::uint16_t entry, std::int32_t count) {
  if (IsLeaf()) return;
  StoreI32(Entry(entry) + keyLength_ + 4, count);
  dirty_ = true;
}

void TPage::SetKeyAt(std::uint16_t entry, const std::uint8_t* key) {
  std::memcpy(Entry(entry), key, keyLength_);
  dirty_ = true;
}

std::int64_t TPage::TotalCount() const {
  if (IsLeaf()) return count_;
  return CountBefore(static_cast<std::uint16_t>(count_ + 1));
}

void TPage::ComputeUsed() {
  if (!IsLeaf() || count_ == 0) {
    used_ = 0;
    return;
  }
  std::uint8_t* first = Entry(1);
  first[keyLength_ + 8] = 0;
  std::size_t used = static_cast<std::size_t>(keyLength_) + 5;
  for (std::uint16_t i = 2; i <= count_; ++i) {
    const std::uint8_t* previous = Entry(static_cast<std::uint16_t>(i - 1));
    std::uint8_t* entry = Entry(i);
    std::size_t prefix = 0;
    // Eight bytes at a time: this runs over every entry of a leaf on each change to it.
    while (prefix + 8 <= keyLength_) {
      std::uint64_t a = 0;
      std::uint64_t b = 0;
      std::memcpy(&a, entry + prefix, 8);
      std::memcpy(&b, previous + prefix, 8);
      if (a != b) break;
      prefix += 8;
    }
    while (prefix < keyLength_ && entry[prefix] == previous[prefix]) ++prefix;
    entry[keyLength_ + 8] = static_cast<std::uint8_t>(prefix);
    used += keyLength_ - prefix + 5;
  }
  // More than 65535 bytes can only come from a corrupt count; saturating keeps it over the limit.
  used_ = static_cast<std::uint16_t>(std::min<std::size_t>(used, std::numeric_limits<std::uint16_t>::max()));
  prefixesExact_ = true;
}

std::uint8_t TPage::CommonPrefix(std::uint16_t a, std::uint16_t b) const {
  const std::uint8_t* x = Entry(a);
  const std::uint8_t* y = Entry(b);
  std::size_t prefix = 0;
  while (prefix < keyLength_ && x[prefix] == y[prefix]) ++prefix;
  return static_cast<std::uint8_t>(prefix);
}

void TPage::ComputeUsedAfterInsert() {
  // Only the new entry's prefix and its follower's change, when every other prefix is as long as it
  // can be (as ComputeUsed leaves them; a page read from elsewhere may hold shorter ones).
  const std::uint16_t at = current_;
  if (!IsLeaf() || !prefixesExact_ || count_ < 2 || at < 1 || at > count_ || used_ > PageEntryArea) {
    ComputeUsed();
    return;
  }
  auto cost = [&](std::size_t prefix) { return static_cast<std::size_t>(keyLength_) - prefix + 5; };
  std::size_t used = used_;
  if (at < count_) {
    // The entry now after the new one was at its place before, with that place's prefix.
    used -= cost(at == 1 ? 0 : PrefixAt(static_cast<std::uint16_t>(at + 1)));
    const std::uint8_t following = CommonPrefix(at, static_cast<std::uint16_t>(at + 1));
    Entry(static_cast<std::uint16_t>(at + 1))[keyLength_ + 8] = following;
    used += cost(following);
  }
  const std::uint8_t own = at == 1 ? 0 : CommonPrefix(static_cast<std::uint16_t>(at - 1), at);
  Entry(at)[keyLength_ + 8] = own;
  used += cost(own);
  used_ = static_cast<std::uint16_t>(std::min<std::size_t>(used, std::numeric_limits<std::uint16_t>::max()));
}

void TPage::Decode(std::span<const std::uint8_t, PageSize> image, std::int32_t endOfFile, std::string_view fileName) {
  const std::uint8_t* p = image.data();
  const std::uint8_t type = p[page_at::Type];
  const std::uint16_t count = LoadU16(p + page_at::Count);
  const std::int32_t previous = LoadI32(p + page_at::Previous);
  const std::int32_t next = LoadI32(p + page_at::Next);
  const std::uint16_t used = LoadU16(p + page_at::Used);
  if (type > RootLeafPage || !IsLinkOrNone(previous, endOfFile) || !IsLinkOrNone(next, endOfFile)) {
    Corrupt(fileName);
  }
  // Checked before anything is sized by the count.
  if (type >= LeafPage ? count > used / 5 : count > capacity_) Corrupt(fileName);
  const std::uint8_t* area = p + page_at::Entries;
  const std::size_t size = EntrySize();
  const std::size_t bytes = static_cast<std::size_t>(count) * size;
  std::vector<std::uint8_t> entries;
  // An empty page (a recycled one) lends its buffer when that is barely larger than what the page
  // needs: pages read and never changed fill the cache, and each would keep the difference. A failed
  // decode leaves the page empty, as it was.
  if (count_ == 0 && entries_.capacity() >= bytes && entries_.capacity() <= bytes + bytes / 8) {
    entries.swap(entries_);
  }
  entries.assign(bytes, 0);
  bool exact = true;
  if (type >= LeafPage) {
    if (used > PageEntryArea || (count == 0) != (used == 0)) Corrupt(fileName);
    std::size_t at = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
      if (at >= used) Corrupt(fileName);
      const std::uint8_t prefix = area[at];
      if ((i == 0 && prefix != 0) || prefix > keyLength_) Corrupt(fileName);
      const std::size_t rest = keyLength_ - prefix;
      if (at + 1 + rest + 4 > used) Corrupt(fileName);
      std::uint8_t* entry = entries.data() + i * size;
      if (prefix > 0) std::memcpy(entry, entry - size, prefix);
      std::memcpy(entry + prefix, area + at + 1, rest);
      const std::int32_t record = LoadI32(area + at + 1 + rest);
      if (record < 1) Corrupt(fileName);
      StoreI32(entry + keyLength_, record);
      entry[keyLength_ + 8] = prefix;
      if (i > 0 && prefix < keyLength_ && entry[prefix] == (entry - size)[prefix]) exact = false;
      at += 1 + rest + 4;
    }
    if (at != used) Corrupt(fileName);
  } else {
    if (count > capacity_ || used != 0) Corrupt(fileName);
    if (!entries.empty()) std::memcpy(entries.data(), area, entries.size());
    std::int64_t total = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
      std::uint8_t* entry = entries.data() + i * size;
      const std::int32_t child = LoadI32(entry + keyLength_);
      const std::int32_t keys = LoadI32(entry + keyLength_ + 4);
      if (!IsPageOffset(child, endOfFile) || keys < 1) Corrupt(fileName);
      total += keys;
      entry[keyLength_ + 8] = 0;
    }
    if (total > std::numeric_limits<std::int32_t>::max()) Corrupt(fileName);
  }
  type_ = type;
  count_ = count;
  previous_ = previous;
  next_ = next;
  used_ = used;
  entries_ = std::move(entries);
  current_ = 1;
  dirty_ = false;
  prefixesExact_ = exact;
}

void TPage::Encode(std::span<std::uint8_t, PageSize> image, std::string_view fileName) const {
  std::uint8_t* p = image.data();
  std::memset(p, 0, image.size());
  std::uint8_t* area = p + page_at::Entries;
  const std::size_t size = EntrySize();
  if (IsLeaf() && count_ > 0) {
    if (used_ > PageEntryArea) Corrupt(fileName);
    std::size_t at = 0;
    for (std::uint16_t i = 1; i <= count_; ++i) {
      const std::uint8_t* entry = Entry(i);
      const std::uint8_t prefix = i == 1 ? 0 : entry[keyLength_ + 8];
      const std::size_t rest = keyLength_ - prefix;
      if (at + 1 + rest + 4 > used_) Corrupt(fileName);  // prefixes not recomputed after a change
      area[at] = prefix;
      std::memcpy(area + at + 1, entry + prefix, rest);
      std::memcpy(area + at + 1 + rest, entry + keyLength_, 4);
      at += 1 + rest + 4;
    }
  } else {
    if (!IsLeaf() && count_ > capacity_) Corrupt(fileName);
    if (static_cast<std::size_t>(count_) * size > static_cast<std::size_t>(PageEntryArea)) Corrupt(fileName);
    if (count_ > 0) std::memcpy(area, entries_.data(), static_cast<std::size_t>(count_) * size);
  }
  p[page_at::Type] = type_;
  StoreU16(p + page_at::Count, count_);
  StoreI32(p + page_at::Previous, previous_);
  StoreI32(p + page_at::Next, next_);
  StoreU16(p + page_at::Used, IsLeaf() ? used_ : 0);
}

void TPage::Read(TFileHandler& file, std::int32_t endOfFile) {
  if (offset_ == 0) return;
  std::uint8_t image[PageSize];
  file.Seek(offset_, 0);
  file.ReadBuffer(image, PageSize);
  Decode(std::span<const std::uint8_t, PageSize>(image, PageSize), endOfFile, file.FileName());
}

void TPage::Write(TFileHandler& file) {
  if (offset_ == 0) return;
  std::uint8_t image[PageSize];
  Encode(std::span<std::uint8_t, PageSize>(image, PageSize), file.FileName());
  // A memory file cannot be positioned past its end: fill the gap so pages may be written in any order.
  if (file.InMemory() && file.MemoryFile() && file.MemoryFile()->Size() < offset_) {
    file.MemoryFile()->SetSize(offset_);
  }
  if (file.Seek(offset_, 0) != offset_) return;
  file.WriteBuffer(image, PageSize);
  dirty_ = false;
}

void TPage::TakeEntries(const TPage& source, std::uint16_t from, std::uint16_t n, std::uint16_t before) {
  if (n == 0) return;
  const std::size_t size = EntrySize();
  const auto first = source.entries_.begin() + static_cast<std::ptrdiff_t>((from - 1) * size);
  std::vector<std::uint8_t> moved(first, first + static_cast<std::ptrdiff_t>(n * size));
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>((before - 1) * size), moved.begin(), moved.end());
  count_ = static_cast<std::uint16_t>(count_ + n);
  dirty_ = true;
}

void TPage::DropEntries(std::uint16_t from, std::uint16_t n) {
  if (n == 0) return;
  const std::size_t size = EntrySize();
  const auto first = entries_.begin() + static_cast<std::ptrdiff_t>((from - 1) * size);
  entries_.erase(first, first + static_cast<std::ptrdiff_t>(n * size));
  count_ = static_cast<std::uint16_t>(count_ - n);
  if (current_ > count_) current_ = count_;
  dirty_ = true;
}

void TPage::RestoreFrom(const TPage& other) {
  const int pins = pins_;
  const bool listed = listed_;
  const std::uint64_t notedIn = notedIn_;
  *this = other;
  pins_ = pins;
  listed_ = listed;
  notedIn_ = notedIn;
}

}  // namespace kavrin::engine
