#include "classlib/data/data_set.h"

#include <algorithm>
#include <cstring>

#include "classlib/data/data_source.h"
#include "classlib/data/desc_images.h"
#include "classlib/data/field.h"
#include "classlib/data/string_list.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "runtime/code_pages.h"

namespace kavrin::classlib {
namespace {

constexpr std::size_t kRecInfoSize = 8;

}  // namespace

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), fieldDefs_(this) {}

TDataSet::~TDataSet() {
  MarkDestroying();
  try {
    SetActive(false);
  } catch (...) {
    // Closing while being freed must not throw out of a destructor; the cursor is freed below anyway.
  }
  handle_.reset();
  DropClientId();
  while (!dataSources_.empty()) dataSources_.back()->SetDataSet(nullptr);
  // Fields owned elsewhere leave this dataset; those it owns go with DestroyComponents.
  for (TField* field : std::vector<TField*>(fields_)) field->SetDataSet(nullptr);
  DestroyComponents();
}

void TDataSet::BeforeDestruction() {
  if (handle_) handle_->CheckNotBusy();
  TComponent::BeforeDestruction();
}

// --- opening and closing --------------------------------------------------------------------------

void TDataSet::SetActive(bool active) {
  if (Loading()) return;
  if (active == Active()) return;
  if (active) {
    if (BeforeOpen) BeforeOpen(*this);
    try {
      OpenCursor(false);
      OpenDataSet();
    } catch (...) {
      try {
        CloseCursor();
      } catch (...) {
      }
      state_ = TDataSetState::dsInactive;
      throw;
    }
    if (AfterOpen) AfterOpen(*this);
  } else {
    // A close from a message handler run while the cursor waits for a lock, or from its filter, would
    // free the cursor under the engine call: refused before anything changes.
    if (handle_) handle_->CheckNotBusy();
    if (!Destroying() && BeforeClose) BeforeClose(*this);
    CloseDataSet();
    if (!Destroying() && AfterClose) AfterClose(*this);
  }
}

void TDataSet::OpenDataSet() {
  SetState(TDataSetState::dsBrowse);
  bof_ = true;
  eof_ = true;
  First();
}

void TDataSet::CloseDataSet() {
  // Before anything is let go, so that a close that cannot write leaves the dataset as it was. A dataset
  // being freed must not throw: its cursor lets go in DestroyHandle.
  if (handle_ && !Destroying()) handle_->Close();
  SetState(TDataSetState::dsInactive);
  CloseCursor();
  if (defaultFields_)
    DestroyFields();
  else
    for (TField* field : fields_) field->Bind(field->Calculated() ? -1 : 0, field->Offset());
}

void TDataSet::OpenCursor(bool infoQuery) {
  infoQuery_ = infoQuery;
  handle_ = CreateHandle();
  if (!handle_) DatabaseError("Error creating cursor handle");
  GetCursorProps(infoQuery);
}

void TDataSet::CloseCursor() {
  FreeBuffers();
  keySize_ = 0;
  indexKeyLength_ = 0;
  keyFieldCount_ = 0;
  std::fill(keyFields_.begin(), keyFields_.end(), 0);
  if (handle_) DestroyHandle();
  handle_.reset();
  exprFilter_ = 0;
  funcFilter_ = 0;
  infoQuery_ = false;
}

std::unique_ptr<engine::TDataFile> TDataSet::CreateHandle() { return nullptr; }

void TDataSet::CloseWithoutWriting() {
  if (handle_) {
    handle_->CheckNotBusy();
    handle_->CloseWithoutWriting();
  }
  Close();
}

void TDataSet::DestroyHandle() {
  handle_->CheckNotBusy();  // a refused close must not free the cursor on the way out
  std::unique_ptr<engine::TDataFile> cursor = std::move(handle_);
  // Still open only when the dataset is being freed or failed to open; the close that reports a failure
  // to write is CloseDataSet's.
  try {
    cursor->Close();
  } catch (...) {
    cursor->CloseWithoutWriting();
  }
}

