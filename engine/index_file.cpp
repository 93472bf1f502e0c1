#include "engine/index_file.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <exception>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/cache_budget.h"
#include "engine/data_file_format.h"
#include "engine/engine_error.h"
#include "engine/index_owner.h"
#include "engine/memory_files.h"
#include "engine/primitives.h"
#include "platform/ticks.h"
#include "runtime/code_pages.h"

namespace kavrin::engine {
namespace {

std::string UpperName(std::string_view name) {
  std::string upper(name);
  runtime::AnsiUpperBytes(reinterpret_cast<std::uint8_t*>(upper.data()), upper.size());
  return upper;
}

}  // namespace

TIndexFile::TIndexFile(TIndexOwner& owner)
    : owner_(owner), cacheBudget_(TableCacheBudget()), rangeStart_(PageEntryArea, 0), rangeEnd_(PageEntryArea, 0xFF) {}

TIndexFile::~TIndexFile() {
  if (Opened()) {
    try {
      TIndexFile::CloseFile();
    } catch (...) {
      // A destructor must not throw; closing releases the descriptor whatever happens.
    }
  }
}

void TIndexFile::Corrupt() const { RaiseEngineError(ec::PageBuffersCorrupt, FileName()); }

void TIndexFile::RequireKey(std::span<const std::uint8_t> key) const {
  if (key.size() < keyLength_) RaiseEngineError(ec::InvalidKeySize, currentName_);
}

void TIndexFile::RequireExclusive() const {
  if (!Exclusive()) RaiseEngineError(ec::MustBeExclusive, FileName());
}

// ---- Lifecycle ----

std::string TIndexFile::FixFileName(std::string_view name) const { return StripExtension(TrimBlanks(name)) + ".IDX"; }

void TIndexFile::ResetCursorState() {
  cursor_ = {};
  filteredPosition_ = -1;
  bof_ = eof_ = true;
  rangeFirst_ = rangeLast_ = 0;
  std::fill(rangeStart_.begin(), rangeStart_.end(), 0x00);
  std::fill(rangeEnd_.begin(), rangeEnd_.end(), 0xFF);
  rangeActive_ = false;
  filtersActive_ = false;
  bitmap_.reset();
  filteredCount_ = 0;
  callback_ = nullptr;
  callbackActive_ = false;
  callbackData_ = 0;
  statistics_ = {};
}

void TIndexFile::OpenFile() {
  if (Opened()) return;
  cacheBudget_ = TableCacheBudget();
  TFileHandler::OpenFile();
  MapForReading();
  try {
    headerCurrent_ = false;
    {
      TIndexReadSection section(*this);
      ReadHeader();
      // Only an exclusive or read-only file can trust its header for good; memory files are shared by
      // every handle of the process.
      headerCurrent_ = Exclusive() || ReadOnlyOnDisk();
      ResetCursorState();
      LoadIndex(0);
      rangeFirst_ = 1;
      rangeLast_ = header_.RecordCount;
      cursor_.Position = 1;
      bof_ = eof_ = false;
      if (!owner_.Repairing()) FirstKey();
    }
  } catch (...) {
    TIndexFile::CloseFile();
    throw;
  }
}

void TIndexFile::CloseFile() {
  for (TPageCache& cache : caches_) {
    cache.Pages.clear();
    cache.ByOffset.Clear();
    cache.Spare.clear();
  }
  cachedPages_ = 0;
  ResetCursorState();
  headerCurrent_ = false;
  TFileHandler::CloseFile();
}

void TIndexFile::NewFile() {
  TFileHandler::NewFile();
  try {
    header_ = TIndexFileHeader{};
    header_.Descriptors[DeletedIndexSlot].Name = DeletedIndexName;
    header_.Descriptors[DeletedIndexSlot].KeyLength = DeletedKeyLength;
    headerCurrent_ = true;
    ResetCursorState();
    LoadIndex(0);
    Recount();
    WriteHeader();
  } catch (...) {
    TIndexFile::CloseFile();
    throw;
  }
}

void TIndexFile::EmptyFile() {
  ClearPageCache();
  Seek(IndexHeaderSize, 0);
  WriteBuffer(nullptr, 0);
  header_.Version = IndexFileVersion;
  header_.EndOfFile = IndexHeaderSize;
  header_.RecordCount = 0;
  for (int slot = 0; slot <= header_.HighestSecondary; ++slot) {
    header_.Descriptors[slot].Root = 0;
    header_.Descriptors[slot].FreeChain = 0;
  }
  TIndexDescriptor& deleted = header_.Descriptors[DeletedIndexSlot];
  deleted.Root = 0;
  deleted.FreeChain = 0;
  deleted.Name = DeletedIndexName;
  deleted.KeyLength = DeletedKeyLength;
  LoadIndex(currentIndex_);
  rangeFirst_ = rangeLast_ = 0;
  cursor_ = {};
  filteredPosition_ = -1;
  filteredCount_ = 0;
  bof_ = eof_ = true;
}

// ---- Header ----

void TIndexFile::ReadHeaderFromFile() {
  std::uint8_t image[IndexHeaderSize];
  Seek(0, 0);
  ReadBuffer(image, IndexHeaderSize);
  TIndexFileHeader header =
      DecodeIndexFileHeader(std::span<const std::uint8_t, IndexHeaderSize>(image, IndexHeaderSize));
  ValidateIndexFileHeader(header, FileName());
  header_ = std::move(header);
}

void TIndexFile::ReadHeader() {
  if (headerCurrent_) return;
  ReadHeaderFromFile();
}

void TIndexFile::WriteHeader() {
  header_.ChangeCounter = static_cast<std::int32_t>(static_cast<std::uint32_t>(header_.ChangeCounter) + 1u);
  std::uint8_t image[IndexHeaderSize];
  EncodeIndexFileHeader(header_, std::span<std::uint8_t, IndexHeaderSize>(image, IndexHeaderSize));
  Seek(0, 0);
  WriteBuffer(image, IndexHeaderSize);
}

void TIndexFile::CheckHeaderChanged() {
  if (headerCurrent_) return;
  std::uint8_t counter[4];
  Seek(0, 0);
  ReadBuffer(counter, 4);
  if (LoadI32(counter) == header_.ChangeCounter) return;
  ReadHeader();
  ClearPageCache();
  LoadIndex(currentIndex_);
  owner_.SyncIndexPosition();
}

void TIndexFile::DiscardChanges() {
  ClearPageCache();
  ReadHeaderFromFile();
  LoadIndex(currentIndex_);
}

std::int32_t TIndexFile::Recount() {
  SelectIndex(0);
  header_.RecordCount = static_cast<std::int32_t>(TotalKeys());
  return header_.RecordCount;
}

// ---- Locks ----

void TIndexFile::AcquireWithRetry(const std::function<bool()>& attempt) {
  const std::uint32_t attempts = std::max<std::uint32_t>(lockRetry_.Attempts, 1);
  for (std::uint32_t tried = 1;; ++tried) {
    if (attempt()) return;
    if (tried >= attempts) RaiseEngineError(ec::GeneralLockFailure, FileName());
    // Index waits sleep without letting the user interface run: the table is mid-operation.
    platform::Sleep(lockRetry_.PauseMilliseconds);
  }
}

void TIndexFile::WriteLock() {
  AcquireWithRetry([this] { return LockRange(WriterLockOffset, WriterLockLength, true); });
}

void TIndexFile::WriteUnlock() {
  const bool unlocked = LockRange(WriterLockOffset, WriterLockLength, false);
  if (!Exclusive() && !ReadOnlyOnDisk()) headerCurrent_ = false;
  if (!unlocked) RaiseEngineError(ec::CannotUnlock, FileName());
  TrimCaches();
}

void TIndexFile::ReadLock() {
  AcquireWithRetry([this] {
    // A fresh byte for every try, always inside the writer's range.
    const auto r = static_cast<std::uint16_t>(EngineRandom(65535) + 1);
    if (!LockRange(ReaderLockBase - r, 1, true)) return false;
    readerLockNumber_ = r;
    return true;
  });
}

void TIndexFile::ReadUnlock() {
  const bool unlocked = LockRange(ReaderLockBase - readerLockNumber_, 1, false);
  if (!Exclusive() && !ReadOnlyOnDisk()) headerCurrent_ = false;
  if (!unlocked) RaiseEngineError(ec::CannotUnlock, FileName());
}

TIndexReadSection::~TIndexReadSection() {
  try {
    file_.ReadUnlock();
  } catch (...) {
    // The error context holds 10242; a destructor cannot raise it.
  }
}

TIndexWriteSection::TIndexWriteSection(TIndexFile& file) : file_(file), exceptions_(std::uncaught_exceptions()) {
  file_.WriteLock();
}

TIndexWriteSection::~TIndexWriteSection() {
  try {
    // On a shared file the section's changes exist only in the cache: drop them with the header that
    // describes them. A private file's failed operation has already been undone by itself.
    if (std::uncaught_exceptions() > exceptions_ && !file_.PrivateFile()) file_.DiscardChanges();
  } catch (...) {
  }
  try {
    file_.WriteUnlock();
  } catch (...) {
  }
}

// ---- Page caches ----

void TIndexFile::Note(TPage& page, bool made) {
  if (!changeLog_ || page.NotedIn() == changeLog_->Serial) return;
  // A clean page holds what the file holds: Undo drops it from the cache and the next use reads it
  // again, so only pages dirty before the operation need a copy. A page evicted clean and read
  // again is noted twice, both times clean.
  TChangeLog& log = *changeLog_;
  if (log.Used == log.Pages.size()) log.Pages.emplace_back();
  TChangeLog::TPageCopy& entry = log.Pages[log.Used];
  entry.Index = currentIndex_;
  entry.Offset = page.Offset();
  entry.Copied = !made && page.Dirty();
  // A copy left by an earlier operation takes the page's bytes into the buffer it has. The entry
  // counts only once its copy is made, so a copy that fails leaves no stale page for Undo.
  if (entry.Copied) entry.Copy = page;
  ++log.Used;
  page.SetNotedIn(changeLog_->Serial);
  NoteMaybeDirty(currentIndex_, page);
}

void TIndexFile::NoteMaybeDirty(std::uint8_t index, TPage& page) {
  if (page.Listed()) return;
  page.SetListed(true);
  dirtyPages_.emplace_back(index, page.Offset());
}

void TIndexFile::RecycleLog(TChangeLog& log) {
  constexpr std::size_t kSpares = 64;
  if (log.Pages.size() > kSpares) log.Pages.resize(kSpares);
  log.Used = 0;
}

void TIndexFile::ForgetCleanPages() {
  // Only between operations: a page an operation has taken may turn dirty until it ends, and the
  // next operation that takes it notes it again.
  if (dirtyPages_.size() < dirtyPagesLimit_) return;
  std::erase_if(dirtyPages_, [&](const std::pair<std::uint8_t, std::int32_t>& entry) {
    TPage* page = ListedPage(entry.first, entry.second);
    if (!page) return true;
    if (page->Dirty()) return false;
    page->SetListed(false);
    return true;
  });
  // Many pages may stay dirty: the next look waits until the list has doubled.
  dirtyPagesLimit_ = std::max<std::size_t>(2 * dirtyPages_.size(), 256);
}

TPage* TIndexFile::ListedPage(std::uint8_t index, std::int32_t offset) const {
  const auto* found = caches_[index].ByOffset.Find(offset);
  return found ? (*found)->get() : nullptr;
}

void TIndexFile::UnlistAll() {
  for (const auto& [index, offset] : dirtyPages_) {
    if (TPage* page = ListedPage(index, offset)) page->SetListed(false);
  }
  dirtyPages_.clear();
}

std::vector<TPage*> TIndexFile::DirtyPages() {
  // By offset, so an in-memory file, which cannot be positioned past its end, is written in order.
  std::sort(dirtyPages_.begin(), dirtyPages_.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second < b.second : a.first < b.first;
  });
  dirtyPages_.erase(std::unique(dirtyPages_.begin(), dirtyPages_.end()), dirtyPages_.end());
  std::vector<TPage*> dirty;
  for (const auto& [index, offset] : dirtyPages_) {
    TPage* page = ListedPage(index, offset);
    if (page && page->Dirty()) dirty.push_back(page);
  }
  return dirty;
}

