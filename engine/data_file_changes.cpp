// Insert, update and delete of records, and the record check before insert and update. Each change
// keeps every index consistent with the records and is all or nothing: every check is made before
// the first index changes, and a failure after that puts back what was done.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "engine/bcd.h"
#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "runtime/conversions.h"
#include "runtime/date_time.h"

namespace kavrin::engine {
namespace {

// A key of any index: the descriptor holds its length in one byte.
using Key = std::array<std::uint8_t, MaxKeyLength + 1>;

// The key changes made so far in one operation; unless committed, they are undone newest first, so
// an index never keeps half of a change.
class TKeyChangeLog {
 public:
  // Room for every change is made first, so no change goes unrecorded for want of memory.
  explicit TKeyChangeLog(TIndexFile& index) : index_(index) {
    const std::size_t most = index.IndexCount() + 3u;
    if (most > kInlineEntries) more_.reserve(most - kInlineEntries);
  }
  TKeyChangeLog(const TKeyChangeLog&) = delete;
  TKeyChangeLog& operator=(const TKeyChangeLog&) = delete;
  ~TKeyChangeLog() {
    if (committed_) return;
    for (std::size_t i = count_; i-- > 0;) {
      const Entry* it = &At(i);
      try {
        index_.SelectIndex(it->Index);
        const std::span<const std::uint8_t> oldKey(it->OldKey.data(), index_.KeyLength());
        const std::span<const std::uint8_t> newKey(it->NewKey.data(), index_.KeyLength());
        switch (it->Kind) {
          case Change::Inserted: index_.DeleteKey(newKey); break;
          case Change::Deleted: index_.InsertKey(oldKey, it->Record); break;
          case Change::Replaced: index_.ReplaceKey(newKey, oldKey, it->Record); break;
        }
      } catch (...) {
        // Best effort: a shared cursor also discards its unwritten pages.
      }
    }
    // The header's record count goes back with the keys of index 0.
    if (count_ != 0) {
      try {
        index_.Recount();
      } catch (...) {
      }
    }
  }

  // Changes the index has made already, to be undone like the others.
  void Inserted(std::uint8_t index, const Key& key, std::int32_t record) {
    Add(Change::Inserted, index, nullptr, &key, record);
  }
  void Replaced(std::uint8_t index, const Key& oldKey, const Key& newKey, std::int32_t record) {
    Add(Change::Replaced, index, &oldKey, &newKey, record);
  }
  void Insert(std::uint8_t index, const Key& key, std::int32_t record) {
    index_.SelectIndex(index);
    index_.InsertKey(std::span<const std::uint8_t>(key.data(), index_.KeyLength()), record);
    Add(Change::Inserted, index, nullptr, &key, record);
  }
  void Delete(std::uint8_t index, const Key& key, std::int32_t record) {
    index_.SelectIndex(index);
    index_.DeleteKey(std::span<const std::uint8_t>(key.data(), index_.KeyLength()));
    Add(Change::Deleted, index, &key, nullptr, record);
  }
  void Replace(std::uint8_t index, const Key& oldKey, const Key& newKey, std::int32_t record) {
    index_.SelectIndex(index);
    index_.ReplaceKey(std::span<const std::uint8_t>(oldKey.data(), index_.KeyLength()),
                      std::span<const std::uint8_t>(newKey.data(), index_.KeyLength()), record);
    Add(Change::Replaced, index, &oldKey, &newKey, record);
  }
  void Commit() { committed_ = true; }

 private:
  enum class Change { Inserted, Deleted, Replaced };
  struct Entry {
    Change Kind;
    std::uint8_t Index;
    Key OldKey;
    Key NewKey;
    std::int32_t Record;
  };
  // The entries of a change on a few indexes stay on the stack: a change allocates nothing for its log.
  static constexpr std::size_t kInlineEntries = 8;

  Entry& At(std::size_t i) { return i < kInlineEntries ? inline_[i] : more_[i - kInlineEntries]; }
  // Only the keys an undo uses are copied, and only their length.
  void Add(Change kind, std::uint8_t index, const Key* oldKey, const Key* newKey, std::int32_t record) {
    if (count_ >= kInlineEntries) more_.emplace_back();
    Entry& entry = At(count_);
    entry.Kind = kind;
    entry.Index = index;
    entry.Record = record;
    const std::size_t length = index_.Descriptor(index).KeyLength;
    if (oldKey) std::memcpy(entry.OldKey.data(), oldKey->data(), length);
    if (newKey) std::memcpy(entry.NewKey.data(), newKey->data(), length);
    ++count_;
  }