void TDataSet::ReadFieldDefs(engine::TDataFile& cursor) {
  fieldDefs_.Clear();
  for (std::uint16_t i = 1; i <= cursor.FieldCount(); ++i) {
    engine::TFieldDescriptor descriptor;
    cursor.FieldDefByIndex(i, descriptor);
    fieldDefs_.AddFieldDesc(FieldDescImage::FromDescriptor(descriptor), descriptor.Required, descriptor.FieldNumber);
  }
}

void TDataSet::GetCursorProps(bool infoQuery) {
  recordSize_ = static_cast<std::uint16_t>(handle_->RecordSize());
  keySize_ = handle_->KeyLength();
  canModify_ = true;
  ReadFieldDefs(*handle_);
  if (infoQuery) return;
  GetIndexInfo();
  if (fields_.empty()) CreateFields();
  BindFields();
  AllocateBuffers();
  CreateFilters();
  handle_->GotoBOF();
  PrepareCursor();
}

void TDataSet::GetIndexInfo() {
  const engine::TIndexDescriptor index = handle_->GetIndexDef(handle_->ActiveIndex());
  keyCaseInsensitive_ = index.CaseInsensitive != 0;
  keyFieldCount_ = index.KeyFieldCount;
  for (std::size_t k = 0; k < keyFields_.size(); ++k)
    keyFields_[k] = k < index.KeyFields.size() ? index.KeyFields[k] : 0;
  indexKeyLength_ = index.KeyLength;
}

void TDataSet::SwitchToIndex(const std::string& name) {
  UpdateCursorPos();
  handle_->SelectIndexByName(runtime::Utf8ToDescriptorText(name, "Index name"));
  ClearBuffers();
  keyFieldCount_ = 0;
  std::fill(keyFields_.begin(), keyFields_.end(), 0);
  keySize_ = handle_->KeyLength();
  try {
    AllocateBuffers();
  } catch (...) {
    state_ = TDataSetState::dsInactive;
    CloseCursor();
    throw;
  }
  GetIndexInfo();
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset");
}

// --- fields ---------------------------------------------------------------------------------------

void TDataSet::CreateFields() {
  for (int i = 0; i < fieldDefs_.Count(); ++i) fieldDefs_[i].CreateField(this, this);
  defaultFields_ = true;
}

void TDataSet::DestroyFields() {
  std::vector<TField*> fields = fields_;
  for (auto it = fields.rbegin(); it != fields.rend(); ++it) delete *it;
  fields_.clear();
  defaultFields_ = false;
}

void TDataSet::BindFields() {
  calcFieldsSize_ = 0;
  for (TField* field : fields_) {
    if (field->Calculated()) {
      field->Bind(-1, calcFieldsSize_);
      calcFieldsSize_ += field->DataSize() + 1;
      continue;
    }
    const int at = fieldDefs_.IndexOf(field->FieldName());
    if (at < 0) DatabaseError(FormatMessage("Field '%s' not found", {field->FieldName()}));
    const TFieldDef& def = fieldDefs_[at];
    if (def.DataType() != field->DataType()) {
      DatabaseError(FormatMessage("Type mismatch for field '%s'", {field->DisplayName()}));
    }
    field->Bind(def.FieldNo(), 0);
  }
}

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* field : fields_) {
    if (runtime::SameDescriptorName(field->FieldName(), name)) return field;
  }
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseError(FormatMessage("Field '%s' not found", {std::string(name)}));
  return field;
}

TField* TDataSet::FieldByNumber(std::int32_t fieldNo) const {
  for (TField* field : fields_) {
    if (field->FieldNo() == fieldNo) return field;
  }
  return nullptr;
}

void TDataSet::GetFieldNames(TStringList& list) const {
  list.Clear();
  if (!fields_.empty()) {
    for (TField* field : fields_) list.Add(field->FieldName());
  } else {
    for (int i = 0; i < fieldDefs_.Count(); ++i) list.Add(fieldDefs_[i].Name());
  }
}