void TIndexFile::Undo(TChangeLog& log) {
  header_ = log.Header;
  for (std::size_t n = log.Used; n-- > 0;) {
    const TChangeLog::TPageCopy* it = &log.Pages[n];
    TPageCache& cache = caches_[it->Index];
    const auto* found = cache.ByOffset.Find(it->Offset);
    if (!it->Copied) {
      if (found) {
        assert((**found)->Pins() == 0);
        cache.Pages.erase(*found);
        cache.ByOffset.Erase(it->Offset);
        --cachedPages_;
      }
    } else if (found) {
      (**found)->RestoreFrom(it->Copy);
    } else if (it->Copy.Dirty()) {
      cache.Pages.push_back(std::make_unique<TPage>(it->Copy));
      cache.ByOffset.Insert(it->Offset, std::prev(cache.Pages.end()));
      ++cachedPages_;
      cache.Pages.back()->SetListed(false);
      NoteMaybeDirty(it->Index, *cache.Pages.back());
    }
  }
}

std::size_t TIndexFile::PageCacheCapacity() const {
  // The primary index, the secondaries and the record-state index share the pages.
  const std::size_t indexes = static_cast<std::size_t>(header_.HighestSecondary) + 2;
  return PageCacheCapacityFor(cacheBudget_, indexes, BlockCacheBytes) * indexes;
}

