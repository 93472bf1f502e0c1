// TIndexFile: the index file of one open table and the key cursor of its data file. It keeps the header
// in memory, one page cache per index, the current index, the cursor (leaf, entry and ordinal
// position), the range, BOF and EOF, the cursor's record bitmap and record callback, and the byte-range
// locks by which processes share the file. Everything runs on the caller's thread.
//
// Page caches: every operation keeps the pages it works on pinned and walks an explicit path back up
// the tree; eviction skips pinned pages and never writes in the middle of an operation. A changing
// operation that fails puts back every page and header field it touched, so a half-made change is
// never written.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/file_handler.h"
#include "engine/index_format.h"
#include "engine/record_bitmap.h"

namespace kavrin::engine {

class TIndexOwner;

// How long the index locks keep trying: 8193 attempts 10 ms apart unless a caller (a test) says less.
struct TIndexLockRetry {
  std::uint32_t PauseMilliseconds = 10;
  std::uint32_t Attempts = 8193;
};

struct TIndexStatistics {
  std::int32_t CacheHits = 0;
  std::int32_t PagesCreatedOrRead = 0;
  std::int32_t PagesRead = 0;
  std::int32_t PagesWritten = 0;
};

// The record callback filter: user data, a private copy of the record image, the record number; a
// non-zero low byte of the result accepts the record.
using TRecordCallback = std::int32_t (*)(std::uint32_t userData, std::uint8_t* image, std::int32_t recordNumber);

// Pages looked at from the cold end of a page cache for one to evict: past them the cache runs over its
// capacity until the operation has finished, so a miss costs the same whatever the capacity.
inline constexpr int PageEvictionProbes = 8;
inline constexpr std::int64_t WriterLockOffset = 0x7FFF0001;
inline constexpr std::int64_t WriterLockLength = 65535;
inline constexpr std::int64_t ReaderLockBase = 0x80000000;  // a reader locks ReaderLockBase - r, r 1 .. 65535

// A cached page pinned for as long as the reference lives.
class TPageRef {
 public:
  TPageRef() = default;
  explicit TPageRef(TPage* page) : page_(page) {
    if (page_) page_->Pin();
  }
  TPageRef(TPageRef&& other) noexcept : page_(other.page_) { other.page_ = nullptr; }
  TPageRef& operator=(TPageRef&& other) noexcept {
    if (this != &other) {
      Release();
      page_ = other.page_;
      other.page_ = nullptr;
    }
    return *this;
  }
  TPageRef(const TPageRef&) = delete;
  TPageRef& operator=(const TPageRef&) = delete;
  ~TPageRef() { Release(); }

  explicit operator bool() const { return page_ != nullptr; }
  TPage* operator->() const { return page_; }
  TPage& operator*() const { return *page_; }
  TPage* Get() const { return page_; }
  void Release() {
    if (page_) page_->Unpin();
    page_ = nullptr;
  }

 private:
  TPage* page_ = nullptr;
};

// The cached pages of one index by offset: open addressing with linear probing, as a page hit is the
// most frequent step of every tree operation. Offset 0 (never a page) marks a free slot.
template <typename TValue>
class TPageMap {
 public:
  TValue* Find(std::int32_t offset) {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = Home(offset);; i = (i + 1) & mask_) {
      if (slots_[i].Offset == offset) return &slots_[i].Value;
      if (slots_[i].Offset == 0) return nullptr;
    }
  }
  const TValue* Find(std::int32_t offset) const { return const_cast<TPageMap*>(this)->Find(offset); }
  void Insert(std::int32_t offset, TValue value) {
    if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
    std::size_t i = Home(offset);
    for (; slots_[i].Offset != 0; i = (i + 1) & mask_) {
      if (slots_[i].Offset == offset) {
        slots_[i].Value = value;
        return;
      }
    }
    slots_[i] = {offset, value};
    ++count_;
  }
  void Erase(std::int32_t offset) {
    if (slots_.empty()) return;
    std::size_t i = Home(offset);
    for (; slots_[i].Offset != offset; i = (i + 1) & mask_) {
      if (slots_[i].Offset == 0) return;
    }
    // Backward shift: the entries after the hole that may sit there move up, so no probe runs long.
    for (std::size_t j = (i + 1) & mask_; slots_[j].Offset != 0; j = (j + 1) & mask_) {
      const std::size_t home = Home(slots_[j].Offset);
      if (((j - home) & mask_) >= ((j - i) & mask_)) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = {};
    --count_;
  }
  // Keeps the table's room, as a cache dropped after a foreign change fills again.
  void Clear() {
    if (count_ != 0) std::fill(slots_.begin(), slots_.end(), TSlot{});
    count_ = 0;
  }
  std::size_t Size() const { return count_; }

 private:
  struct TSlot {
    std::int32_t Offset = 0;
    TValue Value{};
  };
  std::size_t Home(std::int32_t offset) const {
    // Offsets step by the page size: the page number spread by a multiplicative hash.
    return static_cast<std::size_t>((static_cast<std::uint64_t>(offset / PageSize) * 0x9E3779B97F4A7C15u) >> 32) &
           mask_;
  }
  void Grow() {
    std::vector<TSlot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, TSlot{});
    mask_ = slots_.size() - 1;
    count_ = 0;
    for (const TSlot& slot : old) {
      if (slot.Offset != 0) Insert(slot.Offset, slot.Value);
    }
  }
  std::vector<TSlot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

class TIndexFile : public TFileHandler {
 public:
  explicit TIndexFile(TIndexOwner& owner);
  ~TIndexFile() override;

