// The cursor core: construction, open and close, the header copy with its change counter and header
// lock, the record cache, the deleted-record chain and the records this cursor has locked.
#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/cache_budget.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/password_list.h"
#include "engine/primitives.h"
#include "platform/win_file.h"
#include "runtime/date_time.h"

namespace kavrin::engine {
namespace {

// The header lock: the last byte below 2 GiB; record and table locks use the bytes below it.
constexpr std::int64_t kHeaderLockOffset = 0x7FFFFFFF;

// Header reads and writes bypass the contents scrambling: the header is always stored plain.
class UnscrambledSection {
 public:
  explicit UnscrambledSection(TFileHandler& file) : file_(file), scrambled_(file.Scrambled()) {
    file_.SetScrambled(false);
  }
  ~UnscrambledSection() { file_.SetScrambled(scrambled_); }
  UnscrambledSection(const UnscrambledSection&) = delete;
  UnscrambledSection& operator=(const UnscrambledSection&) = delete;

 private:
  TFileHandler& file_;
  bool scrambled_;
};

// The password as a table stores it: its first 15 characters, blanks included.
std::string NormalisedPassword(std::string_view password) { return LeftString(password, HeaderPasswordLength); }

bool PasswordKnown(const std::string& stored) {
  if (TablePasswords().Contains(stored)) return true;
  for (const std::string& known : TablePasswords().Entries()) {
    if (NormalisedPassword(known) == stored) return true;
  }
  return false;
}

}  // namespace

TDataFile::TDataFile(void* owner)
    : owner_(owner), indexFile_(std::make_unique<TIndexFile>(*this)), blobFile_(std::make_unique<TBlobFile>(*this)) {}

TDataFile::~TDataFile() {
  try {
    CloseFile();
  } catch (...) {
    // A destructor must not throw, and must let go: what could not be written is lost here; an explicit
    // Close reports it and keeps it. A busy cursor is not closed here: its owners never free it (see
    // Close).
    if (!busy_) CloseWithoutWriting();
  }
  ClearLockedRecords();
}

std::string TDataFile::FixFileName(std::string_view name) const { return StripExtension(TrimBlanks(name)) + ".DAT"; }

void TDataFile::ResetOpenState() {
  headerLocked_ = false;
  tableLocked_ = false;
  inTransaction_ = false;
  idsSuspended_ = false;
  deferredTableUnlock_ = false;
  logFile_.reset();
  fields_.clear();
  fieldByNumber_.clear();
}

void TDataFile::OpenFile() {
  if (Opened()) return;
  TakeReadOnlyFromCompanions();
  TFileHandler::OpenFile();
  MapForReading();
  try {
    ResetOpenState();
    ReadHeader();
    if (Exclusive() || ReadOnlyOnDisk()) headerLocked_ = true;
    ValidateDataFileHeader(header_, FileName());
    SetScrambled(header_.Encrypted);
    if (header_.Encrypted) CheckPassword();
    ReadFieldDescriptors();
    recordCacheCapacity_ = RecordCacheCapacityFor(TableCacheBudget(), header_.RecordSize);
    OpenCompanionFiles();
  } catch (...) {
    CloseWithoutWriting();
    throw;
  }
}

void TDataFile::CheckPassword() {
  const std::string stored = header_.Password;
  while (!PasswordKnown(stored)) {
    const std::vector<std::string> before = TablePasswords().Entries();
    // A handler that answers yes but adds no new password (none, or one the list held already) would
    // otherwise be asked for ever.
    const bool answered = AskPassword();
    const auto& after = TablePasswords().Entries();
    const bool added = std::any_of(after.begin(), after.end(), [&](const std::string& entry) {
      return std::find(before.begin(), before.end(), entry) == before.end();
    });
    if (!answered || !added) {
      if (!PasswordKnown(stored)) Raise(ec::PasswordRequired);
    }
  }
}

bool TDataFile::AskPassword() { return passwordHandler_ ? passwordHandler_(*this) : false; }

void TDataFile::PrepareCompanion(TFileHandler& file) const {
  file.SetInMemory(InMemory());
  file.SetFileName(FileName());
  file.SetScrambled(Scrambled());
  file.SetExclusive(Exclusive());
  file.SetReadOnly(ReadOnly());
}

void TDataFile::OpenCompanionFiles() {
  PrepareCompanion(*indexFile_);
  indexFile_->OpenFile();
  if (HasBlobFields()) {
    PrepareCompanion(*blobFile_);
    blobFile_->OpenFile();
  }
}

void TDataFile::TakeReadOnlyFromCompanions() {
  if (InMemory() || ReadOnly()) return;
  // A companion file that is read-only on disk makes the whole table read-only, so nothing is written
  // to one file of a table and refused by another.
  const std::string base = StripExtension(FileName());
  for (const char* extension : {".IDX", ".BLB"}) {
    const platform::DWORD attributes = platform::GetFileAttributesA(base + extension);
    if (attributes != platform::INVALID_FILE_ATTRIBUTES && (attributes & platform::FILE_ATTRIBUTE_READONLY)) {
      SetReadOnly(true);
      return;
    }
  }
}

void TDataFile::EndTransactionForClose() noexcept {
  if (!inTransaction_) return;
  try {
    Rollback();
  } catch (...) {
    // Closing ends the transaction either way; the log must not outlive the cursor.
  }
  try {
    DropLog();
  } catch (...) {
  }
}

void TDataFile::CloseWithoutWriting() noexcept {
  EndTransactionForClose();
  try {
    if (blobFile_->Opened()) blobFile_->CloseFile();
  } catch (...) {
  }
  try {
    if (indexFile_->Opened()) indexFile_->CloseFile();
  } catch (...) {
  }
  fields_.clear();
  fieldByNumber_.clear();
  expressionFilters_.clear();  // they read this table's fields and indexes
  DropRecordCache();
  // A closed table holds no cache memory.
  std::vector<TCacheLookup>().swap(cacheLookup_);
  std::vector<TCacheSlot>().swap(cacheSlots_);
  std::vector<std::uint32_t>().swap(spareSlots_);
  ClearLockedRecords();
  TFileHandler::CloseFile();
}

void TDataFile::CheckNotBusy() {
  if (busy_) Raise(ec::FileInUse);
}

void TDataFile::CloseFile() {
  CheckNotBusy();
  CloseOwned();
}

void TDataFile::CloseOwned() {
  if (!Opened()) return;
  EndTransactionForClose();
  // Everything changed through this cursor reaches the files, shared or not. A failure (no disk space)
  // leaves the cursor open with its changes, as a failed Flush does: the program may free space and
  // close again, or let go with CloseWithoutWriting.
  if (!ReadOnly()) {
    if (Exclusive() || ReadOnlyOnDisk()) {
      WriteThrough();
    } else if (HasDirtyRecords() || indexFile_->HasDirtyPages() || (HasBlobFields() && blobFile_->HasDirtyBlocks())) {
      Flush();
    }
  }
  ClearLockedRecords();
  CloseWithoutWriting();
  passwordHandler_ = nullptr;
}

void TDataFile::ReadHeader() {
  if (headerLocked_ || tableLocked_) return;
  std::array<std::uint8_t, DataFileHeaderSize> bytes;
  {
    UnscrambledSection plain(*this);
    Seek(0, 0);
    ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  }
  const TDataFileHeader header = DecodeDataFileHeader(bytes);
  // While open, the layout cannot change (restructure needs the table alone); a header that says
  // otherwise is damage, not news.
  if (!fields_.empty()) {
    if (header.FieldCount != header_.FieldCount || header.RecordSize != header_.RecordSize ||
        header.BlobFieldCount != header_.BlobFieldCount || header.BlobBlockSize != header_.BlobBlockSize ||
        header.Version != DataFileVersion) {
      Raise(ec::HeaderError);
    }
    ValidateDataFileHeader(header, FileName());
  }
  header_ = header;
}

void TDataFile::WriteHeader() {
  header_.ChangeCounter = static_cast<std::int32_t>(static_cast<std::uint32_t>(header_.ChangeCounter) + 1);
  header_.LastUpdate = runtime::Now();
  std::array<std::uint8_t, DataFileHeaderSize> bytes;
  EncodeDataFileHeader(header_, bytes);
  UnscrambledSection plain(*this);
  Seek(0, 0);
  WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void TDataFile::CheckHeaderChanged() {
  if (headerLocked_ || tableLocked_) return;
  std::array<std::uint8_t, 4> counter;
  {
    UnscrambledSection plain(*this);
    Seek(0, 0);
    ReadBuffer(counter.data(), static_cast<std::int32_t>(counter.size()));
  }
  if (LoadI32(counter.data()) != header_.ChangeCounter) {
    ReadHeader();
    DropRecordCache();
  }
}

void TDataFile::ReadFieldDescriptors() {
  std::vector<TFieldDescriptor> fields;
  fields.reserve(header_.FieldCount);
  std::array<std::uint8_t, FieldDescriptorSize> unit;
  Seek(static_cast<std::int64_t>(DataFileHeaderSize), 0);
  for (std::uint16_t i = 0; i < header_.FieldCount; ++i) {
    ReadBuffer(unit.data(), static_cast<std::int32_t>(unit.size()));
    fields.push_back(DecodeFieldDescriptor(unit));
  }
  ValidateFieldDescriptors(header_, fields, FileName());
  fields_ = std::move(fields);
  RebuildFieldMap();
}

void TDataFile::WriteFieldDescriptors() {
  std::array<std::uint8_t, FieldDescriptorSize> unit;
  Seek(static_cast<std::int64_t>(DataFileHeaderSize), 0);
  for (const TFieldDescriptor& field : fields_) {
    EncodeFieldDescriptor(field, unit);
    WriteBuffer(unit.data(), static_cast<std::int32_t>(unit.size()));
  }
}

void TDataFile::RebuildFieldMap() {
  fieldByNumber_.clear();
  if (fields_.empty()) return;
  const auto [lowest, highest] = std::minmax_element(
      fields_.begin(), fields_.end(), [](const auto& a, const auto& b) { return a.FieldNumber < b.FieldNumber; });
  fieldNumberBase_ = lowest->FieldNumber;
  fieldByNumber_.assign(static_cast<std::size_t>(highest->FieldNumber - fieldNumberBase_ + 1), -1);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    std::int32_t& slot = fieldByNumber_[static_cast<std::size_t>(fields_[i].FieldNumber - fieldNumberBase_)];
    if (slot < 0) slot = static_cast<std::int32_t>(i);  // of two fields with one number, the first
  }
}

void TDataFile::EmptyRecords() {
  Seek(RecordPosition(1), 0);
  WriteBuffer(nullptr, 0);
  header_.ChangeCounter = 0;
  header_.DeletedChainHead = 0;
  header_.NextRecordNumber = 1;
  header_.LastUniqueID = 0;
  currentRecord_ = nullptr;
}

std::int64_t TDataFile::RecordPosition(std::int32_t recordNumber) const {
  return RecordOffset(header_.FieldCount, header_.RecordSize, recordNumber);
}

std::int32_t TDataFile::NextUniqueID() {
  if (keepRecordIDs_ || idsSuspended_ || rollbackRunning_) return 0;
  // Ids identify records for ever: after the last one there is none to issue.
  if (header_.LastUniqueID == std::numeric_limits<std::int32_t>::max()) Raise(ec::KeyViolation);
  return ++header_.LastUniqueID;
}

std::uint16_t TDataFile::BlobBlockSize() const { return static_cast<std::uint16_t>(header_.EffectiveBlobBlockSize()); }

void TDataFile::MakeRoomInRecordCache() {
  while (oldestSlot_ != kNoSlot && cachedCount_ >= recordCacheCapacity_) {
    const std::uint32_t slot = oldestSlot_;
    TRecord* last = cacheSlots_[slot].Record.get();
    if (last->Dirty()) WriteDirtyRun(*last, true);
    if (last->Dirty()) FlushRecords(false, last);
    if (last == currentRecord_) currentRecord_ = nullptr;
    RecycleRecord(slot);
  }
}

namespace {

// Record numbers run densely upwards: a multiplicative hash spreads neighbours over the table.
inline std::size_t LookupHome(std::int32_t recordNumber, std::size_t mask) {
  std::uint32_t hash = static_cast<std::uint32_t>(recordNumber) * 0x9E3779B1u;
  hash ^= hash >> 15;
  return static_cast<std::size_t>(hash) & mask;
}

}  // namespace

std::uint32_t TDataFile::FindCacheSlot(std::int32_t recordNumber) const {
  if (cacheLookup_.empty() || recordNumber == 0) return kNoSlot;
  const std::size_t mask = cacheLookup_.size() - 1;
  for (std::size_t i = LookupHome(recordNumber, mask);; i = (i + 1) & mask) {
    const TCacheLookup& entry = cacheLookup_[i];
    if (entry.RecordNumber == recordNumber) return entry.Slot;
    if (entry.RecordNumber == 0) return kNoSlot;
  }
}

TRecord* TDataFile::CachedRecord(std::int32_t recordNumber) const {
  const std::uint32_t slot = FindCacheSlot(recordNumber);
  return slot == kNoSlot ? nullptr : cacheSlots_[slot].Record.get();
}

void TDataFile::GrowLookup() {
  if ((cachedCount_ + 1) * 2 <= cacheLookup_.size()) return;
  std::vector<TCacheLookup> old(std::max<std::size_t>(16, cacheLookup_.size() * 2));
  old.swap(cacheLookup_);
  const std::size_t mask = cacheLookup_.size() - 1;
  for (const TCacheLookup& entry : old) {
    if (entry.RecordNumber == 0) continue;
    std::size_t i = LookupHome(entry.RecordNumber, mask);
    while (cacheLookup_[i].RecordNumber != 0) i = (i + 1) & mask;
    cacheLookup_[i] = entry;
  }
}

void TDataFile::AddLookup(std::int32_t recordNumber, std::uint32_t slot) {
  assert(recordNumber > 0 && (cachedCount_ + 1) * 2 <= cacheLookup_.size());
  const std::size_t mask = cacheLookup_.size() - 1;
  std::size_t i = LookupHome(recordNumber, mask);
  while (cacheLookup_[i].RecordNumber != 0 && cacheLookup_[i].RecordNumber != recordNumber) i = (i + 1) & mask;
  cacheLookup_[i] = {recordNumber, slot};
}

void TDataFile::RemoveLookup(std::int32_t recordNumber, std::uint32_t slot) {
  if (cacheLookup_.empty() || recordNumber == 0) return;
  const std::size_t mask = cacheLookup_.size() - 1;
  std::size_t i = LookupHome(recordNumber, mask);
  for (;; i = (i + 1) & mask) {
    if (cacheLookup_[i].RecordNumber == 0) return;
    if (cacheLookup_[i].RecordNumber == recordNumber) break;
  }
  // A record placed again under a number still cached took the entry over; the older one has none.
  if (cacheLookup_[i].Slot != slot) return;
  // Later entries of the probe run move up into the gap, so no search stops short of its entry.
  for (std::size_t gap = i, next = (i + 1) & mask;; next = (next + 1) & mask) {
    const TCacheLookup entry = cacheLookup_[next];
    if (entry.RecordNumber == 0) {
      cacheLookup_[gap] = {};
      return;
    }
    const std::size_t home = LookupHome(entry.RecordNumber, mask);
    // The entry may fill the gap when its home does not lie cyclically in (gap, next].
    const bool stays = gap <= next ? (gap < home && home <= next) : (gap < home || home <= next);
    if (!stays) {
      cacheLookup_[gap] = entry;
      gap = next;
    }
  }
}

void TDataFile::LinkNewest(std::uint32_t slot) {
  TCacheSlot& linked = cacheSlots_[slot];
  linked.Newer = kNoSlot;
  linked.Older = newestSlot_;
  if (newestSlot_ != kNoSlot) cacheSlots_[newestSlot_].Newer = slot;
  newestSlot_ = slot;
  if (oldestSlot_ == kNoSlot) oldestSlot_ = slot;
}

void TDataFile::Unlink(std::uint32_t slot) {
  TCacheSlot& unlinked = cacheSlots_[slot];
  if (unlinked.Newer != kNoSlot) {
    cacheSlots_[unlinked.Newer].Older = unlinked.Older;
  } else {
    newestSlot_ = unlinked.Older;
  }
  if (unlinked.Older != kNoSlot) {
    cacheSlots_[unlinked.Older].Newer = unlinked.Newer;
  } else {
    oldestSlot_ = unlinked.Newer;
  }
  unlinked.Newer = kNoSlot;
  unlinked.Older = kNoSlot;
}

void TDataFile::RecycleRecord(std::uint32_t slot) {
  RemoveLookup(cacheSlots_[slot].Record->RecordNumber(), slot);
  Unlink(slot);
  --cachedCount_;
  spareSlots_.push_back(slot);  // reserved for every slot as the slots were made
}

TRecord* TDataFile::PlaceRecord(std::int32_t recordNumber, bool wholeImage) {
  MakeRoomInRecordCache();
  const std::size_t recordBytes = static_cast<std::size_t>(std::max<std::int32_t>(RecordSize(), RecordPrefixSize));
  if (!spareSlots_.empty()) {
    // A spare of another record size (the table was restructured) is not reused.
    const TRecord* spare = cacheSlots_[spareSlots_.back()].Record.get();
    if (spare && spare->BufferSize() != recordBytes) {
      for (std::uint32_t slot : spareSlots_) cacheSlots_[slot].Record.reset();
    }
  }
  const bool fromSpare = !spareSlots_.empty();
  const std::uint32_t slot = fromSpare ? spareSlots_.back() : static_cast<std::uint32_t>(cacheSlots_.size());
  try {
    GrowLookup();
    if (!fromSpare) {
      if (cacheSlots_.size() >= kNoSlot) Raise(ec::RecordBuffersCorrupt);
      // Recycling never allocates: the spare list holds every slot already.
      if (spareSlots_.capacity() <= cacheSlots_.size()) spareSlots_.reserve(2 * (cacheSlots_.size() + 1));
      cacheSlots_.push_back({std::make_unique<TRecord>(*this), kNoSlot, kNoSlot});
    } else if (!cacheSlots_[slot].Record) {
      cacheSlots_[slot].Record = std::make_unique<TRecord>(*this);
    } else {
      TRecord& spare = *cacheSlots_[slot].Record;
      spare.Recycle(!wholeImage || spare.BufferSize() != static_cast<std::size_t>(RecordSize()));
    }
  } catch (const std::bad_alloc&) {
    Raise(ec::RecordBuffersCorrupt);
  }
  if (fromSpare) spareSlots_.pop_back();
  AddLookup(recordNumber, slot);
  LinkNewest(slot);
  ++cachedCount_;
  TRecord* record = cacheSlots_[slot].Record.get();
  record->SetRecordNumber(recordNumber);
  record->SetLastUse(++recordUseClock_);
  return record;
}

TRecord* TDataFile::FetchRecord(std::int32_t recordNumber) {
  if (recordNumber == 0) return nullptr;
  // Only allocation makes a new slot; a number outside the file names no record.
  if (recordNumber < 0 || recordNumber >= header_.NextRecordNumber) Raise(ec::RecordBuffersCorrupt);
  // One operation asks for its record several times: the most recently used one needs no search.
  if (newestSlot_ != kNoSlot) {
    TRecord* newest = cacheSlots_[newestSlot_].Record.get();
    if (newest->RecordNumber() == recordNumber) {
      newest->SetLastUse(++recordUseClock_);
      return newest;
    }
  }
  const std::uint32_t slot = FindCacheSlot(recordNumber);
  if (slot != kNoSlot) {
    if (slot != newestSlot_) {
      Unlink(slot);
      LinkNewest(slot);
    }
    TRecord* record = cacheSlots_[slot].Record.get();
    record->SetLastUse(++recordUseClock_);
    return record;
  }
  const bool forward = recordNumber == lastMissedRecord_ + 1;
  const bool backward = recordNumber == lastMissedRecord_ - 1;
  lastMissedRecord_ = recordNumber;
  if (forward || backward) {
    ReadRecordsNextTo(recordNumber, forward);
    if (TRecord* record = CachedRecord(recordNumber)) return record;
  }
  TRecord* record = PlaceRecord(recordNumber, true);  // the read clears the image first
  try {
    record->ReadRecord();
  } catch (...) {
    RecycleRecord(newestSlot_);
    throw;
  }
  return record;
}

// A walk through the slots in order misses the cache record after record; the records beyond the one
// asked for, in the walk's direction, come with it in one read. Only slots the cache does not hold are
// read, so a changed record is never overwritten, and nothing past the last slot.
void TDataFile::ReadRecordsNextTo(std::int32_t recordNumber, bool forward) {
  constexpr std::size_t kReadAheadBytes = 16384;
  const std::int32_t size = header_.RecordSize;
  if (InMemory() || size <= 0) return;
  const auto limit =
      static_cast<std::int32_t>(std::min(recordCacheCapacity_ / 4, kReadAheadBytes / static_cast<std::size_t>(size)));
  std::int32_t first = recordNumber;
  std::int32_t last = recordNumber;
  auto free = [&](std::int32_t n) { return FindCacheSlot(n) == kNoSlot; };
  if (forward) {
    while (last - first + 1 < limit && last + 1 < header_.NextRecordNumber && free(last + 1)) ++last;
  } else {
    while (last - first + 1 < limit && first > 1 && free(first - 1)) --first;
  }
  // A file cut short (damage, a crash) is left to the record asked for alone, which reports it; a
  // read-ahead never raises what the plain read would not.
  const std::int64_t end = platform::GetFileSize(Handle());
  if (end < 0) return;
  while (last > first && RecordPosition(last) + size > end) {
    if (!forward) return;
    --last;
  }
  const std::int32_t count = last - first + 1;
  if (count < 2) return;
  std::vector<std::uint8_t>& bytes = readAheadBytes_;
  try {
    bytes.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(size));
    Seek(RecordPosition(first), 0);
    ReadUnits(bytes.data(), size, count);
  } catch (...) {
    return;  // the record asked for is read alone and reports its own failure
  }
  // The record asked for is placed last, so it is the most recently used.
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t n = forward ? last - i : first + i;
    TRecord* record = PlaceRecord(n, true);
    std::memcpy(record->Buffer(), bytes.data() + static_cast<std::size_t>(n - first) * static_cast<std::size_t>(size),
                static_cast<std::size_t>(size));
  }
}