std::size_t TIndexFile::CachedPages() const {
  assert(cachedPages_ == ScannedCachedPages());
  return cachedPages_;
}

std::size_t TIndexFile::ScannedCachedPages() const {
  std::size_t total = 0;
  for (const TPageCache& cache : caches_) total += cache.Pages.size();
  return total;
}

void TIndexFile::MakeRoom(TPageCache& cache) {
  // Only clean pages go while an operation may still need the others; past a few probes the cache
  // runs over its capacity until the operation has finished. A miss makes room in its own index's
  // cache, so an index that is not used keeps only the pages it had.
  const std::size_t capacity = PageCacheCapacity();
  std::size_t cached = CachedPages();
  auto it = cache.Pages.end();
  for (int probes = 0; cached >= capacity && it != cache.Pages.begin() && probes < PageEvictionProbes; ++probes) {
    --it;
    TPage& page = **it;
    if (page.Pins() > 0 || page.Dirty()) continue;
    it = Evict(cache, it);
    --cached;
  }
}

std::list<std::unique_ptr<TPage>>::iterator TIndexFile::Evict(TPageCache& cache,
                                                              std::list<std::unique_ptr<TPage>>::iterator page) {
  cache.ByOffset.Erase((*page)->Offset());
  --cachedPages_;
  if (cache.Spare.size() >= static_cast<std::size_t>(PageEvictionProbes)) return cache.Pages.erase(page);
  const auto next = std::next(page);
  cache.Spare.splice(cache.Spare.begin(), cache.Pages, page);
  return next;
}