void TDataSet::AddField(TField* field) {
  if (std::find(fields_.begin(), fields_.end(), field) == fields_.end()) fields_.push_back(field);
}

void TDataSet::RemoveField(TField* field) {
  auto found = std::find(fields_.begin(), fields_.end(), field);
  if (found != fields_.end()) fields_.erase(found);
}

void TDataSet::MoveField(TField* field, int index) {
  auto found = std::find(fields_.begin(), fields_.end(), field);
  if (found == fields_.end()) return;
  fields_.erase(found);
  index = std::clamp(index, 0, static_cast<int>(fields_.size()));
  fields_.insert(fields_.begin() + index, field);
}

// --- buffers ----------------------------------------------------------------------------------------

void TDataSet::AllocateBuffers() {
  bufferSize_ = recordSize_ + static_cast<std::size_t>(calcFieldsSize_) + kRecInfoSize + 1 + keySize_;
  int wanted = 1;
  for (TDataSource* source : dataSources_) wanted = std::max(wanted, source->MaxBufferCount());
  bufferCount_ = wanted;
  buffers_.assign(static_cast<std::size_t>(bufferCount_) + 1, std::vector<std::uint8_t>(bufferSize_, 0));
  if (keyBuffers_.empty()) {
    keyBuffers_.assign(6, std::vector<std::uint8_t>(recordSize_ + 8u, 0));
    for (int k = 0; k < 6; ++k) InitKeyBuffer(static_cast<TKeyIndex>(k));
  }
  ClearBuffers();
}

void TDataSet::FreeBuffers() {
  buffers_.clear();
  keyBuffers_.clear();
  bufferCount_ = 0;
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
}

void TDataSet::InitKeyBuffer(TKeyIndex index) {
  std::vector<std::uint8_t>& buffer = keyBuffers_.at(index);
  std::fill(buffer.begin(), buffer.end(), 0);
  if (handle_) handle_->InitRecord(buffer.data() + 8);
}

std::uint8_t* TDataSet::KeyBuffer(TKeyIndex index) { return keyBuffers_.at(index).data(); }

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

std::uint8_t* TDataSet::ActiveBuffer() const {
  if (buffers_.empty()) return nullptr;
  return Buffer(activeRecord_);
}

std::uint8_t TDataSet::BookmarkFlag(int index) const {
  std::uint8_t* buffer = Buffer(index);
  return RecInfo(buffer)[kRecInfoSize];
}

std::int32_t TDataSet::BufferRecordNumber(int index) const {
  std::int32_t number = 0;
  std::memcpy(&number, RecInfo(Buffer(index)) + 4, 4);
  return number;
}

void TDataSet::SetActiveRecord(int index) {
  if (index >= 0 && index < std::max(recordCount_, 1)) activeRecord_ = index;
}