  TIndexFile& index_;
  std::array<Entry, kInlineEntries> inline_;
  std::vector<Entry> more_;
  std::size_t count_ = 0;
  bool committed_ = false;
};

// Releases a record lock when the operation ends, however it ends.
class TRecordUnlock {
 public:
  TRecordUnlock(TDataFile& table, std::int32_t record, bool active) : table_(table), record_(record), active_(active) {}
  TRecordUnlock(const TRecordUnlock&) = delete;
  TRecordUnlock& operator=(const TRecordUnlock&) = delete;
  void Dismiss() { active_ = false; }
  ~TRecordUnlock() {
    if (!active_) return;
    try {
      table_.ReleaseRecordLock(record_);
    } catch (...) {
    }
  }

 private:
  TDataFile& table_;
  std::int32_t record_;
  bool active_;
};

bool SameKey(const Key& a, const Key& b, std::size_t length) { return std::memcmp(a.data(), b.data(), length) == 0; }

std::int64_t IntegerLimit(std::string_view text) {
  std::int64_t value = 0;
  return runtime::TryStrToInt64(text, value) ? value : 0;
}

// -1, 0 or 1 as the field's value compares with a limit text; limits that do not convert count as 0.
int CompareWithLimit(const TFieldDescriptor& field, const std::uint8_t* value, const std::string& limit) {
  auto sign = [](auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); };
  runtime::TDateTime moment = 0;
  switch (field.Type) {
    case ftString: {
      const std::size_t length = std::find(value, value + field.Size, 0) - value;
      const int c = std::memcmp(value, limit.data(), std::min(length, limit.size()));
      return c != 0 ? (c < 0 ? -1 : 1) : sign(length, limit.size());
    }
    case ftDate: {
      const std::int32_t day = runtime::TryStrToDate(limit, moment) ? runtime::DateTimeToTimeStamp(moment).Date : 0;
      return sign(LoadI32(value), day);
    }
    case ftTime: {
      const std::int32_t ms = runtime::TryStrToTime(limit, moment) ? runtime::DateTimeToTimeStamp(moment).Time : 0;
      return sign(LoadI32(value), ms);
    }
    case ftTimeStamp: {
      const double ms = runtime::TryStrToDateTime(limit, moment)
                            ? runtime::TimeStampToMSecs(runtime::DateTimeToTimeStamp(moment))
                            : 0;
      return sign(LoadF64(value), ms);
    }
    case ftSmallInt: return sign(static_cast<std::int64_t>(LoadI16(value)), IntegerLimit(limit));
    case ftInteger: return sign(static_cast<std::int64_t>(LoadI32(value)), IntegerLimit(limit));
    case ftWord: return sign(static_cast<std::int64_t>(LoadU16(value)), IntegerLimit(limit));
    case ftFloat: {
      double number = 0;
      if (!runtime::TryStrToFloat(limit, number)) number = 0;
      return sign(LoadF64(value), number);
    }
    case ftBCD: {
      runtime::Currency amount;
      std::int64_t stored = 0;
      if (runtime::TryStrToCurr(limit, amount)) {
        try {
          stored = CurrencyToBCD(field.Decimals, amount);
        } catch (const EDBEngineError&) {
          stored = 0;
        }
      }
      return sign(LoadI64(value), stored);
    }
    default: return 0;
  }
}

bool LimitsChecked(std::uint8_t type) {
  switch (type) {
    case ftString:
    case ftDate:
    case ftTime:
    case ftTimeStamp:
    case ftSmallInt:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftBCD: return true;
    default: return false;
  }
}

}  // namespace

void TDataFile::SetUniqueID(std::uint8_t* image, std::int32_t id) { StoreI32(image + AutoIncSlotOffset, id); }

std::int32_t TDataFile::GetUniqueID(const std::uint8_t* image) { return LoadI32(image + AutoIncSlotOffset); }

