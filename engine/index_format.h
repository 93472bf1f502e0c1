// The index file (".IDX"): its header with the index descriptors, and TPage, one 1024-byte B-tree page
// held in memory with its codec. The byte layouts are written down in index_format.cpp; the tree
// operations on pages are in btree.cpp.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::engine {

class TFileHandler;
class TRecordBitmap;

inline constexpr std::int32_t IndexHeaderSize = 2560;
inline constexpr std::int32_t IndexDescriptorSize = 76;
inline constexpr std::int32_t PageSize = 1024;
inline constexpr std::int32_t PageHeaderSize = 13;
inline constexpr std::int32_t PageEntryArea = 1011;  // also the size of key buffers
inline constexpr std::uint8_t IndexFileVersion = 2;
inline constexpr int IndexSlotCount = 33;
inline constexpr std::uint8_t MaxSecondaryIndexes = 30;
inline constexpr std::uint8_t DeletedIndexSlot = 31;  // "Sys Deleted", the record states
inline constexpr std::uint8_t DeletedKeyLength = 5;
inline constexpr const char* DeletedIndexName = "Sys Deleted";
inline constexpr int MaxKeyFields = 16;
inline constexpr std::size_t IndexNameLength = 30;
inline constexpr std::int32_t MaxKeyLength = 255;  // the descriptor holds it in one byte

// Pages end below the writer's lock range, which is also as far as their 32-bit links can reach safely.
inline constexpr std::int64_t IndexLockRangeStart = 0x7FFF0001;
inline constexpr std::int32_t MaxIndexFileEnd =
    static_cast<std::int32_t>(IndexHeaderSize + (IndexLockRangeStart - IndexHeaderSize) / PageSize * PageSize);

// Page types: a type of 2 or more is a leaf; 0 and 3 mark the root.
inline constexpr std::uint8_t RootInteriorPage = 0;
inline constexpr std::uint8_t InteriorPage = 1;
inline constexpr std::uint8_t LeafPage = 2;
inline constexpr std::uint8_t RootLeafPage = 3;

struct TIndexDescriptor {
  std::string Name;  // at most 30 characters; empty for the primary index
  std::uint8_t KeyLength = 0;
  std::uint8_t Descending = 0;
  std::uint8_t CaseInsensitive = 0;
  std::uint8_t Unique = 0;
  std::uint8_t KeyFieldCount = 0;
  std::array<std::int16_t, MaxKeyFields> KeyFields{};
  std::int32_t Root = 0;
  std::int32_t FreeChain = 0;
};

struct TIndexFileHeader {
  std::int32_t ChangeCounter = 0;
  std::uint8_t Version = IndexFileVersion;
  std::int32_t EndOfFile = IndexHeaderSize;
  std::uint8_t HighestSecondary = 0;
  std::array<TIndexDescriptor, IndexSlotCount> Descriptors{};
  std::int32_t RecordCount = 0;
};

void EncodeIndexDescriptor(const TIndexDescriptor& descriptor, std::span<std::uint8_t, IndexDescriptorSize> out);
TIndexDescriptor DecodeIndexDescriptor(std::span<const std::uint8_t, IndexDescriptorSize> in);
void EncodeIndexFileHeader(const TIndexFileHeader& header, std::span<std::uint8_t, IndexHeaderSize> out);
TIndexFileHeader DecodeIndexFileHeader(std::span<const std::uint8_t, IndexHeaderSize> in);

// A version other than 2 raises 12035; an end-of-file, index count, root or free-chain head that no
// page could have raises 9221. fileName goes into the error context.
void ValidateIndexFileHeader(const TIndexFileHeader& header, std::string_view fileName);

// Whether offset can hold a page of a file whose next page would be appended at endOfFile.
inline bool IsPageOffset(std::int64_t offset, std::int64_t endOfFile) {
  return offset >= IndexHeaderSize && offset < endOfFile && (offset - IndexHeaderSize) % PageSize == 0;
}