void TDataSet::UpdateBufferCount() {
  if (!Active() || infoQuery_) return;
  int wanted = 1;
  for (TDataSource* source : dataSources_) wanted = std::max(wanted, source->MaxBufferCount());
  if (wanted == bufferCount_) return;
  // The window is read again around the active record (an edited row is kept as it stands).
  UpdateCursorPos();
  const std::vector<std::uint8_t> active = recordCount_ > 0 ? buffers_[activeRecord_] : std::vector<std::uint8_t>();
  const int keep = std::min(activeRecord_, wanted - 1);
  const bool editing = EditingState(state_);
  bufferCount_ = wanted;
  buffers_.assign(static_cast<std::size_t>(bufferCount_) + 1, std::vector<std::uint8_t>(bufferSize_, 0));
  if (active.empty()) {
    ClearBuffers();
    DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  if (editing) {
    buffers_[0] = active;
    recordCount_ = 1;
    activeRecord_ = 0;
    currentRecord_ = -1;
    bof_ = eof_ = false;
    DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  activeRecord_ = keep;
  Resync(false, false);
}

void TDataSet::InitRecord(std::uint8_t* buffer) const {
  handle_->InitRecord(buffer);
  std::memset(buffer + recordSize_, 0, static_cast<std::size_t>(calcFieldsSize_));
  std::uint8_t* info = RecInfo(buffer);
  info[0] = 0;
  const std::int32_t none = -1;
  std::memcpy(info + 4, &none, 4);
}

std::int32_t TDataSet::GetRecord(int index, TGetMode mode) {
  std::uint8_t* buffer = Buffer(index);
  std::int32_t code = 0;
  switch (mode) {
    case TGetMode::gmCurrent: code = handle_->GetCurrent(buffer, false); break;
    case TGetMode::gmNext: code = handle_->Next(buffer); break;
    case TGetMode::gmPrior: code = handle_->Prior(buffer); break;
  }
  if (code != 0) return code;
  std::uint8_t* info = RecInfo(buffer);
  info[0] = 0;
  const std::int32_t number = handle_->RecordNo();
  std::memcpy(info + 4, &number, 4);
  CalculateFields(buffer);
  info[kRecInfoSize] = bfCurrent;
  handle_->GetBookmark(BookmarkData(buffer));
  return 0;
}

void TDataSet::CalculateFields(std::uint8_t* buffer) {
  if (calcFieldsSize_ == 0 && !OnCalcFields) return;
  std::memset(buffer + recordSize_, 0, static_cast<std::size_t>(calcFieldsSize_));
  if (!OnCalcFields) return;
  std::uint8_t* saved = calcBuffer_;
  const TDataSetState old = SetTempState(TDataSetState::dsCalcFields);
  calcBuffer_ = buffer;
  try {
    OnCalcFields(*this);
  } catch (...) {
    calcBuffer_ = saved;
    RestoreState(old);
    throw;
  }
  calcBuffer_ = saved;
  RestoreState(old);
}

void TDataSet::SetCurrentRecord(int index) {
  if (currentRecord_ == index) return;
  std::uint8_t* buffer = Buffer(index);
  switch (RecInfo(buffer)[kRecInfoSize]) {
    case bfBOF: handle_->GotoBOF(); break;
    case bfEOF: handle_->GotoEOF(); break;
    case bfCurrent:
    case bfInserted: handle_->GotoBookmark(BookmarkData(buffer)); break;
    default: break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool TDataSet::GetCurrentRecord(std::uint8_t* image) {
  if (!Active() || activeRecord_ >= recordCount_ || BookmarkFlag(activeRecord_) != bfCurrent) return false;
  UpdateCursorPos();
  std::vector<std::uint8_t> copy(recordSize_);
  if (handle_->GetCurrent(copy.data(), false) != 0) return false;
  std::memcpy(image, copy.data(), recordSize_);
  return true;
}

// Fetches the record after the last row; a full window drops its first row.
bool TDataSet::GetNextRecord() {
  if (recordCount_ > 0) SetCurrentRecord(recordCount_ - 1);
  const int spare = bufferCount_;
  if (GetRecord(spare, TGetMode::gmNext) != 0) {
    currentRecord_ = -1;
    return false;
  }
  if (recordCount_ < bufferCount_) {
    std::swap(buffers_[static_cast<std::size_t>(recordCount_)], buffers_[static_cast<std::size_t>(spare)]);
    currentRecord_ = recordCount_;
    ++recordCount_;
  } else {
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.end());
    currentRecord_ = recordCount_ - 1;
    if (activeRecord_ > 0) --activeRecord_;
  }
  return true;
}

// Fetches the record before the first row; a full window drops its last row.
bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  const int spare = bufferCount_;
  if (GetRecord(spare, TGetMode::gmPrior) != 0) {
    currentRecord_ = -1;
    return false;
  }
  std::rotate(buffers_.begin(), buffers_.begin() + spare, buffers_.end());
  if (recordCount_ > 0) activeRecord_ = std::min(activeRecord_ + 1, bufferCount_ - 1);
  if (recordCount_ < bufferCount_) ++recordCount_;
  currentRecord_ = 0;
  return true;
}

void TDataSet::GetNextRecords() {
  while (recordCount_ < bufferCount_ && GetNextRecord()) {
  }
}

void TDataSet::GetPriorRecords() {
  while (recordCount_ < bufferCount_ && GetPriorRecord()) {
  }
}

void TDataSet::Resync(bool exact, bool center) {
  const int oldActive = activeRecord_;
  ClearBuffers();
  const int spare = bufferCount_;
  if (exact) {
    if (GetRecord(spare, TGetMode::gmCurrent) != 0) {
      // The window shows where the cursor stands rather than nothing.
      activeRecord_ = oldActive;
      Resync(false, center);
      DatabaseError("Record not found");
    }
  } else if (GetRecord(spare, TGetMode::gmCurrent) != 0 && GetRecord(spare, TGetMode::gmNext) != 0 &&
             GetRecord(spare, TGetMode::gmPrior) != 0) {
    currentRecord_ = -1;
    DataEvent(TDataEvent::deDataSetChange, 0);
    return;
  }
  std::swap(buffers_[0], buffers_[static_cast<std::size_t>(spare)]);
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
  const int before = center ? (bufferCount_ - 1) / 2 : std::min(oldActive, bufferCount_ - 1);
  for (int i = 0; i < before && GetPriorRecord(); ++i) {
  }
  GetNextRecords();
  GetPriorRecords();
  DataEvent(TDataEvent::deDataSetChange, 0);
}

// --- navigation -------------------------------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  ClearBuffers();
  try {
    handle_->GotoBOF();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  eof_ = recordCount_ == 0;
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TDataSet::Last() {
  CheckBrowseMode();
  ClearBuffers();
  try {
    handle_->GotoEOF();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  bof_ = recordCount_ == 0;
  activeRecord_ = std::max(recordCount_ - 1, 0);
  DataEvent(TDataEvent::deDataSetChange, 0);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    try {
      while (distance > 0) {
        if (activeRecord_ < recordCount_ - 1) {
          ++activeRecord_;
        } else if (GetNextRecord()) {
          activeRecord_ = recordCount_ - 1;
        } else {
          eof_ = true;
          break;
        }
        --distance;
        ++moved;
      }
      while (distance < 0) {
        if (activeRecord_ > 0) {
          --activeRecord_;
        } else if (GetPriorRecord()) {
          activeRecord_ = 0;
        } else {
          bof_ = true;
          break;
        }
        ++distance;
        --moved;
      }
    } catch (...) {
      DataEvent(TDataEvent::deDataSetScroll, moved);
      throw;
    }
    DataEvent(TDataEvent::deDataSetScroll, moved);
  }
  return moved;
}

std::int32_t TDataSet::RecordCount() const {
  CheckActive();
  return handle_->RecordCount();
}

std::int32_t TDataSet::RecNo() const {
  CheckActive();
  if (state_ == TDataSetState::dsCalcFields && calcBuffer_) {
    std::int32_t number = 0;
    std::memcpy(&number, RecInfo(calcBuffer_) + 4, 4);
    return number;
  }
  if (recordCount_ == 0) return 0;
  return BufferRecordNumber(activeRecord_);
}

void TDataSet::SetRecNo(std::int32_t value) {
  CheckBrowseMode();
  const std::int32_t current = RecNo();
  if (current > 0 && value != current) MoveBy(value - current);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  handle_->Refresh();
  Resync(false, false);
}

// --- bookmarks --------------------------------------------------------------------------------------

TBookmark TDataSet::GetBookmark() const {
  if (!(state_ == TDataSetState::dsBrowse || EditingState(state_)) || recordCount_ == 0 ||
      activeRecord_ >= recordCount_ || BookmarkFlag(activeRecord_) != bfCurrent) {
    return {};
  }
  const std::uint8_t* data = BookmarkData(Buffer(activeRecord_));
  return TBookmark(data, data + keySize_);
}

std::string TDataSet::GetBookmarkStr() const {
  const TBookmark bookmark = GetBookmark();
  return std::string(bookmark.begin(), bookmark.end());
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  // A bookmark of another index or cut short is refused rather than read past.
  if (bookmark.size() != keySize_) DatabaseError("Invalid bookmark");
  handle_->GotoBookmark(bookmark.data());
  Resync(true, true);
}

void TDataSet::SetBookmarkStr(const std::string& bookmark) {
  GotoBookmark(TBookmark(bookmark.begin(), bookmark.end()));
}

// --- editing ----------------------------------------------------------------------------------------

void TDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
}

void TDataSet::CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& errorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (const EDatabaseError& error) {
      TDataAction action = TDataAction::daFail;
      if (errorEvent) errorEvent(*this, error, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) Abort();
    }
  }
}