std::int32_t TDataFile::FirstFreeRecord() const {
  return header_.DeletedChainHead != 0 ? static_cast<std::int32_t>(header_.DeletedChainHead) : header_.NextRecordNumber;
}

TRecord* TDataFile::AllocateRecord() {
  const std::int32_t free = FirstFreeRecord();
  if (free == header_.NextRecordNumber) {
    if (header_.NextRecordNumber == std::numeric_limits<std::int32_t>::max()) Raise(ec::RecordSizeExceeded);
    TRecord* record = PlaceRecord(free);
    ++header_.NextRecordNumber;
    return record;
  }
  TRecord* record = FetchRecord(free);
  // A chain that leads to a live record is damage: reusing the slot would overwrite data.
  if (!record->Deleted()) Raise(ec::RecordBuffersCorrupt);
  header_.DeletedChainHead = static_cast<std::uint32_t>(record->NextDeleted());
  return record;
}

void TDataFile::FreeRecordSlot(TRecord& record) {
  record.SetDeleted(true);
  record.SetNextDeleted(header_.DeletedChainHead == 0 ? 0 : static_cast<std::int32_t>(header_.DeletedChainHead));
  header_.DeletedChainHead = static_cast<std::uint32_t>(record.RecordNumber());
}

// Changed records in neighbouring slots, as inserts leave them, go to disk in one write with the one
// that has to go; each stays cached, clean. In memory a write costs no system call. A record leaving the
// cache takes along only neighbours as long unused as the older half of the cache, and never the current
// record: a record that the running operation is changing must not reach the disk before it is done.
void TDataFile::WriteDirtyRun(TRecord& record, bool evicting) {
  constexpr std::size_t kWriteBehindBytes = 16384;
  const std::int32_t size = header_.RecordSize;
  if (InMemory() || size <= 0) return;
  const auto limit =
      static_cast<std::int32_t>(std::max<std::size_t>(1, kWriteBehindBytes / static_cast<std::size_t>(size)));
  auto dirtyAt = [&](std::int32_t n) -> TRecord* {
    TRecord* neighbour = CachedRecord(n);
    if (!neighbour || !neighbour->Dirty()) return nullptr;
    if (evicting &&
        (neighbour == currentRecord_ || neighbour->LastUse() + recordCacheCapacity_ / 2 > recordUseClock_)) {
      return nullptr;
    }
    return neighbour;
  };
  // Lower neighbours first, then higher ones, each side as far as the limit allows.
  std::vector<TRecord*>& run = writeBehindRun_;
  run.clear();
  std::int32_t lowest = record.RecordNumber();
  while (static_cast<std::int32_t>(run.size()) + 1 < limit && lowest > 1) {
    TRecord* lower = dirtyAt(lowest - 1);
    if (!lower) break;
    run.push_back(lower);
    --lowest;
  }
  std::reverse(run.begin(), run.end());
  run.push_back(&record);
  while (static_cast<std::int32_t>(run.size()) < limit) {
    TRecord* higher = dirtyAt(run.back()->RecordNumber() + 1);
    if (!higher) break;
    run.push_back(higher);
  }
  if (run.size() < 2) return;
  std::vector<std::uint8_t>& bytes = writeBehindBytes_;
  bytes.resize(run.size() * static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < run.size(); ++i) {
    std::memcpy(bytes.data() + i * static_cast<std::size_t>(size), run[i]->Buffer(), static_cast<std::size_t>(size));
  }
  Seek(RecordPosition(run.front()->RecordNumber()), 0);
  WriteUnits(bytes.data(), size, static_cast<std::int32_t>(run.size()));
  for (TRecord* written : run) written->SetDirty(false);
}