  // Lifecycle and file.
  std::string FixFileName(std::string_view name) const override;
  void OpenFile() override;
  void CloseFile() override;
  void NewFile() override;
  // Back to a new file's state: every index empty, no key at the cursor. The caller writes the header.
  void EmptyFile();

  // Header.
  void ReadHeader();
  void WriteHeader();
  void CheckHeaderChanged();
  std::int32_t Recount();
  const TIndexFileHeader& Header() const { return header_; }
  std::int32_t RecordCount() const { return header_.RecordCount; }
  bool HeaderCurrent() const { return headerCurrent_; }
  void SetHeaderCurrent(bool current) { headerCurrent_ = current; }
  // After a failed write section: forget every cached page and take the header from the file again.
  void DiscardChanges();

  // Locks between processes.
  void WriteLock();
  void WriteUnlock();
  void ReadLock();
  void ReadUnlock();
  void SetLockRetry(TIndexLockRetry retry) { lockRetry_ = retry; }
  TIndexLockRetry LockRetry() const { return lockRetry_; }
  std::uint16_t ReaderLockNumber() const { return readerLockNumber_; }
  // No other process can reach the file: exclusive or in memory. It takes no real locks.
  bool PrivateFile() const { return Exclusive() || InMemory(); }

  // Pages of the current index.
  TPageRef GetPage(std::int32_t offset);
  TPageRef AllocatePage();
  void ReleasePage(TPage& page);
  void FlushPages();
  void ClearPageCache();
  TPageRef GetRoot();
  bool NextPage();
  bool PriorPage();
  std::size_t CachedPageCount(std::uint8_t index) const { return caches_[index].Pages.size(); }
  // Pages the caches of all indexes keep together between operations, from the table cache budget
  // taken at open: an index in use may take the room of those that are not.
  std::size_t PageCacheCapacity() const;
  std::size_t CachedPages() const;
  bool HasDirtyPages() const;
  // The end of the highest page waiting to be written (0 when none): how far a flush can grow the file.
  std::int64_t DirtyEnd() const;
  const TIndexStatistics& Statistics() const { return statistics_; }

