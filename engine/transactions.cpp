// Transactions: while one is open every change of this cursor is also written, as whole record images
// with copies of their blobs, into a log table; commit throws the log away, rollback replays it
// newest first.
//
// The log's records begin with the table's record image (its fields come first, with the same
// definitions, so the slots line up), followed by the three log fields.
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/generated_names.h"
#include "engine/index_file.h"
#include "engine/password_list.h"
#include "engine/primitives.h"

namespace kavrin::engine {
namespace {

constexpr const char* kOpNumName = "Op___Num";
constexpr const char* kOpTypeName = "Op___Type";
constexpr const char* kIntIdName = "Int___ID";
// The log fields' slots: an integer, a word and an integer, each with its has-value byte.
constexpr std::uint32_t kLogFieldBytes = 5 + 3 + 5;

enum TLogOperation : std::uint16_t { LogDeleted = 0, LogInserted = 1, LogBeforeUpdate = 2, LogAfterUpdate = 3 };

}  // namespace

void TDataFile::StartTransaction() {
  if (ReadOnly()) return;
  TCursorGuard guard(*this);
  if (inTransaction_) Raise(ec::FileInUse);
  deferredTableUnlock_ = false;

  // Everything that could make the log impossible is checked before anything is made.
  std::int16_t highest = 0;
  for (const TFieldDescriptor& field : fields_) {
    highest = std::max(highest, field.FieldNumber);
    const std::string name = UpperTrimmed(field.Name);
    if (name == UpperTrimmed(kOpNumName) || name == UpperTrimmed(kOpTypeName) || name == UpperTrimmed(kIntIdName)) {
      RaiseEngineError(ec::InvalidFieldName, field.Name);
    }
  }
  if (fields_.size() + 3 > MaxFieldCount || highest > std::numeric_limits<std::int16_t>::max() - 3) {
    Raise(ec::FieldLimits);
  }
  if (static_cast<std::uint32_t>(header_.RecordSize) + kLogFieldBytes > 0xFFFF) Raise(ec::RecordSizeExceeded);

  std::vector<TFieldDescriptor> logFields = fields_;
  for (TFieldDescriptor& field : logFields) {
    // The log stores images the table accepted; its own checks must never refuse one.
    field.Required = false;
    field.Minimum.clear();
    field.Maximum.clear();
    field.Default.clear();
  }
  auto logField = [](std::int16_t number, const char* name, std::uint8_t type) {
    TFieldDescriptor field;
    field.FieldNumber = number;
    field.Name = name;
    field.Type = type;
    return field;
  };
  logFields.push_back(logField(static_cast<std::int16_t>(highest + 1), kOpNumName, ftInteger));
  logFields.push_back(logField(static_cast<std::int16_t>(highest + 2), kOpTypeName, ftWord));
  logFields.push_back(logField(static_cast<std::int16_t>(highest + 3), kIntIdName, ftInteger));
  TIndexDescriptor primary;
  primary.KeyFields[0] = static_cast<std::int16_t>(highest + 1);
  primary.Unique = 1;
  primary.Descending = 1;  // the newest entry first

  const std::string directory =
      FileName().substr(0, FileName().rfind('/') == std::string::npos ? 0 : FileName().rfind('/') + 1);
  const bool inMemory = InMemory() || transactionsInMemory_;
  auto log = std::make_unique<TDataFile>(owner_);
  log->SetInMemory(inMemory);
  log->SetExclusive(true);
  log->SetFileName(UniqueLogFileName(directory, inMemory));
  try {
    // A table with a password gets a log scrambled with the same password.
    const std::string password = header_.Encrypted ? header_.Password : std::string();
    TTemporaryPassword known(password);
    log->CreateTable(header_.Encrypted, password, {primary}, logFields, BlobBlockSize(),
                     "Transaction Log for " + FileName());
    log->Open();
  } catch (...) {
    try {
      if (log->Opened()) log->Close();
      const std::vector<TFileHandler*> files = log->ClosedTableFiles();
      for (auto it = files.rbegin(); it != files.rend(); ++it) (*it)->EraseFile();
    } catch (...) {
    }
    throw;
  }
  logOpNum_ = static_cast<std::int16_t>(highest + 1);
  logOpType_ = static_cast<std::int16_t>(highest + 2);
  logIntId_ = static_cast<std::int16_t>(highest + 3);
  logFile_ = std::move(log);
  inTransaction_ = true;
}

void TDataFile::WriteLogEntry(const std::uint8_t* image, std::uint16_t operation) {
  if (!inTransaction_ || rollbackRunning_ || !logFile_) return;
  TDataFile& log = *logFile_;
  std::vector<std::uint8_t> entry(log.RecordSize(), 0);
  std::memcpy(entry.data(), image, header_.RecordSize);
  std::vector<std::uint8_t> source(image, image + header_.RecordSize);
  std::vector<std::uint8_t> sourceCopy = source;
  std::vector<std::int16_t> blobFields;
  // Every blob opened for the copy is closed again, also when the entry cannot be written.
  TOnFailure closeCopies([&] {
    for (std::int16_t field : blobFields) {
      CloseCopiedBlob(log, *this, field, entry.data(), sourceCopy.data(), source.data());
    }
  });
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    blobFields.push_back(field.FieldNumber);
    const TErrorCode code = CopyBlob(log, *this, field.FieldNumber, entry.data(), sourceCopy.data());
    if (code != ec::Success) Raise(code);
  }
  const std::int32_t number = log.RecordCount() + 1;
  const std::int32_t id = GetUniqueID(image);
  log.SetField(logOpNum_, entry.data(), &number);
  log.SetField(logOpType_, entry.data(), &operation);
  log.SetField(logIntId_, entry.data(), &id);
  log.InsertRecord(entry.data());
  closeCopies.Dismiss();
  for (std::int16_t field : blobFields) {
    const TErrorCode code = CloseCopiedBlob(log, *this, field, entry.data(), sourceCopy.data(), source.data());
    if (code != ec::Success) Raise(code);
  }
}