void TDataFile::FlushRecords(bool all, TRecord* record) {
  if (!all && record) {
    record->WriteRecord();
    if (!record->Dirty()) return;
  }
  for (;;) {
    bool progress = false;
    TRecord* lowestDirty = nullptr;
    for (TRecord* cached : DirtyRecords()) {
      if (!cached->Dirty()) continue;
      WriteDirtyRun(*cached, false);
      if (cached->Dirty()) cached->WriteRecord();
      if (!cached->Dirty()) {
        progress = true;
      } else if (!lowestDirty || cached->RecordNumber() < lowestDirty->RecordNumber()) {
        lowestDirty = cached;
      }
    }
    if (!lowestDirty) {
      dirtyRecords_.clear();
      assert(!AnyCachedDirty());
      return;
    }
    if (progress) continue;
    // An in-memory file cannot seek past its end: fill the gap before the lowest waiting record.
    const std::int64_t position = RecordPosition(lowestDirty->RecordNumber());
    if (!InMemory() || Size() >= position) Raise(ec::RecordBuffersCorrupt);
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(position - Size()), 0);
    Seek(0, 2);
    WriteBuffer(zeros.data(), static_cast<std::int32_t>(zeros.size()));
  }
}

void TDataFile::RecordDirtied(std::int32_t recordNumber) {
  // Entries of records written or gone since are dropped now and then, so the list stays near the
  // number of dirty records.
  if (dirtyRecords_.size() >= dirtyRecordsLimit_) {
    std::erase_if(dirtyRecords_, [&](std::int32_t n) { return !DirtyListedRecord(n); });
    dirtyRecordsLimit_ = std::max<std::size_t>(2 * dirtyRecords_.size(), 256);
  }
  dirtyRecords_.push_back(recordNumber);
}