  // Keys. Keys are spans of at least the current index's key length.
  static int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t descending, std::size_t length) {
    return CompareIndexKeys(a, b, descending, length);
  }
  static void PadKeyLow(std::uint8_t* key, std::size_t from, std::size_t length);
  static void PadKeyHigh(std::uint8_t* key, std::size_t from, std::size_t length);
  static void IncrementKey(std::uint8_t* key, std::size_t n);
  static void DecrementKey(std::uint8_t* key, std::size_t n);
  bool KeyExists(std::span<const std::uint8_t> key);
  // The record number of the key, ignoring range and filters; 0 when the index does not hold it.
  std::int32_t KeyRecordNumber(std::span<const std::uint8_t> key);
  void CheckKeyViolation(std::span<const std::uint8_t> key);
  void InsertKey(std::span<const std::uint8_t> key, std::int32_t recordNumber);
  void ReplaceKey(std::span<const std::uint8_t> oldKey, std::span<const std::uint8_t> newKey,
                  std::int32_t recordNumber);
  void DeleteKey(std::span<const std::uint8_t> key);
  void InsertKeyInTree(std::span<const std::uint8_t> key, std::int32_t recordNumber);
  // One key change in one index: a new key, or an old key replaced by a new one.
  struct TKeyChange {
    std::uint8_t Index;
    const std::uint8_t* OldKey;  // null for an insert
    const std::uint8_t* NewKey;
  };
  // The changes in order, all or nothing: a key already there or an old key missing raises the same
  // error as the single changes, with every page and header field as it was before the first change.
  void ChangeKeys(std::span<const TKeyChange> changes, std::int32_t recordNumber);
  void DeleteKeyFromTree(std::span<const std::uint8_t> key);
  // From now on notes where an insert into index puts its key; forgets what was noted before.
  void WatchInserts(std::uint8_t index) {
    inserted_.Valid = false;
    inserted_.Index = index;
  }
  void ForgetInsertedSpot() { inserted_.Valid = false; }
  // Puts the cursor on the key the last insert into the current index put, where the tree has not
  // changed since, no split moved it, and no range, filter or callback could hide it: the same spot,
  // page states and cache order a search for the key would leave. False, changing nothing a search
  // would not redo, where that cannot be shown.
  bool PlaceOnInsertedKey(std::span<const std::uint8_t> key, std::int32_t recordNumber);

  // The cursor. Without a key: position 0, BOF and EOF both set.
  std::vector<std::uint8_t> CurrentKey();  // empty when there is none
  std::int32_t CurrentRecordNumber();
  std::int32_t Position() const { return static_cast<std::int32_t>(cursor_.Position); }
  // The cursor's number within range and filters, from 1: never above RangeRecordCount.
  std::int32_t PositionInRange();
  std::int32_t RangeRecordCount() const;
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool HasKey() const { return cursor_.Page != 0; }
  // Neither end is kept by the next re-find: it rests on the key it finds (the record a change made).
  void LeaveEnds() { bof_ = eof_ = false; }

  // Ranges over the current index; the caller pads partial keys.
  void SetRangeStart(std::span<const std::uint8_t> key);
  void SetRangeEnd(std::span<const std::uint8_t> key);
  void SetRangeActive(bool active) { rangeActive_ = active; }
  bool RangeActive() const { return rangeActive_; }
  void ApplyRange();
  void ResetRange();
  std::int32_t RangeFirst() const { return rangeFirst_; }
  std::int32_t RangeLast() const { return rangeLast_; }
  std::span<const std::uint8_t> RangeStart() const { return rangeStart_; }
  std::span<const std::uint8_t> RangeEnd() const { return rangeEnd_; }

  // Navigation in the current index, over the acceptable keys.
  void FirstKey();
  void LastKey();
  void MoveBy(std::int32_t n);
  bool FindKey(std::span<const std::uint8_t> key, bool nearest, bool keepCrack);
  // n counts keys from 1 at the range's first key, within the filters when they are active.
  void GotoPosition(std::int32_t n);

  // Index selection and definition.
  std::uint8_t IndexCount() const { return header_.HighestSecondary; }
  void SelectIndex(std::uint8_t n);
  void SelectIndexByName(std::string_view name);
  std::uint8_t CurrentIndex() const { return currentIndex_; }
  const std::string& CurrentIndexName() const { return currentName_; }
  std::uint8_t KeyLength() const { return keyLength_; }
  std::uint8_t Descending() const { return descending_; }
  std::uint8_t Unique() const { return unique_; }
  std::uint8_t CaseInsensitive() const { return caseInsensitive_; }
  std::array<std::int16_t, MaxKeyFields> GetKeyFields(std::uint8_t n) const;
  TIndexDescriptor GetDescriptor(std::uint8_t n) const { return Descriptor(n); }
  const TIndexDescriptor& Descriptor(std::uint8_t n) const;
  std::uint8_t KeyFieldCount(std::uint8_t n) const;
  bool IsUnique(std::uint8_t n) const;
  void SetDescriptor(std::uint8_t n, const TIndexDescriptor& descriptor);
  void CreatePrimaryIndex(std::int32_t keyLength, std::uint8_t fieldCount, std::span<const std::int16_t> fieldNumbers,
                          bool unique, bool caseInsensitive, bool descending);
  void AddSecondaryIndex(std::string_view name, std::int32_t keyLength, std::span<const std::int16_t> fieldNumbers,
                         bool unique, bool caseInsensitive, bool descending, std::uint8_t fieldCount);