TPage& TIndexFile::SparePage(TPageCache& cache, std::int32_t offset) {
  if (cache.Spare.empty() || cache.Spare.front()->KeyLength() != keyLength_ ||
      cache.Spare.front()->Descending() != descending_) {
    cache.Spare.push_front(std::make_unique<TPage>(keyLength_, descending_));
  }
  TPage& page = *cache.Spare.front();
  page.Recycle(offset);
  return page;
}

TPage& TIndexFile::AdmitSpare(TPageCache& cache) {
  cache.Pages.splice(cache.Pages.begin(), cache.Spare, cache.Spare.begin());
  TPage& page = *cache.Pages.front();
  cache.ByOffset.Insert(page.Offset(), cache.Pages.begin());
  ++cachedPages_;
  return page;
}

TIndexFile::TTreePath TIndexFile::TakePath() {
  TTreePath path = std::move(sparePath_);
  path.clear();
  return path;
}

void TIndexFile::GivePath(TTreePath& path) {
  path.clear();
  sparePath_ = std::move(path);
}

void TIndexFile::WritePage(TPage& page) {
  page.Write(*this);
  if (!page.Dirty()) ++statistics_.PagesWritten;
}

void TIndexFile::WriteRun(std::span<TPage* const> run) {
  runImage_.resize(run.size() * static_cast<std::size_t>(PageSize));
  for (std::size_t i = 0; i < run.size(); ++i) {
    run[i]->Encode(std::span<std::uint8_t, PageSize>(runImage_.data() + i * PageSize, PageSize), FileName());
  }
  const std::int32_t offset = run.front()->Offset();
  // A memory file cannot be positioned past its end: fill the gap first.
  if (InMemory() && MemoryFile() && MemoryFile()->Size() < offset) MemoryFile()->SetSize(offset);
  if (Seek(offset, 0) != offset) return;
  WriteBuffer(runImage_.data(), static_cast<std::int32_t>(runImage_.size()));
  for (TPage* page : run) {
    page->SetDirty(false);
    ++statistics_.PagesWritten;
  }
}