void TDataFile::ValidateRecord(const std::uint8_t* image) const {
  std::array<std::uint8_t, 256> value;
  for (const TFieldDescriptor& field : fields_) {
    if (!field.Required && field.Minimum.empty() && field.Maximum.empty() && field.Type != ftBlob) continue;
    bool isNull = true;
    GetField(field.FieldNumber, image, isNull, value.data());
    if (field.Required && isNull) RaiseEngineError(ec::RequiredField, field.Name);
    if (!LimitsChecked(field.Type)) continue;
    // A null value is compared as its zero-filled data.
    if (!field.Minimum.empty() && CompareWithLimit(field, value.data(), field.Minimum) < 0) {
      RaiseEngineError(ec::MinimumExceeded, field.Name);
    }
    if (!field.Maximum.empty() && CompareWithLimit(field, value.data(), field.Maximum) > 0) {
      RaiseEngineError(ec::MaximumExceeded, field.Name);
    }
  }
}

void TDataFile::CheckBlobHandles(const std::uint8_t* image) const {
  if (!HasBlobFields()) return;
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    const std::int32_t reference = LoadI32(image + field.SlotOffset + 1);
    // A negative reference must be one of this cursor's open blobs, or a handle would reach the disk.
    if (reference < 0 &&
        (reference == std::numeric_limits<std::int32_t>::min() || !blobFile_->IsBlobHandle(-reference))) {
      Raise(ec::InvalidBlobHandle);
    }
  }
}

void TDataFile::SaveRecordBlobs(TRecord& record) {
  if (!HasBlobFields()) return;
  blobFile_->SetBlobOwner(record.Buffer(), record.RecordNumber());
  blobFile_->SaveBlobs(record.Buffer());
  blobFile_->StoreBlobOffsets(record.Buffer());
}

void TDataFile::FreeReplacedChains(const std::uint8_t* before, const TRecord& record,
                                   const std::vector<std::int32_t>& saved) {
  std::vector<std::int32_t> named;
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    const std::int32_t reference = LoadI32(record.Buffer() + field.SlotOffset + 1);
    if (reference > 0) named.push_back(reference);
  }
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    const std::int32_t old = LoadI32(before + field.SlotOffset + 1);
    if (old > 0 && std::find(named.begin(), named.end(), old) == named.end() &&
        std::find(saved.begin(), saved.end(), old) == saved.end()) {
      blobFile_->FreeReplacedChain(old, record.RecordNumber(), named);
    }
  }
}