std::int32_t TDataFile::LogEntryCount() const {
  return inTransaction_ && !rollbackRunning_ && logFile_ ? logFile_->RecordCount() : 0;
}

void TDataFile::RemoveLogEntriesAfter(std::int32_t count) {
  if (!inTransaction_ || rollbackRunning_ || !logFile_) return;
  TDataFile& log = *logFile_;
  std::vector<std::uint8_t> entry(log.RecordSize());
  // The log's order is newest first: remove from the front while the entries are this change's.
  for (;;) {
    log.GotoBOF();
    if (log.Next(entry.data()) != ec::Success) return;
    std::int32_t number = 0;
    bool isNull = true;
    log.GetField(logOpNum_, entry.data(), isNull, &number);
    if (number <= count) return;
    log.DeleteRecord();
  }
}

void TDataFile::DropLog() {
  // However deleting the log ends, the transaction is over: no state may point at a log that is gone.
  struct TEnd {
    TDataFile& table;
    ~TEnd() {
      table.inTransaction_ = false;
      table.logOpNum_ = table.logOpType_ = table.logIntId_ = 0;
    }
  } end{*this};
  if (logFile_) {
    std::unique_ptr<TDataFile> log = std::move(logFile_);
    try {
      if (log->Opened()) {
        log->EmptyTable();
        log->Close();
      }
    } catch (...) {
      log->CloseWithoutWriting();
    }
    // The data file last: it holds the generated name until no file of the log is left.
    const std::vector<TFileHandler*> files = log->ClosedTableFiles();
    for (auto it = files.rbegin(); it != files.rend(); ++it) (*it)->EraseFile();
  }
}

void TDataFile::EndTransaction() {
  std::exception_ptr failure;
  try {
    DropLog();
  } catch (...) {
    failure = std::current_exception();
  }
  // The transaction's record locks always go; then a table unlock asked for during it.
  UnlockAllRecords();
  if (deferredTableUnlock_) {
    deferredTableUnlock_ = false;
    if (tableLocked_) UnlockTable();
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataFile::Commit() {
  if (ReadOnly() || !inTransaction_) return;
  TCursorGuard guard(*this);
  EndTransaction();
}

void TDataFile::RestoreBlobsFromLog(std::uint8_t* logEntry, std::uint8_t* image) {
  TDataFile& log = *logFile_;
  auto check = [this](TErrorCode code) {
    if (code != ec::Success) Raise(code);
  };
  TOnFailure closeAll([&] {
    CloseRecordBlobs(image);
    for (const TFieldDescriptor& field : fields_) {
      if (field.Type == ftBlob && log.BlobIsOpen(field.FieldNumber, logEntry))
        log.CloseBlob(field.FieldNumber, logEntry);
    }
  });
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type != ftBlob) continue;
    // The logged contents go into a new chain, and the update frees the record's chain once the record
    // names the new one: a crash leaves the record with its fields and blobs from before the rollback,
    // or from after it, never the blob of one with the fields of the other.
    StoreI32(image + field.SlotOffset + 1, 0);
    check(OpenBlobUnlocked(field.FieldNumber, image));
    std::int32_t size = 0;
    std::vector<std::uint8_t> data;
    if (log.GetBlobReference(field.FieldNumber, logEntry) != 0) {
      check(log.OpenBlobUnlocked(field.FieldNumber, logEntry));
      check(log.BlobSize(field.FieldNumber, logEntry, size));
      data.resize(static_cast<std::size_t>(size));
      std::int32_t read = 0;
      check(log.ReadBlob(field.FieldNumber, logEntry, 0, size, data.data(), read));
      check(log.CloseBlob(field.FieldNumber, logEntry));
    }
    check(TruncateBlob(field.FieldNumber, image, 0));
    if (size > 0) check(WriteBlob(field.FieldNumber, image, 0, size, data.data()));
  }
  closeAll.Dismiss();
}