void TDataSet::Insert() {
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeInsert) BeforeInsert(*this);
  // The new row takes the place of the active row, which moves down (out of a full window).
  std::vector<std::uint8_t> neighbour;
  if (recordCount_ > 0) {
    const std::uint8_t* info = RecInfo(Buffer(activeRecord_));
    neighbour.assign(info + kRecInfoSize, info + kRecInfoSize + 1 + keySize_);
  }
  const int from = std::min(recordCount_, bufferCount_);
  auto first = buffers_.begin() + activeRecord_;
  std::rotate(first, buffers_.begin() + from, buffers_.begin() + from + 1);
  if (recordCount_ < bufferCount_) ++recordCount_;
  currentRecord_ = -1;
  std::uint8_t* buffer = Buffer(activeRecord_);
  InitRecord(buffer);
  std::uint8_t* info = RecInfo(buffer);
  if (neighbour.empty()) {
    info[kRecInfoSize] = bfBOF;
  } else {
    std::memcpy(info + kRecInfoSize, neighbour.data(), neighbour.size());
    info[kRecInfoSize] = bfInserted;
  }
  bof_ = false;
  eof_ = false;
  SetState(TDataSetState::dsInsert);
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(TDataSetState::dsBrowse);
    Resync(false, false);
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, 0);
  if (AfterInsert) AfterInsert(*this);
}

