#include "dataset/kavrintb.h"

#include <typeinfo>

#include "classlib/data/exceptions.h"
#include "runtime/code_pages.h"

namespace kavrin::dataset {

TKAVRINTable::TKAVRINTable(classlib::TComponent* owner)
    : TTable(owner), restructureFieldDefs_(std::make_unique<TRestructureFieldDefs>(this)) {}

TKAVRINTable::~TKAVRINTable() {
  restructureFieldDefs_->Clear();
  try {
    Close();
  } catch (...) {
  }
}

void TKAVRINTable::ConfigureCursor(engine::TDataFile& cursor) const {
  if (typeid(*this) != typeid(TKAVRINTable)) {
    TTable::ConfigureCursor(cursor);
    return;
  }
  cursor.SetInMemory(inMemory_);
  cursor.SetMemoryLog(transactionsInMemory_);
  cursor.SetRetryCount(lockRetryCount_);
  cursor.SetRetryWait(lockWaitTime_);
}

void TKAVRINTable::SetInMemory(bool inMemory) {
  CheckInactive();
  inMemory_ = inMemory;
}

void TKAVRINTable::SetTransactionsInMemory(bool inMemory) {
  CheckInactive();
  transactionsInMemory_ = inMemory;
}

void TKAVRINTable::SetLockRetryCount(std::uint8_t count) {
  lockRetryCount_ = count;
  if (Handle()) Handle()->SetRetryCount(count);
}

void TKAVRINTable::SetLockWaitTime(std::uint16_t milliseconds) {
  lockWaitTime_ = milliseconds;
  if (Handle()) Handle()->SetRetryWait(milliseconds);
}

std::int32_t TKAVRINTable::GetRecordNumber() {
  if (!Active()) return 0;
  if (State() == classlib::TDataSetState::dsInsert) return -1;
  UpdateCursorPos();
  return Handle()->RecordNo();
}

void TKAVRINTable::SetRecordNumber(std::int32_t number) { SetRecNo(number); }

void TKAVRINTable::CheckTableActive() const {
  if (!Active()) classlib::DatabaseError("Cannot perform this operation on a closed dataset");
}

bool TKAVRINTable::TableLocked() {
  CheckTableActive();
  return Handle()->TableLocked();
}

bool TKAVRINTable::RecordLocked() {
  CheckTableActive();
  UpdateCursorPos();
  return Handle()->RecordLocked();
}

bool TKAVRINTable::Encrypted() {
  CheckTableActive();
  return Handle()->Encrypted();
}

std::string TKAVRINTable::Description() {
  CheckTableActive();
  return runtime::DescriptorTextToUtf8(Handle()->GetDescription());
}

}  // namespace kavrin::dataset