void TDataFile::CloseRecordBlobs(std::uint8_t* image) {
  for (const TFieldDescriptor& field : fields_) {
    if (field.Type == ftBlob && BlobIsOpen(field.FieldNumber, image)) CloseBlob(field.FieldNumber, image);
  }
}

void TDataFile::ReplayLog() {
  if (!logFile_) return;
  TDataFile& log = *logFile_;
  std::vector<std::uint8_t> entry(log.RecordSize());
  std::vector<std::uint8_t> image(header_.RecordSize);
  auto takeImage = [&] {
    std::memcpy(image.data(), entry.data(), image.size());
    std::int32_t id = 0;
    bool isNull = true;
    log.GetField(logIntId_, entry.data(), isNull, &id);
    SetUniqueID(image.data(), id);
  };
  auto operationOf = [&] {
    std::uint16_t type = 0;
    bool isNull = true;
    log.GetField(logOpType_, entry.data(), isNull, &type);
    return type;
  };
  // Rewrites the found record with the image (locked until the transaction ends) or brings it back.
  auto rewrite = [&](bool found) {
    if (found) AcquireRecordLock(0);
    if (HasBlobFields()) RestoreBlobsFromLog(entry.data(), image.data());
    try {
      TOwnCall call(*this);
      if (found) {
        UpdateRecord(image.data(), false);
      } else {
        InsertRecord(image.data());
      }
    } catch (...) {
      CloseRecordBlobs(image.data());
      throw;
    }
    CloseRecordBlobs(image.data());
  };
  auto findByPrimaryKey = [&] {
    TOwnCall call(*this);
    return FindKey(false, image.data(), nullptr, 0, false, 0);
  };
  log.GotoBOF();
  while (log.Next(entry.data()) == ec::Success) {
    takeImage();
    switch (operationOf()) {
      case LogDeleted: rewrite(findByPrimaryKey()); break;
      case LogInserted:
        if (findByPrimaryKey()) {
          TOwnCall call(*this);
          DeleteRecord();
        }
        break;
      case LogAfterUpdate:
        if (findByPrimaryKey()) {
          // An after image always has its before image next; without it the log is damaged, and
          // stopping quietly would report a rollback that did not happen.
          if (log.Next(entry.data()) != ec::Success || operationOf() != LogBeforeUpdate) {
            RaiseEngineError(ec::RecordBuffersCorrupt, log.FileName());
          }
          takeImage();
          rewrite(true);
        }
        break;
      default: break;  // a before image whose after image found no record
    }
  }
}

void TDataFile::Rollback() {
  if (ReadOnly() || !inTransaction_) return;
  TCursorGuard guard(*this);
  if (!logFile_) {
    EndTransaction();
    return;
  }
  rollbackRunning_ = true;
  const std::uint8_t active = indexFile_->CurrentIndex();
  const bool rangeWasActive = indexFile_->RangeActive();
  const bool callbackWasActive = indexFile_->CallbackActive();
  std::optional<TRecordBitmap> bitmap;
  if (indexFile_->CursorBitmap()) bitmap = *indexFile_->CursorBitmap();
  // Every record of the table must be reachable by its primary key.
  indexFile_->SelectIndex(0);
  indexFile_->SetRangeActive(false);
  indexFile_->SetCallbackActive(false);
  indexFile_->FreeBitmap();
  indexFile_->ApplyRange();  // the positions of a range left behind would hide records
  std::exception_ptr failure;
  try {
    ReplayLog();
  } catch (...) {
    failure = std::current_exception();
  }
  rollbackRunning_ = false;
  try {
    indexFile_->SelectIndex(active);
    indexFile_->SetRangeActive(rangeWasActive);
    indexFile_->SetCallbackActive(callbackWasActive);
    if (bitmap) indexFile_->InstallFilterBitmap(std::move(*bitmap));
    indexFile_->CheckHeaderChanged();
    SyncIndexPosition();
    MakeCurrentAtCursor();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  // A replay that failed keeps the log and the transaction, so nothing of it is lost.
  if (failure) std::rethrow_exception(failure);
  EndTransaction();
}

}  // namespace kavrin::engine