void TDataSet::Append() {
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeInsert) BeforeInsert(*this);
  ClearBuffers();
  std::uint8_t* buffer = Buffer(0);
  InitRecord(buffer);
  RecInfo(buffer)[kRecInfoSize] = bfEOF;
  recordCount_ = 1;
  activeRecord_ = 0;
  bof_ = false;
  eof_ = false;
  SetCurrentRecord(0);
  GetPriorRecords();
  SetState(TDataSetState::dsInsert);
  try {
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(TDataSetState::dsBrowse);
    Resync(false, false);
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::deDataSetChange, 0);
  if (AfterInsert) AfterInsert(*this);
}

void TDataSet::Edit() {
  if (EditingState(state_)) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeEdit) BeforeEdit(*this);
  bool heldBefore = false;
  CheckOperation(
      [&] {
        heldBefore = handle_->RecordLocked();
        const std::int32_t code = handle_->GetCurrent(ActiveBuffer(), true);
        if (code != 0) engine::EngineError(static_cast<std::uint32_t>(code));
      },
      OnEditError);
  try {
    CalculateFields(ActiveBuffer());
    SetState(TDataSetState::dsEdit);
    DataEvent(TDataEvent::deRecordChange, 0);
    if (AfterEdit) AfterEdit(*this);
  } catch (...) {
    // The lock this edit took must not outlive it: nobody would post or cancel it.
    try {
      if (!heldBefore && handle_->RecordLocked()) {
        UpdateCursorPos();
        handle_->UnlockRecord(0);
      }
    } catch (...) {
    }
    if (state_ == TDataSetState::dsEdit) SetState(TDataSetState::dsBrowse);
    throw;
  }
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : fields_) {
    if (!field->Required() || field->ReadOnly() || field->Calculated()) continue;
    const TFieldType type = field->DataType();
    if (type < TFieldType::ftString || type > TFieldType::ftVarBytes) continue;
    if (field->IsNull()) {
      field->FocusControl();
      DatabaseError(FormatMessage("Field '%s' must have a value", {field->DisplayName()}));
    }
  }
}

