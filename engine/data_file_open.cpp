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
    : owner_(owner),
      indexFile_(std::make_unique<TIndexFile>(*this)),
      blobFile_(std::make_unique<TBlobFile>(*this)) {}

TDataFile::~TDataFile() {
  try {
    CloseFile();
  } catch (...) {
    // A destructor must not throw; what could not be written is reported by an explicit Close.
  }
  ClearLockedRecords();
}

std::string TDataFile::FixFileName(std::string_view name) const {
  return StripExtension(TrimBlanks(name)) + ".DAT";
}

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

void TDataFile::CloseWithoutWriting() noexcept {
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
  ClearLockedRecords();
  TFileHandler::CloseFile();
}

void TDataFile::CloseFile() {
  if (!Opened()) return;
  if (inTransaction_) {
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
  std::exception_ptr failure;
  try {
    // Everything changed through this cursor reaches the files, shared or not.
    if (!ReadOnly()) {
      if (Exclusive() || ReadOnlyOnDisk()) {
        WriteThrough();
      } else if (HasDirtyRecords() ||
                 indexFile_->HasDirtyPages() || (HasBlobFields() && blobFile_->HasDirtyBlocks())) {
        Flush();
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  ClearLockedRecords();
  CloseWithoutWriting();
  passwordHandler_ = nullptr;
  if (failure) std::rethrow_exception(failure);
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

std::uint16_t TDataFile::BlobBlockSize() const {
  return static_cast<std::uint16_t>(header_.EffectiveBlobBlockSize());
}

void TDataFile::MakeRoomInRecordCache() {
  while (!recordCache_.empty() && recordCache_.size() >= recordCacheCapacity_) {
    TRecord* last = recordCache_.back().get();
    if (last->Dirty()) WriteDirtyRun(*last, true);
    if (last->Dirty()) FlushRecords(false, last);
    if (last == currentRecord_) currentRecord_ = nullptr;
    RecycleRecord(std::prev(recordCache_.end()));
  }
}

void TDataFile::RecycleRecord(RecordList::iterator record) {
  auto node = recordByNumber_.extract((*record)->RecordNumber());
  if (!node.empty()) {
    try {
      spareNodes_.push_back(std::move(node));
    } catch (const std::bad_alloc&) {
    }
  }
  spareRecords_.splice(spareRecords_.begin(), recordCache_, record);
}

TRecord* TDataFile::PlaceRecord(std::int32_t recordNumber, bool wholeImage) {
  MakeRoomInRecordCache();
  if (!spareRecords_.empty()) {
    // A spare of another record size (the table was restructured) is not reused.
    if (spareRecords_.front()->BufferSize() !=
        static_cast<std::size_t>(std::max<std::int32_t>(RecordSize(), RecordPrefixSize))) {
      spareRecords_.clear();
    }
  }
  if (!spareRecords_.empty()) {
    recordCache_.splice(recordCache_.begin(), spareRecords_, spareRecords_.begin());
    recordCache_.front()->Recycle(!wholeImage || recordCache_.front()->BufferSize() != static_cast<std::size_t>(RecordSize()));
  } else {
    try {
      recordCache_.push_front(std::make_unique<TRecord>(*this));
    } catch (const std::bad_alloc&) {
      Raise(ec::RecordBuffersCorrupt);
    }
  }
  recordCache_.front()->SetRecordNumber(recordNumber);
  recordCache_.front()->SetLastUse(++recordUseClock_);
  if (!spareNodes_.empty()) {
    auto node = std::move(spareNodes_.back());
    spareNodes_.pop_back();
    node.key() = recordNumber;
    node.mapped() = recordCache_.begin();
    auto placed = recordByNumber_.insert(std::move(node));
    if (!placed.inserted) placed.position->second = recordCache_.begin();
  } else {
    recordByNumber_[recordNumber] = recordCache_.begin();
  }
  return recordCache_.front().get();
}

TRecord* TDataFile::FetchRecord(std::int32_t recordNumber) {
  if (recordNumber == 0) return nullptr;
  // Only allocation makes a new slot; a number outside the file names no record.
  if (recordNumber < 0 || recordNumber >= header_.NextRecordNumber) Raise(ec::RecordBuffersCorrupt);
  auto found = recordByNumber_.find(recordNumber);
  if (found != recordByNumber_.end()) {
    if (found->second != recordCache_.begin()) recordCache_.splice(recordCache_.begin(), recordCache_, found->second);
    recordCache_.front()->SetLastUse(++recordUseClock_);
    return recordCache_.front().get();
  }
  const bool forward = recordNumber == lastMissedRecord_ + 1;
  const bool backward = recordNumber == lastMissedRecord_ - 1;
  lastMissedRecord_ = recordNumber;
  if (forward || backward) {
    ReadRecordsNextTo(recordNumber, forward);
    found = recordByNumber_.find(recordNumber);
    if (found != recordByNumber_.end()) return found->second->get();
  }
  TRecord* record = PlaceRecord(recordNumber);
  try {
    record->ReadRecord();
  } catch (...) {
    RecycleRecord(recordCache_.begin());
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
  const auto limit = static_cast<std::int32_t>(
      std::min(recordCacheCapacity_ / 4, kReadAheadBytes / static_cast<std::size_t>(size)));
  std::int32_t first = recordNumber;
  std::int32_t last = recordNumber;
  auto free = [&](std::int32_t n) { return !recordByNumber_.contains(n); };
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
  return header_.DeletedChainHead != 0 ? static_cast<std::int32_t>(header_.DeletedChainHead)
                                       : header_.NextRecordNumber;
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
  const auto limit = static_cast<std::int32_t>(std::max<std::size_t>(1, kWriteBehindBytes / static_cast<std::size_t>(size)));
  auto dirtyAt = [&](std::int32_t n) -> TRecord* {
    const auto found = recordByNumber_.find(n);
    if (found == recordByNumber_.end()) return nullptr;
    TRecord* neighbour = found->second->get();
    if (!neighbour->Dirty()) return nullptr;
    if (evicting && (neighbour == currentRecord_ || neighbour->LastUse() + recordCacheCapacity_ / 2 > recordUseClock_)) {
      return nullptr;
    }
    return neighbour;
  };
  std::vector<TRecord*> run{&record};
  while (static_cast<std::int32_t>(run.size()) < limit && run.front()->RecordNumber() > 1) {
    TRecord* lower = dirtyAt(run.front()->RecordNumber() - 1);
    if (!lower) break;
    run.insert(run.begin(), lower);
  }
  while (static_cast<std::int32_t>(run.size()) < limit) {
    TRecord* higher = dirtyAt(run.back()->RecordNumber() + 1);
    if (!higher) break;
    run.push_back(higher);
  }
  if (run.size() < 2) return;
  std::vector<std::uint8_t> bytes(run.size() * static_cast<std::size_t>(size));
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
      assert(std::none_of(recordCache_.begin(), recordCache_.end(), [](const auto& r) { return r->Dirty(); }));
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
  const auto found = recordByNumber_.find(recordNumber);
  return found != recordByNumber_.end() && (*found->second)->Dirty() ? found->second->get() : nullptr;
}

bool TDataFile::HasDirtyRecords() const {
  const bool dirty = std::any_of(dirtyRecords_.begin(), dirtyRecords_.end(),
                                 [&](std::int32_t n) { return DirtyListedRecord(n) != nullptr; });
  assert(dirty == std::any_of(recordCache_.begin(), recordCache_.end(), [](const auto& r) { return r->Dirty(); }));
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
  recordByNumber_.clear();
  recordCache_.clear();
  spareRecords_.clear();
  spareNodes_.clear();
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
  const bool unlocked = UnlockRanges(kHeaderLockOffset, 1, kHeaderLockOffset - recordNumber, 1);
  headerLocked_ = Exclusive() || ReadOnlyOnDisk();
  if (!unlocked) Raise(ec::CannotUnlock);
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
  // Blob blocks before the records that name them: a crash in between leaves blocks no record names
  // yet, never a record naming blocks that still hold another record's data.
  if (Opened() && HasBlobFields()) {
    blobFile_->FlushBlocks(true, 0);
    blobFile_->WriteHeader();
  }
  FlushRecords(true);
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

std::string TDataFile::GetPassword() const {
  return Opened() && header_.Encrypted ? header_.Password : std::string();
}

double TDataFile::LastUpdated() const { return Opened() ? header_.LastUpdate : 0; }

bool TDataFile::Encrypted() const { return Opened() && header_.Encrypted; }

}  // namespace kavrin::engine