TPage* TIndexFile::CachedDirtyPageAt(std::int32_t offset) const {
  if (!IsPageOffset(offset, header_.EndOfFile)) return nullptr;
  for (const TPageCache& cache : caches_) {
    if (const auto* found = cache.ByOffset.Find(offset)) {
      TPage* page = (*found)->get();
      return page->Dirty() ? page : nullptr;
    }
  }
  return nullptr;
}

void TIndexFile::WriteWithNeighbours(TPage& page) {
  // Bounded both ways, so a write costs no more with a larger cache.
  constexpr std::int32_t kReach = static_cast<std::int32_t>(kPagesPerWrite / 2);
  std::int32_t first = page.Offset();
  for (std::int32_t n = 0; n < kReach && CachedDirtyPageAt(first - PageSize); ++n) first -= PageSize;
  evictionRun_.clear();
  for (std::int32_t offset = first; evictionRun_.size() < kPagesPerWrite; offset += PageSize) {
    TPage* next = offset == page.Offset() ? &page : CachedDirtyPageAt(offset);
    if (!next) break;
    evictionRun_.push_back(next);
    if (offset > page.Offset() && offset - page.Offset() >= kReach * PageSize) break;
  }
  WritePages(evictionRun_);
}

void TIndexFile::WritePages(std::span<TPage* const> run) {
  if (run.size() == 1) {
    WritePage(*run[0]);
  } else {
    WriteRun(run);
  }
}

void TIndexFile::TrimCaches() {
  if (operationDepth_ > 0) return;
  ForgetCleanPages();
  // A shared file is written only inside its writer's lock, by the flush of a change.
  const bool mayWrite = PrivateFile();
  const std::size_t capacity = PageCacheCapacity();
  std::size_t cached = CachedPages();
  if (cached <= capacity) return;
  // What runs over is taken from the caches holding more than an even share.
  const std::size_t share = capacity / (static_cast<std::size_t>(header_.HighestSecondary) + 2);
  for (TPageCache& cache : caches_) {
    auto it = cache.Pages.end();
    // Pages that must stay are passed over a few at a time, so trimming costs no more with a larger cache.
    int kept = 0;
    while (cached > capacity && cache.Pages.size() > share && it != cache.Pages.begin() && kept < PageEvictionProbes) {
      --it;
      TPage& page = **it;
      if (page.Pins() > 0) {
        ++kept;
        continue;
      }
      if (page.Dirty()) {
        if (!mayWrite) {
          ++kept;
          continue;
        }
        WriteWithNeighbours(page);
        if (page.Dirty()) {
          ++kept;
          continue;
        }
      }
      it = Evict(cache, it);
      --cached;
    }
  }
}

TPageRef TIndexFile::GetPage(std::int32_t offset) {
  if (!IsPageOffset(offset, header_.EndOfFile)) Corrupt();
  TPageCache& cache = Cache();
  if (const auto* found = cache.ByOffset.Find(offset)) {
    if (*found != cache.Pages.begin()) {
      cache.Pages.splice(cache.Pages.begin(), cache.Pages, *found);
      ++statistics_.CacheHits;
    }
    TPage& page = ***found;
    Note(page, false);
    return TPageRef(&page);
  }
  MakeRoom(cache);
  SparePage(cache, offset).Read(*this, header_.EndOfFile);
  ++statistics_.PagesRead;
  ++statistics_.PagesCreatedOrRead;
  TPage& cached = AdmitSpare(cache);
  Note(cached, false);
  return TPageRef(&cached);
}

TPageRef TIndexFile::AllocatePage() {
  TIndexDescriptor& descriptor = header_.Descriptors[currentIndex_];
  if (descriptor.FreeChain != 0) {
    TPageRef page = GetPage(descriptor.FreeChain);
    // A free page that the operation is using is a chain that runs through the tree.
    if (page->Pins() > 1) Corrupt();
    // Nor may a page on the chain be part of any tree: every live page holds an entry. A freed page
    // is empty, or, as the original system leaves a root it replaced, a root interior page with one
    // entry that no index has as its root.
    const bool released =
        page->Count() == 0 || (page->Type() == RootInteriorPage && page->Count() == 1 &&
                               std::none_of(header_.Descriptors.begin(), header_.Descriptors.end(),
                                            [&](const TIndexDescriptor& d) { return d.Root == page->Offset(); }));
    if (!released) Corrupt();
    descriptor.FreeChain = page->NextOffset();
    page->Reset();
    return page;
  }
  // The last page must end below the lock bytes: 32-bit links and the writer's range stop there.
  if (header_.EndOfFile > MaxIndexFileEnd - PageSize) RaiseEngineError(ec::WriteError, FileName());
  TPageCache& cache = Cache();
  MakeRoom(cache);
  SparePage(cache, header_.EndOfFile);
  header_.EndOfFile += PageSize;
  ++statistics_.PagesCreatedOrRead;
  TPage& made = AdmitSpare(cache);
  Note(made, true);
  return TPageRef(&made);
}