void TDataSet::WriteRecord() {
  if (state_ == TDataSetState::dsEdit) {
    handle_->UpdateRecord(ActiveBuffer(), true);
  } else {
    handle_->InsertRecord(ActiveBuffer());
  }
}

void TDataSet::Post() {
  UpdateRecord();
  if (EditingState(state_)) {
    DataEvent(TDataEvent::deCheckBrowseMode, 0);
    CheckRequiredFields();
    if (BeforePost) BeforePost(*this);
    CheckOperation([&] { WriteRecord(); }, OnPostError);
    FreeFieldBuffers();
    SetState(TDataSetState::dsBrowse);
    Resync(false, false);
    if (AfterPost) AfterPost(*this);
  } else if (state_ == TDataSetState::dsSetKey) {
    DataEvent(TDataEvent::deCheckBrowseMode, 0);
    KeyBuffer(keyBuffer_)[0] = modified_ ? 1 : 0;
    SetState(TDataSetState::dsBrowse);
    DataEvent(TDataEvent::deDataSetChange, 0);
  }
}

void TDataSet::Cancel() {
  if (EditingState(state_)) {
    DataEvent(TDataEvent::deCheckBrowseMode, 0);
    if (BeforeCancel) BeforeCancel(*this);
    UpdateCursorPos();
    // Inside a transaction the lock lasts to commit or rollback, so that nobody changes a record the
    // rollback would then overwrite.
    if (state_ == TDataSetState::dsEdit && handle_->RecordLocked() && !handle_->InTransaction()) {
      handle_->UnlockRecord(0);
    }
    FreeFieldBuffers();
    SetState(TDataSetState::dsBrowse);
    Resync(false, false);
    if (AfterCancel) AfterCancel(*this);
  } else if (state_ == TDataSetState::dsSetKey) {
    DataEvent(TDataEvent::deCheckBrowseMode, 0);
    std::memcpy(KeyBuffer(keyBuffer_), KeyBuffer(kiSave), recordSize_ + 8u);
    SetState(TDataSetState::dsBrowse);
    DataEvent(TDataEvent::deDataSetChange, 0);
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert || state_ == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (recordCount_ == 0) DatabaseError("Cannot perform this operation on an empty dataset");
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  if (BeforeDelete) BeforeDelete(*this);
  CheckOperation([&] { handle_->DeleteRecord(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(TDataSetState::dsBrowse);
  Resync(false, false);
  if (AfterDelete) AfterDelete(*this);
}

void TDataSet::FreeFieldBuffers() {
  for (TField* field : fields_) field->FreeBuffers();
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode, 0);
  if (EditingState(state_)) {
    UpdateRecord();
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  } else if (state_ == TDataSetState::dsSetKey) {
    Post();
  }
}

void TDataSet::UpdateRecord() {
  if (!EditingState(state_) && state_ != TDataSetState::dsSetKey) {
    DatabaseError("Dataset not in edit or insert mode");
  }
  DataEvent(TDataEvent::deUpdateRecord, 0);
}

// --- states and events ------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(TDataEvent::deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) { state_ = state; }

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) {
    disabledState_ = false;
    disabledChange_ = false;
    disabledFromState_ = state_;
  }
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  if (disabledFromState_ != state_) SendEvent(TDataEvent::deUpdateState, 0);
  if (state_ != TDataSetState::dsInactive && disabledChange_) SendEvent(TDataEvent::deDataSetChange, 0);
  disabledState_ = false;
  disabledChange_ = false;
}

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(dataSources_.begin(), dataSources_.end(), source) == dataSources_.end()) dataSources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  auto found = std::find(dataSources_.begin(), dataSources_.end(), source);
  if (found != dataSources_.end()) dataSources_.erase(found);
  if (!Destroying()) UpdateBufferCount();
}

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deFieldChange) {
    auto* field = reinterpret_cast<TField*>(info);
    if (!field->Calculated()) {
      modified_ = true;
      if (EditingState(state_) && (calcFieldsSize_ > 0 || OnCalcFields)) CalculateFields(ActiveBuffer());
    }
    field->Change();
  }
  if (disableCount_ > 0) {
    // Pending control edits, browse-mode checks and focus requests cannot wait for EnableControls.
    if (event != TDataEvent::deUpdateRecord && event != TDataEvent::deCheckBrowseMode &&
        event != TDataEvent::deFocusControl) {
      if (event == TDataEvent::deUpdateState)
        disabledState_ = true;
      else
        disabledChange_ = true;
      return;
    }
  }
  SendEvent(event, info);
}

