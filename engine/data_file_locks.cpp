// Record and table locks, the read and write sections, and record navigation.
#include <cstring>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/primitives.h"

namespace kavrin::engine {
namespace {

// Record n locks the byte 0x7FFFFFFF - n, below the header byte.
constexpr std::int64_t kLockTop = 0x7FFFFFFF;
// The table lock covers the lock bytes of every record number a table can have (the first 2,000,000
// of them are the byte range every version of the lock protocol uses), so a table lock and any record
// lock exclude each other.
constexpr std::int64_t kTableLockOffset = 1;
constexpr std::int64_t kTableLockLength = kLockTop - 1;

bool ValidRecordNumber(std::int32_t n) { return n >= 1 && n < kLockTop; }

}  // namespace

TCursorGuard::TCursorGuard(TDataFile& table) : table_(table) {
  if (table_.busy_) {
    if (!table_.ownCall_) table_.Raise(ec::FileInUse);
    table_.ownCall_ = false;
    return;
  }
  table_.busy_ = true;
  owner_ = true;
}

TReadSection::TReadSection(TDataFile& table) : table_(table) {
  if (!table_.IsShared()) return;
  table_.indexFile_->ReadLock();
  locked_ = true;
  try {
    table_.indexFile_->CheckHeaderChanged();
    table_.indexFile_->SetHeaderCurrent(true);
  } catch (...) {
    Release();
    throw;
  }
}

TReadSection::~TReadSection() {
  try {
    Release();
  } catch (...) {
    // The unlock failed: the descriptor's close releases the byte in the end; an error here would
    // hide the one that may be on its way out.
  }
}

void TReadSection::Finish() {
  table_.CheckHeaderChanged();
  table_.MakeCurrentAtCursor();
}

void TReadSection::Release() {
  if (!locked_) return;
  locked_ = false;
  table_.indexFile_->ReadUnlock();
}

TWriteSection::TWriteSection(TDataFile& table, bool headerLock) : table_(table) {
  if (table_.ReadOnly()) table_.Raise(ec::AccessDenied);
  const bool shared = table_.IsShared();
  try {
    if (shared && headerLock) {
      table_.LockHeader();
      headerLocked_ = true;
    }
    // A table lock keeps other writers out but not readers: they must never see the index half
    // changed, so the index writer lock is taken under a table lock as well.
    if (!table_.Exclusive() && !table_.ReadOnlyOnDisk()) {
      table_.indexFile_->WriteLock();
      indexLocked_ = true;
    }
    if (table_.HasBlobFields() && !table_.Exclusive() && !table_.ReadOnlyOnDisk()) {
      table_.blobFile_->WriteLock();
      blobLocked_ = true;
    }
    if (shared) {
      table_.indexFile_->CheckHeaderChanged();
      table_.indexFile_->SetHeaderCurrent(true);
      table_.CheckHeaderChanged();
      if (headerLock) table_.headerLocked_ = true;
      table_.MakeCurrentAtCursor();
      if (table_.HasBlobFields()) {
        table_.blobFile_->CheckHeaderChanged();
        table_.blobFile_->SetHeaderKnown(true);
      }
    }
  } catch (...) {
    ReleaseLocks();
    throw;
  }
  activeIndex_ = table_.indexFile_->CurrentIndex();
  table_.indexFile_->WatchInserts(activeIndex_);
  savedHeader_ = table_.header_;
  if (!table_.Exclusive()) {
    savedBof_ = table_.indexFile_->Bof();
    savedEof_ = table_.indexFile_->Eof();
    try {
      savedKey_ = table_.indexFile_->CurrentKey();
    } catch (...) {
      ReleaseLocks();
      throw;
    }
  }
}

void TWriteSection::Finish() {
  table_.indexFile_->SelectIndex(activeIndex_);
  TIndexFile& index = *table_.indexFile_;
  const bool inPlace = keysUnchanged_ && table_.Exclusive() && !table_.InMemory() && table_.FilterCount() == 0 &&
                       !index.FiltersActive() && !index.CallbackActive() && table_.currentRecord_ && index.HasKey() &&
                       !index.Bof() && !index.Eof() &&
                       index.CurrentRecordNumber() == table_.currentRecord_->RecordNumber();
  if (!inPlace) table_.SyncIndexPositionAfterChange();
  table_.MakeCurrentAtCursor();
  // What changed reaches the files before any lock goes, so other processes find it at their next
  // change check, and a table lock never holds changes that a crash could lose.
  if (!table_.Exclusive() && !table_.ReadOnlyOnDisk()) table_.WriteThrough();
  committed_ = true;
}

void TWriteSection::Commit() {
  Finish();
  ReleaseLocks();
}

bool TWriteSection::CommitReleasing(std::int32_t record) {
  Finish();
  return ReleaseLocks(record);
}

TWriteSection::~TWriteSection() {
  if (!committed_) {
    // Nothing of a failed change may be written later: the header copy goes back, the index forgets
    // its unwritten pages, and records the change made are dropped.
    try {
      table_.header_ = savedHeader_;
      if (!table_.Exclusive()) {
        table_.indexFile_->DiscardChanges();
        table_.DropRecordCache();
        if (table_.HasBlobFields()) {
          // The blob header copy may hold a free list and an end offset that were never written.
          table_.blobFile_->ClearBlockCache();
          table_.blobFile_->SetHeaderKnown(false);
          table_.blobFile_->ReadHeader();
        }
        // The cursor may stand on a page the change made and never wrote: found again in the pages
        // the file holds, it works on once the cause of the failure is gone.
        table_.indexFile_->SelectIndex(activeIndex_);
        table_.indexFile_->ApplyRange();
        table_.BuildFilterBitmap();
        if (savedBof_ || savedKey_.empty()) {
          table_.indexFile_->FirstKey();
          table_.indexFile_->MoveBy(-1);
        } else if (savedEof_) {
          table_.indexFile_->LastKey();
          table_.indexFile_->MoveBy(1);
        } else {
          table_.indexFile_->FindKey(savedKey_, true, true);
        }
      } else {
        table_.ForgetRecordsFrom(savedHeader_.NextRecordNumber);
      }
      // The cursor stays where it was, on the index it was on, so the caller can correct and retry.
      table_.indexFile_->SelectIndex(activeIndex_);
      table_.MakeCurrentAtCursor();
    } catch (...) {
    }
  }
  ReleaseLocks();
}

bool TWriteSection::ReleaseLocks(std::int32_t record) noexcept {
  bool recordReleased = false;
  if (blobLocked_) {
    blobLocked_ = false;
    try {
      table_.blobFile_->WriteUnlock();
    } catch (...) {
    }
  }
  if (indexLocked_) {
    indexLocked_ = false;
    try {
      table_.indexFile_->WriteUnlock();
    } catch (...) {
    }
    // Under a table lock nobody else changes the index: its header copy stays current.
    if (table_.tableLocked_) table_.indexFile_->SetHeaderCurrent(true);
  }
  if (headerLocked_) {
    headerLocked_ = false;
    try {
      if (record != 0 && table_.IsRecordLocked(record)) {
        recordReleased = table_.UnlockHeaderWithRecord(record);
      } else {
        table_.UnlockHeader();
      }
    } catch (...) {
    }
  }
  return recordReleased;
}

void TDataFile::ForgetRecordsFrom(std::int32_t recordNumber) {
  for (std::uint32_t slot = newestSlot_; slot != kNoSlot;) {
    const std::uint32_t older = cacheSlots_[slot].Older;
    if (cacheSlots_[slot].Record->RecordNumber() >= recordNumber) {
      if (cacheSlots_[slot].Record.get() == currentRecord_) currentRecord_ = nullptr;
      RecycleRecord(slot);
    }
    slot = older;
  }
}

void TDataFile::MakeCurrentAtCursor() { currentRecord_ = FetchRecord(indexFile_->CurrentRecordNumber()); }

void TDataFile::Refresh() {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  section.Finish();
}

bool TDataFile::TryRecordLock(std::int32_t recordNumber) {
  if (!LockRange(kLockTop - recordNumber, 1, true)) return false;
  AddLockedRecord(recordNumber);
  return true;
}

void TDataFile::LockRecord(std::int32_t recordNumber) {
  TCursorGuard guard(*this);
  AcquireRecordLock(recordNumber);
}

void TDataFile::UnlockRecord(std::int32_t recordNumber) {
  TCursorGuard guard(*this);
  ReleaseRecordLock(recordNumber);
}

void TDataFile::AcquireRecordLock(std::int32_t recordNumber) {
  if (!IsShared()) return;
  if (recordNumber == 0) {
    if (!currentRecord_) return;  // no current record: nothing to lock (never the header byte)
    recordNumber = currentRecord_->RecordNumber();
  }
  if (!ValidRecordNumber(recordNumber)) Raise(ec::RecordLocked);
  if (IsRecordLocked(recordNumber)) return;  // held by this cursor already
  for (std::int32_t failures = 0; !TryRecordLock(recordNumber);) {
    if (++failures > lockRetryCount_) Raise(ec::RecordLocked);
    WaitMilliseconds(lockWaitTime_);
  }
}

void TDataFile::ReleaseRecordLock(std::int32_t recordNumber) {
  if (recordNumber == 0 && currentRecord_) recordNumber = currentRecord_->RecordNumber();
  if (!IsShared()) {
    RemoveLockedRecord(recordNumber);
    return;
  }
  if (recordNumber == 0) {
    if (!currentRecord_) return;
    recordNumber = currentRecord_->RecordNumber();
  }
  if (!ValidRecordNumber(recordNumber) || !LockRange(kLockTop - recordNumber, 1, false)) Raise(ec::CannotUnlock);
  RemoveLockedRecord(recordNumber);
}

void TDataFile::UnlockAllRecords() {
  // Newest first; every entry goes, so the loop ends whatever the unlocks report.
  const std::vector<std::int32_t> held(lockedRecords_.rbegin(), lockedRecords_.rend());
  std::exception_ptr failure;
  for (std::int32_t record : held) {
    try {
      ReleaseRecordLock(record);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    RemoveLockedRecord(record);
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataFile::LockTable() {
  if (Exclusive() || ReadOnlyOnDisk() || tableLocked_ || inTransaction_) return;
  TCursorGuard guard(*this);
  // This cursor's own record locks keep its table lock out, on disk and in memory alike.
  if (!lockedRecords_.empty()) Raise(ec::TableLocked);
  for (std::int32_t failures = 0; !LockRange(kTableLockOffset, kTableLockLength, true);) {
    if (++failures > lockRetryCount_) Raise(ec::TableLocked);
    WaitMilliseconds(lockWaitTime_);
  }
  try {
    indexFile_->CheckHeaderChanged();
    indexFile_->SetHeaderCurrent(true);
    CheckHeaderChanged();
    MakeCurrentAtCursor();
    if (HasBlobFields()) {
      blobFile_->CheckHeaderChanged();
      blobFile_->SetHeaderKnown(true);
    }
  } catch (...) {
    LockRange(kTableLockOffset, kTableLockLength, false);
    indexFile_->SetHeaderCurrent(false);
    throw;
  }
  tableLocked_ = true;
}

void TDataFile::UnlockTable() {
  if (Exclusive() || ReadOnlyOnDisk()) return;
  if (inTransaction_) {
    deferredTableUnlock_ = true;
    return;
  }
  if (!tableLocked_ || !LockRange(kTableLockOffset, kTableLockLength, false)) Raise(ec::CannotUnlock);
  indexFile_->SetHeaderCurrent(false);
  if (HasBlobFields()) blobFile_->SetHeaderKnown(false);
  tableLocked_ = false;
}

void TDataFile::CopyCurrent(std::uint8_t* buffer) const {
  if (buffer && currentRecord_) std::memcpy(buffer, currentRecord_->Buffer(), header_.RecordSize);
}

void TDataFile::GotoBOF() {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->FirstKey();
  indexFile_->MoveBy(-1);
  section.Finish();
}

void TDataFile::GotoEOF() {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->LastKey();
  indexFile_->MoveBy(1);
  section.Finish();
}

void TDataFile::GotoRecordNo(std::uint32_t position) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->GotoPosition(static_cast<std::int32_t>(std::min<std::uint32_t>(position, 0x7FFFFFFF)));
  section.Finish();
}

TErrorCode TDataFile::GetCurrent(std::uint8_t* buffer, bool lock) {
  TCursorGuard guard(*this);
  for (std::int32_t failures = 0;; ++failures) {
    TReadSection section(*this);
    section.Finish();
    // Before the first or after the last record there is nothing to edit, so nothing is locked.
    const bool onRecord = currentRecord_ && !indexFile_->Bof() && !indexFile_->Eof();
    if (lock && onRecord && IsShared() && !IsRecordLocked(currentRecord_->RecordNumber()) &&
        !TryRecordLock(currentRecord_->RecordNumber())) {
      // Never wait for a record while holding the index read lock: the holder of the record may need
      // the index writer lock to finish.
      section.Release();
      if (failures >= lockRetryCount_) Raise(ec::RecordLocked);
      WaitMilliseconds(lockWaitTime_);
      continue;
    }
    if (indexFile_->Bof()) {
      if (buffer) InitRecord(buffer);
      return ec::BeginningOfFile;
    }
    if (indexFile_->Eof()) {
      if (buffer) InitRecord(buffer);
      return ec::EndOfFile;
    }
    CopyCurrent(buffer);
    return ec::Success;
  }
}

TErrorCode TDataFile::Next(std::uint8_t* buffer) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  if (indexFile_->Bof()) {
    indexFile_->FirstKey();
  } else {
    indexFile_->MoveBy(1);
  }
  section.Finish();
  if (indexFile_->Eof()) return ec::EndOfFile;
  CopyCurrent(buffer);
  return ec::Success;
}

TErrorCode TDataFile::Prior(std::uint8_t* buffer) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  if (indexFile_->Eof()) {
    indexFile_->LastKey();
  } else {
    indexFile_->MoveBy(-1);
  }
  section.Finish();
  if (indexFile_->Bof()) return ec::BeginningOfFile;
  CopyCurrent(buffer);
  return ec::Success;
}

bool TDataFile::RecordLocked() const {
  return currentRecord_ && !indexFile_->Bof() && !indexFile_->Eof() && IsRecordLocked(currentRecord_->RecordNumber());
}

std::int32_t TDataFile::RecordNo() { return indexFile_->PositionInRange(); }
std::int32_t TDataFile::RecordCount() { return indexFile_->RangeRecordCount(); }
bool TDataFile::AtEOF() const { return indexFile_->Eof(); }
bool TDataFile::AtBOF() const { return indexFile_->Bof(); }
bool TDataFile::RangeActive() const { return indexFile_->RangeActive(); }
bool TDataFile::FiltersActive() const { return indexFile_->FiltersActive(); }
std::uint8_t TDataFile::ActiveIndex() const { return indexFile_->CurrentIndex(); }

}  // namespace kavrin::engine