  // The cursor's record filters. The filter list that decides them (expression filters, building the
  // bitmap) drives these; navigation only reads them.
  bool FiltersActive() const { return filtersActive_; }
  // Filters active from now on, with this bitmap of the records that pass range, filters and deletion.
  void InstallFilterBitmap(TRecordBitmap bitmap);
  void FreeBitmap();
  const TRecordBitmap* CursorBitmap() const { return bitmap_ ? &*bitmap_ : nullptr; }
  std::int32_t FilteredCount() const { return filteredCount_; }
  bool BitTest(std::int32_t recordNumber) const { return !bitmap_ || bitmap_->Test(recordNumber); }
  // Installs the callback, inactive, replacing any earlier one; null removes it.
  void SetRecordCallback(TRecordCallback callback, std::uint32_t userData);
  void SetCallbackActive(bool active) { callbackActive_ = active && callback_ != nullptr; }
  bool CallbackActive() const { return callbackActive_; }
  TRecordCallback GetCallback() const { return callback_; }
  std::uint32_t GetCallbackData() const { return callbackData_; }
  bool RecordAccepted(std::int32_t recordNumber);
  // Keys of the current index from low to high inclusive: how many, and their records marked.
  std::int32_t RangeCount(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high);
  void MarkKeyRange(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high, TRecordBitmap& bitmap);

 private:
  struct TPageCache {
    std::list<std::unique_ptr<TPage>> Pages;  // most recently used first
    TPageMap<std::list<std::unique_ptr<TPage>>::iterator> ByOffset;
    // Pages evicted lately, for the next misses to read into.
    std::list<std::unique_ptr<TPage>> Spare;
  };
  // A place in the leaves: page offset (0 for none), entry, ordinal of its key.
  struct TSpot {
    std::int32_t Page = 0;
    std::uint16_t Entry = 0;
    std::int64_t Position = 0;
  };
  struct TPathStep {
    TPageRef Page;
    std::uint16_t Entry = 0;
  };
  using TTreePath = std::vector<TPathStep>;
  enum class TDescent { Exact, Insert, Delete, Counting, SeekLow, SeekHigh, First, Last };
  // What a changing operation touched, to put back when it fails.
  struct TChangeLog {
    TIndexFileHeader Header;
    std::uint64_t Serial = 0;  // what the pages it holds carry as NotedIn
    struct TPageCopy {
      std::uint8_t Index = 0;
      std::int32_t Offset = 0;
      bool Copied = false;  // false: made by the operation, or clean when it was noted
      TPage Copy{0, 0};
    };
    // Pages[0, Used): entries past Used keep their buffers for the next operations.
    std::vector<TPageCopy> Pages;
    std::size_t Used = 0;
  };
  class TOperation;
  friend class TOperation;