void TDataFile::InsertRecord(std::uint8_t* image) {
  TCursorGuard guard(*this);
  TWriteSection section(*this, true);
  const std::int32_t slot = FirstFreeRecord();
  const bool fromChain = slot != header_.NextRecordNumber;
  // The slot's lock goes with a failed insert, which changed nothing; a transaction keeps it only for
  // a record it made, or when it held the lock before.
  const bool slotHeld = IsRecordLocked(slot);
  AcquireRecordLock(slot);
  TRecordUnlock slotUnlock(*this, slot, IsShared() && !(inTransaction_ && slotHeld));
  ValidateRecord(image);
  CheckBlobHandles(image);

  const bool keepIds = keepRecordIDs_ || rollbackRunning_;
  std::array<std::uint8_t, DeletedKeyLength> stateKey{};
  Key staleKey{};
  std::int32_t staleSlot = 0;
  if (keepIds) {
    // A kept id must identify one record: not 0, not one a live record has.
    const std::int32_t id = GetUniqueID(image);
    indexFile_->SelectIndex(DeletedIndexSlot);
    const std::uint8_t live[1] = {0};
    BuildDeletedKey(live, stateKey.data(), image);
    if (id == 0 || indexFile_->KeyExists(stateKey)) Raise(ec::KeyViolation);
    // The id's old slot, deleted and not reused since, gives the id up when the record comes back
    // elsewhere (another cursor freed the slot it gets): an id names one slot in the record states.
    const std::uint8_t deleted[1] = {1};
    BuildDeletedKey(deleted, staleKey.data(), image);
    staleSlot = indexFile_->KeyRecordNumber(std::span(staleKey.data(), DeletedKeyLength));
    if (staleSlot == slot) staleSlot = 0;
  } else {
    if (header_.LastUniqueID == std::numeric_limits<std::int32_t>::max()) Raise(ec::KeyViolation);
    SetUniqueID(image, header_.LastUniqueID + 1);
  }

  const std::uint8_t indexCount = indexFile_->IndexCount();
  std::array<Key, IndexSlotCount> keys;
  std::array<TIndexFile::TKeyChange, IndexSlotCount> inserts;
  std::size_t insertCount = 0;
  for (std::uint8_t n = 0; n <= indexCount; ++n) {
    if (indexFile_->Header().Descriptors[n].KeyLength == 0) continue;  // no primary index defined
    indexFile_->SelectIndex(n);
    keys[n].fill(0);
    BuildKey(n, image, image, keys[n].data());
    inserts[insertCount++] = {n, nullptr, keys[n].data()};
  }
  // Each insert finds a key already there in its own descent; a violation at any index leaves them all
  // as they were.
  indexFile_->ChangeKeys(std::span(inserts.data(), insertCount), slot);
  TKeyChangeLog log(*indexFile_);
  for (std::size_t i = 0; i < insertCount; ++i) log.Inserted(inserts[i].Index, keys[inserts[i].Index], slot);

  // The record-state index: the slot's key goes from deleted to live, or a new slot gets one.
  Key liveKey{};
  const std::uint8_t live[1] = {0};
  BuildDeletedKey(live, liveKey.data(), image);
  TRecord* stale = nullptr;
  std::vector<std::uint8_t> staleImage;
  bool staleDirty = false;
  if (staleSlot != 0) {
    stale = FetchRecord(staleSlot);
    if (!stale->Deleted()) Raise(ec::RecordBuffersCorrupt);
    const std::int32_t highest = std::max(header_.LastUniqueID, GetUniqueID(image));
    if (highest == std::numeric_limits<std::int32_t>::max()) Raise(ec::KeyViolation);
    staleImage.assign(stale->Buffer(), stale->Buffer() + stale->BufferSize());
    staleDirty = stale->Dirty();
    stale->SetUniqueID(highest + 1);
    stale->SetDirty(true);
    header_.LastUniqueID = highest + 1;
    Key freshKey{};
    const std::uint8_t deleted[1] = {1};
    BuildDeletedKey(deleted, freshKey.data(), stale->Buffer());
    log.Replace(DeletedIndexSlot, staleKey, freshKey, staleSlot);
  }
  TOnFailure restoreStale([&] {
    if (stale) {
      std::memcpy(stale->Buffer(), staleImage.data(), staleImage.size());
      stale->SetDirty(staleDirty);
    }
  });
  TRecord* record;
  std::vector<std::uint8_t> reusedImage;
  bool reusedDirty = false;
  if (fromChain) {
    record = FetchRecord(slot);
    if (!record->Deleted()) Raise(ec::RecordBuffersCorrupt);
    reusedImage.assign(record->Buffer(), record->Buffer() + record->BufferSize());
    reusedDirty = record->Dirty();
    Key deletedKey{};
    const std::uint8_t deleted[1] = {1};
    BuildDeletedKey(deleted, deletedKey.data(), record->Buffer());
    log.Replace(DeletedIndexSlot, deletedKey, liveKey, slot);
    header_.DeletedChainHead = static_cast<std::uint32_t>(record->NextDeleted());
  } else {
    record = AllocateRecord();
    log.Insert(DeletedIndexSlot, liveKey, slot);
  }

  // A failure from here on puts the reused slot back as it was: deleted, on the chain.
  TOnFailure restoreSlot([&] {
    if (!reusedImage.empty()) {
      std::memcpy(record->Buffer(), reusedImage.data(), reusedImage.size());
      record->SetDirty(reusedDirty);
    }
  });
  const std::int32_t logged = LogEntryCount();
  TOnFailure unlog([&] { RemoveLogEntriesAfter(logged); });
  std::memset(record->Buffer(), 0, record->BufferSize());
  const std::int32_t id = NextUniqueID();
  record->SetUniqueID(keepIds ? GetUniqueID(image) : id);
  if (keepIds && GetUniqueID(image) > header_.LastUniqueID) header_.LastUniqueID = GetUniqueID(image);
  record->SetData(image);
  indexFile_->Recount();
  WriteLogEntry(record->Buffer(), 1);
  SaveRecordBlobs(*record);
  log.Commit();
  currentRecord_ = record;
  // The new record is current even when the cursor stood before the first or after the last record.
  indexFile_->LeaveEnds();
  // Outside a transaction the slot's lock goes with the header's.
  const bool slotReleased = section.CommitReleasing(IsShared() && !inTransaction_ ? slot : 0);
  restoreStale.Dismiss();
  restoreSlot.Dismiss();
  unlog.Dismiss();
  if (inTransaction_ || slotReleased) slotUnlock.Dismiss();
}