// Unsigned bytes over length, the sign reversed when descending is 1; 0 for length 0. Inline and by
// words: searches compare short keys, where a call to memcmp costs more than the bytes.
inline int CompareIndexKeys(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t descending, std::size_t length) {
  int sign = 0;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
      }
      sign = x < y ? -1 : 1;
      return descending == 1 ? -sign : sign;
    }
  }
  for (; i < length; ++i) {
    if (a[i] != b[i]) {
      sign = a[i] < b[i] ? -1 : 1;
      break;
    }
  }
  return descending == 1 ? -sign : sign;
}

// One page as a page cache holds it. Entries are 1-based and kept uncompressed, keyLength + 9 bytes
// each: key, i32 reference (record number in a leaf, child offset in an interior page), i32 subtree
// count (interior pages), u8 prefix length (leaves).
class TPage {
 public:
  TPage(std::uint8_t keyLength, std::uint8_t descending);

  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) { dirty_ = dirty; }
  std::int32_t Offset() const { return offset_; }
  void SetOffset(std::int32_t offset) { offset_ = offset; }
  std::uint16_t Used() const { return used_; }
  std::uint16_t Capacity() const { return capacity_; }
  std::uint16_t Count() const { return count_; }
  std::uint16_t Current() const { return current_; }
  void SetCurrent(std::uint16_t current) { current_ = current; }
  std::uint8_t KeyLength() const { return keyLength_; }
  std::uint8_t Descending() const { return descending_; }
  std::int32_t PreviousOffset() const { return previous_; }
  std::int32_t NextOffset() const { return next_; }
  std::uint8_t Type() const { return type_; }
  bool IsLeaf() const { return type_ >= LeafPage; }
  bool IsRoot() const { return type_ == RootInteriorPage || type_ == RootLeafPage; }
  std::size_t EntrySize() const { return static_cast<std::size_t>(keyLength_) + 9; }
  // A leaf that would not fit its 1011 bytes, or an interior page with more entries than it can hold.
  bool Overfull() const { return IsLeaf() ? used_ > PageEntryArea : count_ > capacity_; }

  // Keeps the leading entries and zeroes the ones added; marks the page dirty when n differs.
  void SetCount(std::uint16_t n);
  void SetPrevious(std::int32_t offset);
  void SetNext(std::int32_t offset);
  void SetType(std::uint8_t type);
  // Empty and clean, for a new owner to fill.
  void Reset();
  // Back to a new page's state, at offset.
  void Recycle(std::int32_t offset);

  // Nothing for offset 0. Read validates what it takes from the file (8965 naming the file) and leaves
  // the page clean on entry 1. Write leaves a page dirty when the file cannot be positioned at it.
  void Read(TFileHandler& file, std::int32_t endOfFile);
  void Write(TFileHandler& file);
  void Decode(std::span<const std::uint8_t, PageSize> image, std::int32_t endOfFile, std::string_view fileName);
  void Encode(std::span<std::uint8_t, PageSize> image, std::string_view fileName) const;
  void ComputeUsed();
  // ComputeUsed after InsertEntry, recomputing only the prefixes the new entry changed.
  void ComputeUsedAfterInsert();

  const std::uint8_t* KeyAt(std::uint16_t entry) const { return Entry(entry); }
  std::int32_t RefAt(std::uint16_t entry) const;
  void SetRefAt(std::uint16_t entry, std::int32_t ref);
  // A leaf entry counts as one key.
  std::int32_t CountAt(std::uint16_t entry) const;
  void SetCountAt(std::uint16_t entry, std::int32_t count);
  std::uint8_t PrefixAt(std::uint16_t entry) const { return Entry(entry)[keyLength_ + 8]; }
  void SetKeyAt(std::uint16_t entry, const std::uint8_t* key);

  const std::uint8_t* CurrentKey() const { return KeyAt(current_); }
  std::int32_t CurrentRef() const { return RefAt(current_); }
  void SetCurrentRef(std::int32_t ref) { SetRefAt(current_, ref); }
  std::int32_t CurrentCount() const { return CountAt(current_); }
  void SetCurrentCount(std::int32_t count) { SetCountAt(current_, count); }
  std::int64_t TotalCount() const;
  void First() { current_ = 1; }
  void Last() { current_ = count_; }
  void Next() { ++current_; }
  void Prior() { --current_; }

  // Page operations of the tree (btree.cpp). key points at KeyLength() bytes.
  void InsertEntry(const std::uint8_t* key);
  void RemoveEntry();
  void SetCurrentKey(const std::uint8_t* key) { SetKeyAt(current_, key); }
  bool SearchExact(const std::uint8_t* key);
  void SearchInsert(const std::uint8_t* key);
  void SearchDelete(const std::uint8_t* key);
  bool SearchCounting(const std::uint8_t* key, std::int64_t& position, bool nearest);
  void SeekLowCounting(const std::uint8_t* key, std::int64_t& position);
  void SeekHighCounting(const std::uint8_t* key, std::int64_t& position);
  void CountToLast(std::int64_t& position);
  // Keys under the entries before entry.
  std::int64_t CountBefore(std::uint16_t entry) const;
  // From the current entry on; false at the first key above high, true at the page's end.
  bool MarkRunToHigh(const std::uint8_t* high, TRecordBitmap& bitmap);

  // Moves entries [from, from + n) of source to stand before entry `before` of this page.
  void TakeEntries(const TPage& source, std::uint16_t from, std::uint16_t n, std::uint16_t before);
  void DropEntries(std::uint16_t from, std::uint16_t n);
  // The content of other without its cache bookkeeping: how a failed change is undone.
  void RestoreFrom(const TPage& other);

  // Cache bookkeeping: a pinned page is in use by an operation and never evicted; a listed page is
  // on its file's list of pages that may be dirty.
  bool Listed() const { return listed_; }
  void SetListed(bool listed) { listed_ = listed; }
  int Pins() const { return pins_; }
  void Pin() { ++pins_; }
  void Unpin() { --pins_; }
  // The changing operation that last put the page in its log, 0 for none.
  std::uint64_t NotedIn() const { return notedIn_; }
  void SetNotedIn(std::uint64_t operation) { notedIn_ = operation; }

 private:
  std::uint8_t* Entry(std::uint16_t entry) { return entries_.data() + (entry - 1) * EntrySize(); }
  const std::uint8_t* Entry(std::uint16_t entry) const { return entries_.data() + (entry - 1) * EntrySize(); }
  int Compare(const std::uint8_t* a, const std::uint8_t* b) const {
    return CompareIndexKeys(a, b, descending_, keyLength_);
  }
  // The first entry whose key is greater than key (orEqual: not less), count + 1 when there is none.
  std::uint16_t UpperBound(const std::uint8_t* key) const;
  std::uint16_t LowerBound(const std::uint8_t* key) const;
  std::uint8_t CommonPrefix(std::uint16_t a, std::uint16_t b) const;

  bool dirty_ = false;
  std::int32_t offset_ = 0;
  std::uint16_t used_ = 0;
  std::uint16_t capacity_ = 0;
  std::uint16_t count_ = 0;
  std::uint16_t current_ = 1;
  std::uint8_t keyLength_ = 0;
  std::uint8_t descending_ = 0;
  std::vector<std::uint8_t> entries_;
  std::int32_t previous_ = 0;
  std::int32_t next_ = 0;
  std::uint8_t type_ = RootInteriorPage;
  int pins_ = 0;
  bool listed_ = false;
  std::uint64_t notedIn_ = 0;
  // Every leaf prefix is as long as the keys allow, as ComputeUsed makes them.
  bool prefixesExact_ = false;
};

}  // namespace kavrin::engine