  TPageCache& Cache() { return caches_[currentIndex_]; }
  void LoadIndex(std::uint8_t n);
  void ResetCursorState();
  void ReadHeaderFromFile();
  void MakeRoom(TPageCache& cache);
  // Takes the page out of the cache, kept as a spare when there is room; the page after it.
  std::list<std::unique_ptr<TPage>>::iterator Evict(TPageCache& cache,
                                                    std::list<std::unique_ptr<TPage>>::iterator page);
  // A new page for offset, a spare when one fits, kept out of the cache until AdmitSpare takes it in.
  TPage& SparePage(TPageCache& cache, std::int32_t offset);
  TPage& AdmitSpare(TPageCache& cache);
  // Path vectors kept between tree operations.
  TTreePath TakePath();
  void GivePath(TTreePath& path);
  void TrimCaches();
  void WritePage(TPage& page);
  // Writes pages that follow each other in the file with one write.
  void WriteRun(std::span<TPage* const> run);
  // Pages that follow each other in the file: one alone as WritePage writes it, more as one run.
  void WritePages(std::span<TPage* const> run);
  // An evicted dirty page goes out with the dirty pages cached next to it in the file, in one write.
  void WriteWithNeighbours(TPage& page);
  TPage* CachedDirtyPageAt(std::int32_t offset) const;
  static constexpr std::size_t kPagesPerWrite = 32;
  std::vector<TPage*> evictionRun_;
  void Note(TPage& page, bool made);
  void NoteMaybeDirty(std::uint8_t index, TPage& page);
  void ForgetCleanPages();
  void UnlistAll();
  // The cached page of an entry of the dirty list; null once it has left the cache.
  TPage* ListedPage(std::uint8_t index, std::int32_t offset) const;
  // Keeps a bounded number of a finished operation's page copies for the next operation's.
  void RecycleLog(TChangeLog& log);
  // The dirty cached pages, by offset.
  std::vector<TPage*> DirtyPages();
  bool AnyPageDirty() const;               // by looking at every cached page
  std::int64_t ScannedDirtyEnd() const;    // DirtyEnd by looking at every cached page
  std::size_t ScannedCachedPages() const;  // CachedPages by adding up every cache
  void Undo(TChangeLog& log);
  void AcquireWithRetry(const std::function<bool()>& attempt);
  void RequireKey(std::span<const std::uint8_t> key) const;
  void RequireExclusive() const;
  [[noreturn]] void Corrupt() const;
  std::int64_t PageCountLimit() const { return (header_.EndOfFile - IndexHeaderSize) / PageSize + 1; }

  // Tree operations (btree.cpp).
  TPageRef DescendTo(const std::uint8_t* key, TDescent how, std::int64_t* position, bool nearest, bool* exact,
                     TTreePath* path);
  TPageRef FetchChild(const TPage& parent, std::uint16_t entry, std::size_t depth);
  void InsertAfterCurrent(TTreePath& path, std::size_t level, const std::uint8_t* key, std::int32_t ref,
                          std::int32_t count);
  void PropagateFirstKey(TTreePath& path, std::size_t level);
  void Split(TPage& page, TPage& right);
  void Rebalance(TTreePath& path, std::size_t level);
  void Unlink(TPage& page);
  TPageRef SiblingFor(TTreePath& path, std::size_t level, bool right);
  std::int32_t Total(const TPage& page) const;

  // Cursor helpers (index_cursor.cpp).
  TPageRef SpotPage(const TSpot& spot);
  std::vector<std::uint8_t> SpotKey(const TSpot& spot);
  std::int32_t SpotRecord(const TSpot& spot);
  int CompareSpot(const TSpot& spot, const std::uint8_t* key);
  void MoveByInside(std::int32_t n);
  bool FindKeyInside(const std::uint8_t* key, bool nearest, bool keepCrack);
  bool StepForward(TSpot& spot);
  bool StepBackward(TSpot& spot);
  bool CursorForward();
  bool CursorBackward();
  bool Acceptable(const TSpot& spot);
  bool AboveRangeEnd(const TSpot& spot);
  bool BelowRangeStart(const TSpot& spot);
  bool RangeOnlyBounds() const { return rangeActive_ && !filtersActive_; }
  bool SettleForward();
  bool SettleBackward();
  void ClearCursor();
  void PlaceCursor(const TPage& leaf, std::int64_t position);
  std::int64_t TotalKeys();
  std::int64_t FirstOrdinalNotBelow(const std::uint8_t* low);
  std::int64_t LastOrdinalNotAbove(const std::uint8_t* high);
  void DescendToOrdinal(std::int64_t target);
  void GotoFilteredPosition(std::int32_t n);
  std::int32_t CountFilteredPosition();
  void FirstKeyInside();
  void LastKeyInside();

  TIndexOwner& owner_;
  std::size_t cacheBudget_;
  TIndexFileHeader header_;
  bool headerCurrent_ = false;
  std::uint16_t readerLockNumber_ = 0;
  TIndexLockRetry lockRetry_;
  std::array<TPageCache, IndexSlotCount> caches_;
  std::size_t cachedPages_ = 0;  // in all caches, spares aside
  // Index and offset of every page a change has touched since the last flush (and perhaps of some
  // written or gone since): every dirty cached page is among them.
  std::vector<std::pair<std::uint8_t, std::int32_t>> dirtyPages_;
  std::size_t dirtyPagesLimit_ = 256;
  TChangeLog changeLogStore_;  // the one log, reused by every outermost changing operation
  TTreePath sparePath_;
  std::vector<std::uint8_t> runImage_;
  int operationDepth_ = 0;
  TChangeLog* changeLog_ = nullptr;
  std::uint64_t changeLogs_ = 0;
  std::int64_t leafSteps_ = 0;