void TIndexFile::ReleasePage(TPage& page) {
  TIndexDescriptor& descriptor = header_.Descriptors[currentIndex_];
  page.SetCount(0);
  page.ComputeUsed();
  page.SetPrevious(0);
  page.SetNext(descriptor.FreeChain);
  page.SetDirty(true);
  descriptor.FreeChain = page.Offset();
}

std::int64_t TIndexFile::DirtyEnd() const {
  // Every dirty page is listed, so the list alone bounds what waits to be written.
  std::int64_t end = 0;
  for (const auto& [index, offset] : dirtyPages_) {
    const TPage* page = ListedPage(index, offset);
    if (page && page->Dirty()) end = std::max<std::int64_t>(end, std::int64_t{offset} + PageSize);
  }
  assert(end == ScannedDirtyEnd());
  return end;
}

std::int64_t TIndexFile::ScannedDirtyEnd() const {
  std::int64_t end = 0;
  for (const TPageCache& cache : caches_) {
    for (const auto& page : cache.Pages) {
      if (page->Dirty()) end = std::max<std::int64_t>(end, std::int64_t{page->Offset()} + PageSize);
    }
  }
  return end;
}

bool TIndexFile::HasDirtyPages() const {
  for (const auto& [index, offset] : dirtyPages_) {
    const TPage* page = ListedPage(index, offset);
    if (page && page->Dirty()) return true;
  }
  assert(!AnyPageDirty());
  return false;
}

bool TIndexFile::AnyPageDirty() const {
  for (const TPageCache& cache : caches_) {
    for (const auto& page : cache.Pages) {
      if (page->Dirty()) return true;
    }
  }
  return false;
}

void TIndexFile::FlushPages() {
  for (;;) {
    bool dirtyLeft = false;
    bool progress = false;
    const std::vector<TPage*> dirty = DirtyPages();
    for (std::size_t first = 0; first < dirty.size();) {
      // Pages that follow each other in the file go in one write.
      std::size_t end = first + 1;
      while (end < dirty.size() && end - first < kPagesPerWrite &&
             dirty[end]->Offset() == dirty[end - 1]->Offset() + PageSize) {
        ++end;
      }
      const std::span<TPage* const> run(dirty.data() + first, end - first);
      WritePages(run);
      for (TPage* page : run) {
        if (page->Dirty()) {
          dirtyLeft = true;
        } else {
          progress = true;
        }
      }
      first = end;
    }
    if (!dirtyLeft) break;
    // A page that cannot be positioned now never will be: raise rather than loop.
    if (!progress) RaiseEngineError(ec::WriteError, FileName());
  }
  UnlistAll();
  assert(!AnyPageDirty());
  TrimCaches();
}

void TIndexFile::ClearPageCache() {
  dirtyPages_.clear();
  for (TPageCache& cache : caches_) {
    for ([[maybe_unused]] const auto& page : cache.Pages) assert(page->Pins() == 0);
    cache.Pages.clear();
    cache.ByOffset.Clear();
    cache.Spare.clear();
  }
  cachedPages_ = 0;
}

TPageRef TIndexFile::GetRoot() {
  const std::int32_t root = header_.Descriptors[currentIndex_].Root;
  if (root == 0) return {};
  return GetPage(root);
}

// ---- Index selection and definition ----

void TIndexFile::LoadIndex(std::uint8_t n) {
  const TIndexDescriptor& descriptor = header_.Descriptors[n];
  currentIndex_ = n;
  currentName_ = descriptor.Name;
  keyLength_ = descriptor.KeyLength;
  descending_ = descriptor.Descending;
  caseInsensitive_ = descriptor.CaseInsensitive;
  unique_ = descriptor.Unique;
}

void TIndexFile::SelectIndex(std::uint8_t n) {
  if (n == currentIndex_ || n > DeletedIndexSlot) return;
  LoadIndex(n);
}

