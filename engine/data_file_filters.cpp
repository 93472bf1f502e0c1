// The cursor's filters: the record callback filter now; the index file keeps the state that
// navigation reads.
#include <array>
#include <memory>
#include <string>

#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/index_file.h"
#include "engine/password_list.h"

namespace kavrin::engine {

void TDataFile::SetRecordCallback(TRecordCallback callback, std::uint32_t userData) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->SetRecordCallback(callback, userData);
  SyncIndexPosition();
  section.Finish();
}

TErrorCode TDataFile::ActivateRecordCallback(bool active) {
  if (!indexFile_->GetCallback()) return ec::InvalidFilterHandle;
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->SetCallbackActive(active);
  SyncIndexPosition();
  section.Finish();
  return ec::Success;
}

}  // namespace kavrin::engine

namespace kavrin::engine {
namespace {

// Adds a password to the process's list for the life of this object, unless it is known already.
class TPasswordForClone {
 public:
  explicit TPasswordForClone(const std::string& password)
      : password_(password), added_(!password.empty() && !TablePasswords().Contains(password)) {
    if (added_) TablePasswords().Add(password_);
  }
  ~TPasswordForClone() {
    if (added_) TablePasswords().Remove(password_);
  }
  TPasswordForClone(const TPasswordForClone&) = delete;
  TPasswordForClone& operator=(const TPasswordForClone&) = delete;

 private:
  std::string password_;
  bool added_;
};

}  // namespace

TErrorCode TDataFile::GotoCurrent(TDataFile& other) {
  // Keys of one table's index mean nothing in another table.
  if (&other == this || other.InMemory() != InMemory() || other.FileName() != FileName() || !other.Opened()) {
    return &other == this ? ec::Success : ec::InvalidHandle;
  }
  TCursorGuard guard(*this);
  const bool lock = !(Exclusive() || ReadOnlyOnDisk() || tableLocked_);
  if (lock) indexFile_->ReadLock();
  try {
    std::array<std::uint8_t, PageEntryArea> key{};
    if (other.currentRecord_) {
      BuildKey(indexFile_->CurrentIndex(), other.currentRecord_->Buffer(), other.currentRecord_->Buffer(), key.data());
    }
    const bool found = indexFile_->FindKey(std::span<const std::uint8_t>(key.data(), indexFile_->KeyLength()), true, false);
    CheckHeaderChanged();
    MakeCurrentAtCursor();
    if (lock) indexFile_->ReadUnlock();
    return found ? ec::Success : ec::RecordNotFound;
  } catch (...) {
    if (lock) {
      try {
        indexFile_->ReadUnlock();
      } catch (...) {
      }
    }
    throw;
  }
}

std::unique_ptr<TDataFile> TDataFile::CloneCursor() {
  if (Exclusive()) Raise(ec::AccessDenied);
  auto clone = std::make_unique<TDataFile>(this);
  TPasswordForClone known(GetPassword());
  clone->SetFileName(FileName());
  clone->SetReadOnly(ReadOnly());
  clone->SetInMemory(InMemory());
  clone->Open();
  clone->SelectIndexByName(ActiveIndexName());
  if (indexFile_->RangeActive()) {
    TCursorGuard guard(*clone);
    TReadSection section(*clone);
    clone->indexFile_->SetRangeStart(indexFile_->RangeStart().first(indexFile_->KeyLength()));
    clone->indexFile_->SetRangeEnd(indexFile_->RangeEnd().first(indexFile_->KeyLength()));
    clone->indexFile_->SetRangeActive(true);
    clone->SyncIndexPosition();
    section.Finish();
  }
  if (indexFile_->GetCallback()) {
    clone->SetRecordCallback(indexFile_->GetCallback(), indexFile_->GetCallbackData());
    if (indexFile_->CallbackActive()) clone->ActivateRecordCallback(true);
  }
  clone->GotoCurrent(*this);
  return clone;
}

}  // namespace kavrin::engine