void TDataFile::UpdateRecord(std::uint8_t* image, bool unlock) {
  const std::int32_t intended = currentRecord_ ? currentRecord_->RecordNumber() : 0;
  TCursorGuard guard(*this);
  // A record this cursor has not locked is locked for the update alone, before the section: a wait
  // for it must not hold the writer locks that every other process needs.
  const bool lockedHere = intended != 0 && IsShared() && !IsRecordLocked(intended);
  if (lockedHere) AcquireRecordLock(intended);
  TRecordUnlock autoUnlock(*this, intended, lockedHere);
  TWriteSection section(*this, false);
  TRecord* record = currentRecord_;
  // The record to change must still be the one the caller saw.
  if (!record || record->RecordNumber() != intended || record->Deleted() || indexFile_->Bof() || indexFile_->Eof()) {
    Raise(ec::RecordNotFound);
  }
  const std::int32_t number = record->RecordNumber();
  ValidateRecord(image);
  CheckBlobHandles(image);
  SetUniqueID(image, record->UniqueID());

  const std::uint8_t indexCount = indexFile_->IndexCount();
  std::array<Key, IndexSlotCount> oldKeys, newKeys;
  std::array<TIndexFile::TKeyChange, IndexSlotCount> replaces;
  std::size_t replaceCount = 0;
  for (std::uint8_t n = 0; n <= indexCount; ++n) {
    if (indexFile_->Header().Descriptors[n].KeyLength == 0) continue;
    indexFile_->SelectIndex(n);
    oldKeys[n].fill(0);
    newKeys[n].fill(0);
    BuildKey(n, record->Buffer(), record->Buffer(), oldKeys[n].data());
    BuildKey(n, image, image, newKeys[n].data());
    if (!SameKey(oldKeys[n], newKeys[n], indexFile_->KeyLength())) {
      replaces[replaceCount++] = {n, oldKeys[n].data(), newKeys[n].data()};
    }
  }
  // An update that changes no key leaves the index alone.
  if (replaceCount > 0) indexFile_->ChangeKeys(std::span(replaces.data(), replaceCount), number);
  TKeyChangeLog log(*indexFile_);
  for (std::size_t i = 0; i < replaceCount; ++i) {
    const std::uint8_t n = replaces[i].Index;
    log.Replaced(n, oldKeys[n], newKeys[n], number);
  }
  indexFile_->Recount();
  const std::int32_t logged = LogEntryCount();
  TOnFailure unlog([&] { RemoveLogEntriesAfter(logged); });
  WriteLogEntry(record->Buffer(), 2);
  WriteLogEntry(image, 3);

  if (HasBlobFields()) {
    const std::vector<std::uint8_t> before(record->Buffer(), record->Buffer() + record->BufferSize());
    // The chains the image's open blobs were loaded from: saving them keeps, cuts or frees them.
    std::vector<std::int32_t> saved;
    for (const TFieldDescriptor& field : fields_) {
      if (field.Type != ftBlob) continue;
      const std::int32_t reference = LoadI32(image + field.SlotOffset + 1);
      const bool handle = reference < 0 && reference != std::numeric_limits<std::int32_t>::min();
      const TBlobBuffer* open = handle ? blobFile_->FindBlob(-reference) : nullptr;
      if (open && open->FirstBlock() != 0) saved.push_back(open->FirstBlock());
    }
    record->SetData(image);
    try {
      SaveRecordBlobs(*record);
      // A chain the image no longer names (a rollback puts logged blobs into new chains) is freed by
      // the same change, after the new chains took their blocks: its blocks join the free list only
      // once the record on the file names the new chain.
      FreeReplacedChains(before.data(), *record, saved);
    } catch (...) {
      std::memcpy(record->Buffer(), before.data(), before.size());
      throw;
    }
  } else {
    record->SetData(image);
  }
  log.Commit();
  if (replaceCount == 0) section.KeysUnchanged();
  section.Commit();
  unlog.Dismiss();
  // A record changed inside a transaction stays locked until it ends, so no other process changes
  // it before a rollback puts it back.
  if (lockedHere && inTransaction_ && !rollbackRunning_) autoUnlock.Dismiss();
  if (unlock && !inTransaction_ && !lockedHere) ReleaseRecordLock(number);
}