void TIndexFile::SelectIndexByName(std::string_view name) {
  const std::string wanted = UpperName(name);
  if (wanted == UpperName(currentName_)) return;
  SelectIndex(0);
  if (name.empty()) return;
  for (std::uint8_t n = 1; n <= header_.HighestSecondary; ++n) {
    if (UpperName(header_.Descriptors[n].Name) == wanted) {
      LoadIndex(n);
      currentName_ = std::string(name);
      return;
    }
  }
}

const TIndexDescriptor& TIndexFile::Descriptor(std::uint8_t n) const {
  if (n >= IndexSlotCount) RaiseEngineError(ec::InvalidIndexName, std::to_string(n));
  return header_.Descriptors[n];
}

std::array<std::int16_t, MaxKeyFields> TIndexFile::GetKeyFields(std::uint8_t n) const {
  return GetDescriptor(n).KeyFields;
}

std::uint8_t TIndexFile::KeyFieldCount(std::uint8_t n) const { return GetDescriptor(n).KeyFieldCount; }

bool TIndexFile::IsUnique(std::uint8_t n) const { return GetDescriptor(n).Unique != 0; }

void TIndexFile::SetDescriptor(std::uint8_t n, const TIndexDescriptor& descriptor) {
  RequireExclusive();
  if (n >= IndexSlotCount) RaiseEngineError(ec::InvalidIndexName, descriptor.Name);
  TIndexDescriptor& slot = header_.Descriptors[n];
  slot.Name = descriptor.Name.substr(0, IndexNameLength);
  slot.KeyFields = descriptor.KeyFields;
  if (n == currentIndex_) LoadIndex(n);
}

void TIndexFile::CreatePrimaryIndex(std::int32_t keyLength, std::uint8_t fieldCount,
                                    std::span<const std::int16_t> fieldNumbers, bool /*unique*/, bool caseInsensitive,
                                    bool descending) {
  static constexpr const char* name = "Primary";
  RequireExclusive();
  TIndexDescriptor& slot = header_.Descriptors[0];
  if (slot.KeyLength != 0) RaiseEngineError(ec::PrimaryIndexExists, name);
  if (fieldCount > MaxKeyFields || fieldNumbers.size() < fieldCount) RaiseEngineError(ec::IndexLimits, FileName());
  for (std::uint8_t i = 0; i < fieldCount; ++i) {
    if (owner_.KeyFieldType(fieldNumbers[i]) == ftBlob) RaiseEngineError(ec::InvalidIndexFieldType, name);
  }
  if (keyLength < 1 || keyLength > MaxKeyLength) RaiseEngineError(ec::InvalidKeySize, name);
  slot = TIndexDescriptor{};
  slot.KeyLength = static_cast<std::uint8_t>(keyLength);
  slot.Descending = descending ? 1 : 0;
  slot.CaseInsensitive = caseInsensitive ? 1 : 0;
  slot.Unique = 1;
  slot.KeyFieldCount = fieldCount;
  std::copy_n(fieldNumbers.begin(), fieldCount, slot.KeyFields.begin());
  LoadIndex(0);
  ResetRange();
}

void TIndexFile::AddSecondaryIndex(std::string_view name, std::int32_t keyLength,
                                   std::span<const std::int16_t> fieldNumbers, bool unique, bool caseInsensitive,
                                   bool descending, std::uint8_t fieldCount) {
  RequireExclusive();
  if (header_.HighestSecondary >= MaxSecondaryIndexes ||
      fieldCount + header_.Descriptors[0].KeyFieldCount > MaxKeyFields || fieldNumbers.size() < fieldCount) {
    RaiseEngineError(ec::IndexLimits, FileName());
  }
  const std::string trimmed = TrimBlanks(name);
  if (trimmed.empty()) RaiseEngineError(ec::IndexNameMissing, name);
  const std::string wanted = UpperName(trimmed);
  for (std::uint8_t n = 1; n <= header_.HighestSecondary; ++n) {
    if (UpperName(TrimBlanks(header_.Descriptors[n].Name)) == wanted) RaiseEngineError(ec::IndexExists, name);
  }
  for (std::uint8_t i = 0; i < fieldCount; ++i) {
    if (owner_.KeyFieldType(fieldNumbers[i]) == ftBlob) RaiseEngineError(ec::InvalidIndexFieldType, name);
  }
  // The final key length, unique id included, must fit the descriptor's byte.
  if (keyLength < 1 || keyLength > MaxKeyLength) RaiseEngineError(ec::InvalidKeySize, name);
  const auto n = static_cast<std::uint8_t>(header_.HighestSecondary + 1);
  TIndexDescriptor& slot = header_.Descriptors[n];
  slot = TIndexDescriptor{};
  slot.Name = std::string(name.substr(0, IndexNameLength));
  slot.KeyLength = static_cast<std::uint8_t>(keyLength);
  slot.Descending = descending ? 1 : 0;
  slot.CaseInsensitive = caseInsensitive ? 1 : 0;
  slot.Unique = unique ? 1 : 0;
  slot.KeyFieldCount = fieldCount;
  std::copy_n(fieldNumbers.begin(), fieldCount, slot.KeyFields.begin());
  header_.HighestSecondary = n;
  LoadIndex(n);
  ResetRange();
}