  // Where the last insert put its key: the pages from the root down with the entry taken in each.
  struct TInsertedSpot {
    bool Valid = false;
    std::uint8_t Index = 0;
    std::int64_t Position = 0;
    std::size_t Depth = 0;
    std::array<std::int32_t, 32> Pages{};
    std::array<std::uint16_t, 32> Entries{};
  };
  TInsertedSpot inserted_;

  TSpot cursor_;  // its Position is the cursor's ordinal over all keys of the index
  // Keys with their bit set up to and including the cursor's; -1 until counted.
  std::int32_t filteredPosition_ = -1;
  std::string currentName_;
  std::uint8_t currentIndex_ = 0;
  std::uint8_t keyLength_ = 0;
  std::uint8_t descending_ = 0;
  std::uint8_t unique_ = 0;
  std::uint8_t caseInsensitive_ = 0;
  bool eof_ = true;
  bool bof_ = true;
  std::int32_t rangeFirst_ = 0;
  std::int32_t rangeLast_ = 0;
  std::vector<std::uint8_t> rangeStart_;
  std::vector<std::uint8_t> rangeEnd_;
  bool rangeActive_ = false;
  TIndexStatistics statistics_;

  bool filtersActive_ = false;
  std::optional<TRecordBitmap> bitmap_;
  std::int32_t filteredCount_ = 0;
  TRecordCallback callback_ = nullptr;
  bool callbackActive_ = false;
  std::uint32_t callbackData_ = 0;
  std::vector<std::uint8_t> recordCopy_;
};

// One public operation on the file: pages are not written while it runs, the caches are trimmed to
// their capacity when it has finished, and a changing operation that does not finish is undone.
class TIndexFile::TOperation {
 public:
  TOperation(TIndexFile& file, bool changes) : file_(file), outermost_(file.operationDepth_ == 0) {
    ++file_.operationDepth_;
    if (outermost_) file_.leafSteps_ = 0;
    if (changes && !file_.changeLog_) {
      log_ = &file_.changeLogStore_;
      log_->Header = file_.header_;
      log_->Serial = ++file_.changeLogs_;
      log_->Used = 0;
      file_.changeLog_ = log_;
    }
  }
  TOperation(const TOperation&) = delete;
  TOperation& operator=(const TOperation&) = delete;
  ~TOperation() {
    if (finished_) return;
    End();
    if (log_) {
      file_.Undo(*log_);
      file_.RecycleLog(*log_);
    }
  }
  void Finish() {
    finished_ = true;
    End();
    if (log_) file_.RecycleLog(*log_);
    if (outermost_) file_.TrimCaches();
  }

 private:
  void End() {
    --file_.operationDepth_;
    if (log_) file_.changeLog_ = nullptr;
  }
  TIndexFile& file_;
  bool outermost_;
  bool finished_ = false;
  TChangeLog* log_ = nullptr;
};

// The reader's lock for one operation; released on every way out.
class TIndexReadSection {
 public:
  explicit TIndexReadSection(TIndexFile& file) : file_(file) { file_.ReadLock(); }
  ~TIndexReadSection();
  TIndexReadSection(const TIndexReadSection&) = delete;
  TIndexReadSection& operator=(const TIndexReadSection&) = delete;

 private:
  TIndexFile& file_;
};

// The writer's lock for one change. When the change fails on a shared file, the section's pages and
// header are dropped before the lock goes, so nothing half-changed is ever written.
class TIndexWriteSection {
 public:
  explicit TIndexWriteSection(TIndexFile& file);
  ~TIndexWriteSection();
  TIndexWriteSection(const TIndexWriteSection&) = delete;
  TIndexWriteSection& operator=(const TIndexWriteSection&) = delete;

 private:
  TIndexFile& file_;
  int exceptions_;
};

}  // namespace kavrin::engine