void TDataFile::DeleteRecord() {
  const std::int32_t intended = currentRecord_ ? currentRecord_->RecordNumber() : 0;
  TCursorGuard guard(*this);
  // Locked before the section, so a wait for it holds no header or writer lock.
  if (intended != 0) AcquireRecordLock(intended);
  TRecordUnlock unlock(*this, intended, intended != 0 && IsShared());
  TWriteSection section(*this, true);
  TRecord* record = currentRecord_;
  if (!record || record->RecordNumber() != intended || record->Deleted() || indexFile_->Bof() || indexFile_->Eof()) {
    Raise(ec::RecordNotFound);
  }
  const std::int32_t number = record->RecordNumber();
  std::vector<std::uint8_t> copy(record->Buffer(), record->Buffer() + record->BufferSize());

  const std::uint8_t indexCount = indexFile_->IndexCount();
  std::vector<Key> keys(indexCount + 1u);
  for (std::uint8_t n = 0; n <= indexCount; ++n) {
    if (indexFile_->GetDescriptor(n).KeyLength == 0) continue;
    indexFile_->SelectIndex(n);
    keys[n].fill(0);
    BuildKey(n, copy.data(), copy.data(), keys[n].data());
    // Every key must be there before any goes.
    if (!indexFile_->KeyExists(std::span(keys[n].data(), indexFile_->KeyLength()))) Raise(ec::KeyNotFound);
  }
  TKeyChangeLog log(*indexFile_);
  for (std::uint8_t n = 0; n <= indexCount; ++n) {
    if (indexFile_->GetDescriptor(n).KeyLength != 0) log.Delete(n, keys[n], number);
  }
  Key liveKey{}, deletedKey{};
  const std::uint8_t live[1] = {0};
  const std::uint8_t deleted[1] = {1};
  BuildDeletedKey(live, liveKey.data(), copy.data());
  BuildDeletedKey(deleted, deletedKey.data(), copy.data());
  log.Replace(DeletedIndexSlot, liveKey, deletedKey, number);
  indexFile_->Recount();
  const std::int32_t logged = LogEntryCount();
  TOnFailure unlog([&] { RemoveLogEntriesAfter(logged); });
  WriteLogEntry(copy.data(), 0);

  if (HasBlobFields()) {
    // Each blob is opened, cut to nothing and saved, which frees its chain.
    std::vector<std::int32_t> handles;
    try {
      for (const TFieldDescriptor& field : fields_) {
        if (field.Type != ftBlob) continue;
        const std::int32_t reference = LoadI32(copy.data() + field.SlotOffset + 1);
        if (reference <= 0) continue;
        std::int32_t handle = 0;
        const TErrorCode code = blobFile_->OpenBlobHandle(reference, field.FieldNumber, handle);
        if (code != ec::Success) Raise(code);
        handles.push_back(handle);
        blobFile_->SetBlobSize(handle, 0);
        StoreI32(copy.data() + field.SlotOffset + 1, -handle);
      }
      blobFile_->SaveBlobs(copy.data());
      blobFile_->StoreBlobOffsets(copy.data());
    } catch (...) {
      for (std::int32_t handle : handles) {
        std::int32_t first = 0;
        blobFile_->CloseBlobHandle(handle, first);
      }
      throw;
    }
    for (std::int32_t handle : handles) {
      std::int32_t first = 0;
      blobFile_->CloseBlobHandle(handle, first);
    }
    std::memcpy(record->Buffer() + RecordPrefixSize, copy.data() + RecordPrefixSize,
                record->BufferSize() - RecordPrefixSize);
  }
  FreeRecordSlot(*record);
  log.Commit();
  section.Commit();
  unlog.Dismiss();
}

}  // namespace kavrin::engine