TRecord* TDataFile::DirtyListedRecord(std::int32_t recordNumber) const {
  TRecord* record = CachedRecord(recordNumber);
  return record && record->Dirty() ? record : nullptr;
}

bool TDataFile::AnyCachedDirty() const {
  for (std::uint32_t slot = newestSlot_; slot != kNoSlot; slot = cacheSlots_[slot].Older) {
    if (cacheSlots_[slot].Record->Dirty()) return true;
  }
  return false;
}

bool TDataFile::HasDirtyRecords() const {
  const bool dirty = std::any_of(dirtyRecords_.begin(), dirtyRecords_.end(),
                                 [&](std::int32_t n) { return DirtyListedRecord(n) != nullptr; });
  assert(dirty == AnyCachedDirty());
  return dirty;
}

std::int64_t TDataFile::DirtyRecordsEnd() const {
  std::int64_t end = 0;
  for (std::int32_t n : dirtyRecords_) {
    if (DirtyListedRecord(n)) end = std::max(end, RecordPosition(n) + header_.RecordSize);
  }
  return end;
}

std::vector<TRecord*> TDataFile::DirtyRecords() {
  std::sort(dirtyRecords_.begin(), dirtyRecords_.end());
  dirtyRecords_.erase(std::unique(dirtyRecords_.begin(), dirtyRecords_.end()), dirtyRecords_.end());
  std::vector<TRecord*> dirty;
  for (std::int32_t n : dirtyRecords_) {
    if (TRecord* record = DirtyListedRecord(n)) dirty.push_back(record);
  }
  return dirty;
}