// ---- Keys ----

void TIndexFile::PadKeyLow(std::uint8_t* key, std::size_t from, std::size_t length) {
  if (from < length) std::memset(key + from, 0x00, length - from);
}

void TIndexFile::PadKeyHigh(std::uint8_t* key, std::size_t from, std::size_t length) {
  if (from < length) std::memset(key + from, 0xFF, length - from);
}

void TIndexFile::IncrementKey(std::uint8_t* key, std::size_t n) {
  if (std::all_of(key, key + n, [](std::uint8_t b) { return b == 0xFF; })) return;
  for (std::size_t i = n; i-- > 0;) {
    if (++key[i] != 0) return;
  }
}

void TIndexFile::DecrementKey(std::uint8_t* key, std::size_t n) {
  if (std::all_of(key, key + n, [](std::uint8_t b) { return b == 0x00; })) return;
  for (std::size_t i = n; i-- > 0;) {
    if (key[i]-- != 0) return;
  }
}

void TIndexFile::CheckKeyViolation(std::span<const std::uint8_t> key) {
  if ((currentIndex_ == 0 || unique_ != 0) && KeyExists(key)) RaiseEngineError(ec::KeyViolation, FileName());
}

void TIndexFile::InsertKey(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  InsertKeyInTree(key, recordNumber);
}

void TIndexFile::ReplaceKey(std::span<const std::uint8_t> oldKey, std::span<const std::uint8_t> newKey,
                            std::int32_t recordNumber) {
  TOperation op(*this, true);
  // The delete finds a missing key before it changes anything.
  DeleteKeyFromTree(oldKey);
  InsertKeyInTree(newKey, recordNumber);
  op.Finish();
}

void TIndexFile::DeleteKey(std::span<const std::uint8_t> key) {
  TOperation op(*this, true);
  DeleteKeyFromTree(key);
  op.Finish();
}

void TIndexFile::ChangeKeys(std::span<const TKeyChange> changes, std::int32_t recordNumber) {
  // One operation for them all: a failure at any index puts back the pages of every index.
  TOperation op(*this, true);
  for (const TKeyChange& change : changes) {
    SelectIndex(change.Index);
    const std::span<const std::uint8_t> newKey(change.NewKey, keyLength_);
    if (change.OldKey) DeleteKeyFromTree(std::span<const std::uint8_t>(change.OldKey, keyLength_));
    InsertKeyInTree(newKey, recordNumber);
  }
  op.Finish();
}

// ---- Filters ----

void TIndexFile::InstallFilterBitmap(TRecordBitmap bitmap) {
  filteredCount_ = bitmap.CountBits(owner_.RecordSlots());
  bitmap_ = std::move(bitmap);
  filtersActive_ = true;
  filteredPosition_ = -1;
}

void TIndexFile::FreeBitmap() {
  bitmap_.reset();
  filtersActive_ = false;
  filteredPosition_ = -1;
}

void TIndexFile::SetRecordCallback(TRecordCallback callback, std::uint32_t userData) {
  callback_ = callback;
  callbackData_ = callback ? userData : 0;
  callbackActive_ = false;
}

bool TIndexFile::RecordAccepted(std::int32_t recordNumber) {
  if (!callback_ || !callbackActive_) return true;
  const std::span<const std::uint8_t> image = owner_.RecordImage(recordNumber);
  recordCopy_.assign(image.begin(), image.end());
  return (callback_(callbackData_, recordCopy_.data(), recordNumber) & 0xFF) != 0;
}

}  // namespace kavrin::engine