void TDataSet::SendEvent(TDataEvent event, std::intptr_t info) {
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->DataEvent(event, info);
}

// --- field data -------------------------------------------------------------------------------------

std::uint8_t* TDataSet::FieldBuffer() const {
  switch (state_) {
    case TDataSetState::dsSetKey: return const_cast<TDataSet*>(this)->KeyBuffer(keyBuffer_) + 8;
    case TDataSetState::dsCalcFields: return calcBuffer_;
    case TDataSetState::dsFilter: return filterBuffer_;
    default:
      if (buffers_.empty() || activeRecord_ >= recordCount_) return nullptr;
      return ActiveBuffer();
  }
}

bool TDataSet::GetFieldData(const TField& field, void* buffer) const {
  std::uint8_t* source = FieldBuffer();
  if (!source || !handle_) return false;
  if (field.FieldNo() < 0) {
    if (state_ == TDataSetState::dsSetKey) return false;
    const std::uint8_t* slot = source + recordSize_ + field.Offset();
    if (slot[0] == 0) return false;
    if (buffer) std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field.DataSize()));
    return true;
  }
  bool isNull = true;
  handle_->GetField(static_cast<std::int16_t>(field.FieldNo()), source, isNull, buffer);
  return !isNull;
}

void TDataSet::SetFieldData(TField& field, const void* buffer) {
  std::uint8_t* target = nullptr;
  switch (state_) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert: target = ActiveBuffer(); break;
    case TDataSetState::dsSetKey: {
      bool keyField = keyFieldCount_ == 0;
      for (int k = 0; k < keyFieldCount_; ++k)
        keyField = keyField || keyFields_[static_cast<std::size_t>(k)] == field.FieldNo();
      if (field.FieldNo() < 0 || !keyField) {
        DatabaseError(FormatMessage("Field '%s' is not indexed and cannot be modified", {field.DisplayName()}));
      }
      target = KeyBuffer(keyBuffer_) + 8;
      break;
    }
    case TDataSetState::dsCalcFields: target = calcBuffer_; break;
    case TDataSetState::dsFilter: target = filterBuffer_; break;
    default: DatabaseError("Dataset not in edit or insert mode");
  }
  if (!target) DatabaseError("Dataset not in edit or insert mode");
  if (field.FieldNo() < 0) {
    std::uint8_t* slot = target + recordSize_ + field.Offset();
    slot[0] = buffer ? 1 : 0;
    if (buffer) std::memcpy(slot + 1, buffer, static_cast<std::size_t>(field.DataSize()));
  } else {
    if (state_ != TDataSetState::dsSetKey && state_ != TDataSetState::dsFilter && field.ReadOnly()) {
      DatabaseError(FormatMessage("Field '%s' cannot be modified", {field.DisplayName()}));
    }
    if (state_ == TDataSetState::dsCalcFields) DatabaseError("Dataset not in edit or insert mode");
    handle_->SetField(static_cast<std::int16_t>(field.FieldNo()), target, buffer);
  }
  if (state_ != TDataSetState::dsCalcFields && state_ != TDataSetState::dsFilter) {
    DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field));
  }
}

}  // namespace kavrin::classlib