void TDataFile::DropRecordCache() {
  dirtyRecords_.clear();
  if (cachedCount_ != 0) std::fill(cacheLookup_.begin(), cacheLookup_.end(), TCacheLookup{});
  cacheSlots_.clear();
  spareSlots_.clear();
  newestSlot_ = kNoSlot;
  oldestSlot_ = kNoSlot;
  cachedCount_ = 0;
  currentRecord_ = nullptr;
}

void TDataFile::SetHeaderLockTiming(std::int32_t pauseMilliseconds, std::int32_t tries) {
  headerLockPause_ = pauseMilliseconds;
  headerLockTries_ = std::max(1, tries);
}

void TDataFile::LockHeader() {
  for (std::int32_t failures = 0; !LockRange(kHeaderLockOffset, 1, true);) {
    if (++failures >= headerLockTries_) Raise(ec::GeneralLockFailure);
    WaitMilliseconds(headerLockPause_);
  }
}

void TDataFile::UnlockHeader() {
  const bool unlocked = LockRange(kHeaderLockOffset, 1, false);
  headerLocked_ = Exclusive() || ReadOnlyOnDisk();
  if (!unlocked) Raise(ec::CannotUnlock);
}

bool TDataFile::UnlockHeaderWithRecord(std::int32_t recordNumber) {
  if (recordNumber < 1 || recordNumber >= kHeaderLockOffset) {
    UnlockHeader();
    return false;
  }
  // Record n locks the byte below the header's by n.
  if (!UnlockRanges(kHeaderLockOffset, 1, kHeaderLockOffset - recordNumber, 1)) {
    // The header must not stay locked against every other process: it goes alone, the record's lock
    // by its own way.
    UnlockHeader();
    return false;
  }
  headerLocked_ = Exclusive() || ReadOnlyOnDisk();
  RemoveLockedRecord(recordNumber);
  return true;
}

void TDataFile::RemoveLockedRecord(std::int32_t recordNumber) {
  auto it = std::find(lockedRecords_.begin(), lockedRecords_.end(), recordNumber);
  if (it != lockedRecords_.end()) lockedRecords_.erase(it);
}

bool TDataFile::IsRecordLocked(std::int32_t recordNumber) const {
  return std::find(lockedRecords_.begin(), lockedRecords_.end(), recordNumber) != lockedRecords_.end();
}

void TDataFile::Flush() {
  if (ReadOnly()) return;
  if (Exclusive() || ReadOnlyOnDisk()) {
    WriteThrough();
    return;
  }
  // Other processes may have changed the files: write only under the locks of a change, after its
  // change checks, so no stale header copy is written over theirs.
  TCursorGuard guard(*this);
  TWriteSection section(*this, true);
  section.Commit();
}

void TDataFile::WriteThrough() {
  // Every file's growth is reserved before the first byte is written, so a full disk fails the change
  // with the files as they were. Only what waits to be written counts, never a header's word alone.
  const std::int64_t recordsEnd = DirtyRecordsEnd();
  std::vector<std::pair<TFileHandler*, std::int64_t>> growth{{this, recordsEnd}};
  if (Opened()) {
    growth.emplace_back(indexFile_.get(), indexFile_->DirtyEnd());
    if (HasBlobFields()) growth.emplace_back(blobFile_.get(), blobFile_->DirtyEnd());
  }
  std::vector<std::pair<TFileHandler*, std::int64_t>> filled;
  try {
    for (const auto& [file, end] : growth) {
      // The records and index pages are all written below, so their files remember how far they reach.
      std::int64_t from = -1;
      if (file == this) {
        from = ReserveGrowth(end, RecordPosition(header_.NextRecordNumber));
      } else if (file == indexFile_.get()) {
        from = file->ReserveGrowth(end, indexFile_->Header().EndOfFile);
      } else {
        from = file->ReserveUpTo(end);
      }
      if (from >= 0) filled.emplace_back(file, from);
    }
  } catch (...) {
    for (const auto& [file, size] : filled) file->CutBackTo(size);
    throw;
  }
  // Blob blocks that records are to name go before the records, blocks they no longer name join the
  // free list after them: a crash in between leaves blocks that nothing names, never a record naming
  // blocks that hold another record's data or that the free list offers.
  if (Opened() && HasBlobFields()) blobFile_->WriteBlocksBeforeRecords();
  FlushRecords(true);
  if (Opened() && HasBlobFields()) blobFile_->WriteBlocksAfterRecords();
  WriteHeader();
  NoteWrittenUpTo(recordsEnd);
  if (Opened()) {
    indexFile_->FlushPages();
    indexFile_->WriteHeader();
    indexFile_->NoteWrittenUpTo(growth[1].second);
  }
}

void TDataFile::SetMemoryLog(bool inMemory) {
  if (inMemory == transactionsInMemory_) return;
  if (Opened()) Raise(ec::FileInUse);
  transactionsInMemory_ = inMemory;
}

std::string TDataFile::GetDescription() const { return Opened() ? header_.Description : std::string(); }

std::string TDataFile::GetPassword() const { return Opened() && header_.Encrypted ? header_.Password : std::string(); }

double TDataFile::LastUpdated() const { return Opened() ? header_.LastUpdate : 0; }

bool TDataFile::Encrypted() const { return Opened() && header_.Encrypted; }

}  // namespace kavrin::engine
