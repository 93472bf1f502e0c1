#include "dataset/table.h"

#include "classlib/data/exceptions.h"
#include "classlib/data/field.h"
#include "classlib/data/string_list.h"
#include "classlib/data/text_compare.h"
#include "engine/data_file.h"
#include "engine/primitives.h"

namespace kavrin::dataset {

using classlib::DatabaseError;
using classlib::FormatMessage;

TTable::TTable(classlib::TComponent* owner) : TDBDataSet(owner), indexDefs_(this) {}

TTable::~TTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TTable::SetTableName(std::string name) {
  CheckInactive();
  if (name == tableName_) return;
  tableName_ = std::move(name);
  DataEvent(classlib::TDataEvent::dePropertyChange, 0);
}

void TTable::SetExclusive(bool exclusive) {
  CheckInactive();
  exclusive_ = exclusive;
}

void TTable::SetReadOnly(bool readOnly) {
  CheckInactive();
  readOnly_ = readOnly;
}

void TTable::SetTableType(TTableType type) {
  CheckInactive();
  tableType_ = type;
}

void TTable::SetIndexName(std::string name) { ChangeIndex(std::move(name), false); }
void TTable::SetIndexFieldNames(std::string fields) { ChangeIndex(std::move(fields), true); }

void TTable::ChangeIndex(std::string text, bool fieldsIndex) {
  if (!Active()) {
    indexText_ = std::move(text);
    fieldsIndex_ = fieldsIndex;
    return;
  }
  if (text == indexText_ && fieldsIndex == fieldsIndex_) return;
  CheckBrowseMode();
  const std::string name = GetIndexParams(text, fieldsIndex);
  SwitchToIndex(name);
  indexText_ = std::move(text);
  fieldsIndex_ = fieldsIndex;
  DestroyLookupCursor();
  Resync(false, false);
}

bool TTable::GetCanModify() const { return TDBDataSet::GetCanModify() && !readOnly_; }

void TTable::DataEvent(classlib::TDataEvent event, std::intptr_t info) {
  if (event == classlib::TDataEvent::dePropertyChange) indexDefs_.SetUpdated(false);
  TDBDataSet::DataEvent(event, info);
}

// --- the cursor -------------------------------------------------------------------------------------

void TTable::ConfigureCursor(engine::TDataFile& cursor) const {
  cursor.SetInMemory(false);
  cursor.SetMemoryLog(false);
  cursor.SetRetryCount(15);
  cursor.SetRetryWait(100);
}

std::unique_ptr<engine::TDataFile> TTable::MakeCursor(classlib::TDatabase& database, bool exclusive) const {
  auto cursor = std::make_unique<engine::TDataFile>(const_cast<TTable*>(this));
  // The whole path goes to the engine, however long.
  cursor->SetFileName(engine::AddBackslash(database.GetDirectory()) + tableName_);
  cursor->SetExclusive(exclusive);
  cursor->SetReadOnly(readOnly_);
  ConfigureCursor(*cursor);
  return cursor;
}

void TTable::OpenWithPasswords(engine::TDataFile& cursor) const {
  classlib::TSession* session = &DBSession();
  cursor.SetPasswordHandler([session](engine::TDataFile&) { return session->AskPassword(); });
  try {
    cursor.Open();
  } catch (...) {
    cursor.SetPasswordHandler(nullptr);
    throw;
  }
  cursor.SetPasswordHandler(nullptr);
}

std::unique_ptr<engine::TDataFile> TTable::OpenTableFile(const std::string& indexName) {
  std::unique_ptr<engine::TDataFile> cursor = MakeCursor(*Database(), exclusive_);
  OpenWithPasswords(*cursor);
  readOnly_ = cursor->ReadOnly();
  cursor->SelectIndexByName(indexName);
  return cursor;
}

std::unique_ptr<engine::TDataFile> TTable::CreateHandle() {
  if (tableName_.empty()) DatabaseError("Missing TableName property");
  return OpenTableFile(GetIndexParams(indexText_, fieldsIndex_));
}

void TTable::DestroyHandle() {
  DestroyLookupCursor();
  TDBDataSet::DestroyHandle();
}

std::string TTable::GetIndexParams(const std::string& indexText, bool fieldsIndex) {
  if (indexText.empty() || InfoQueryOpen()) return {};
  if (!fieldsIndex) return indexText;
  UpdateIndexDefs();
  classlib::TIndexDef* index = indexDefs_.GetIndexForFields(indexText, false);
  if (!index) DatabaseError(FormatMessage("Table '%s' has no index for fields '%s'", {tableName_, indexText}));
  return index->Name();
}

// --- definitions ------------------------------------------------------------------------------------

void TTable::InitFieldDefs() {
  if (tableName_.empty()) DatabaseError("Missing TableName property");
  FieldDefs().Clear();
  if (Handle()) {
    ReadFieldDefs(*Handle());
    return;
  }
  WithDatabase([&](classlib::TDatabase& database) {
    std::unique_ptr<engine::TDataFile> cursor = MakeCursor(database, false);
    OpenWithPasswords(*cursor);
    ReadFieldDefs(*cursor);
    cursor->Close();
  });
}

void TTable::DecodeIndexDesc(const classlib::IndexDescImage& image, const classlib::TFieldDefs& fieldDefs,
                             classlib::TIndexOptions& options, std::string& fields, std::string& name) {
  name = image.Name();
  options = 0;
  if (image.Primary()) options |= classlib::ixPrimary;
  if (image.Unique()) options |= classlib::ixUnique;
  if (image.Descending()) options |= classlib::ixDescending;
  if (image.CaseInsensitive()) options |= classlib::ixCaseInsensitive;
  fields.clear();
  const int count = std::min<int>(image.KeyFieldCount(), 16);
  for (int k = 0; k < count; ++k) {
    const std::int16_t number = image.KeyField(k);
    std::string fieldName;
    for (int i = 0; i < fieldDefs.Count(); ++i) {
      if (fieldDefs[i].FieldNo() == number) fieldName = fieldDefs[i].Name();
    }
    if (k > 0) fields += ';';
    fields += fieldName;
  }
}

void TTable::ReadIndexDefs(engine::TDataFile& cursor) {
  indexDefs_.Clear();
  for (int n = 0; n <= cursor.IndexCount(); ++n) {
    const engine::TIndexDescriptor descriptor = cursor.GetIndexDef(static_cast<std::uint8_t>(n));
    if (n > 0 && descriptor.KeyFieldCount == 0 && descriptor.Name.empty()) continue;
    const classlib::IndexDescImage image = classlib::IndexDescImage::FromDescriptor(descriptor, n == 0);
    classlib::TIndexOptions options = 0;
    std::string fields, name;
    DecodeIndexDesc(image, FieldDefs(), options, fields, name);
    indexDefs_.Add(name, fields, options);
  }
}

void TTable::UpdateIndexDefs() {
  if (indexDefs_.Updated()) return;
  InitFieldDefs();
  if (Handle()) {
    ReadIndexDefs(*Handle());
  } else {
    WithDatabase([&](classlib::TDatabase& database) {
      std::unique_ptr<engine::TDataFile> cursor = MakeCursor(database, false);
      OpenWithPasswords(*cursor);
      ReadIndexDefs(*cursor);
      cursor->Close();
    });
  }
  indexDefs_.SetUpdated(true);
}

void TTable::GetIndexNames(classlib::TStringList& list) {
  list.Clear();
  UpdateIndexDefs();
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    if (!indexDefs_[i].Name().empty()) list.Add(indexDefs_[i].Name());
  }
}

// --- keys, ranges, table locks --------------------------------------------------------------------

bool TTable::FindKeyBuffer(bool nearest) {
  CheckBrowseMode();
  CursorPosChanged();
  std::vector<std::uint8_t> key(256, 0);
  std::uint8_t* buffer = KeyBuffer(classlib::kiLookup);
  Handle()->BuildKey(Handle()->ActiveIndex(), buffer + 8, buffer + 8, key.data());
  return Handle()->FindKey(true, key.data(), nullptr, KeyBufferFieldCount(classlib::kiLookup), nearest, 0);
}

bool TTable::GotoKey() {
  const bool found = FindKeyBuffer(false);
  if (found) Resync(true, true);
  return found;
}

void TTable::GotoNearest() {
  FindKeyBuffer(true);
  Resync(false, true);
}

void TTable::ApplyRange() {
  CheckBrowseMode();
  if (ApplyKeyRange()) First();
}

void TTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (CancelKeyRange()) Resync(false, false);
}

void TTable::SetTableLock(bool lock) {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
  if (lock) {
    Handle()->LockTable();
  } else {
    Handle()->UnlockTable();
  }
}

void TTable::LockTable(TLockType) { SetTableLock(true); }
void TTable::UnlockTable(TLockType) { SetTableLock(false); }

// --- lookup cursor ----------------------------------------------------------------------------------

engine::TDataFile* TTable::GetLookupCursor(const std::string& keyFields, bool caseInsensitive) {
  const std::string key = keyFields + '\0' + (caseInsensitive ? 'T' : 'F');
  if (!lookupKey_.empty() && lookupKey_ == key) return lookupCursor_.get();
  DestroyLookupCursor();
  UpdateIndexDefs();
  classlib::TIndexDef* index = FindLookupIndex(keyFields, caseInsensitive);
  // The engine refuses to clone an exclusive cursor; the caller then scans instead.
  if (index && Handle() && !Handle()->Exclusive()) {
    lookupCursor_ = Handle()->CloneCursor();
    try {
      lookupCursor_->SelectIndexByName(index->Name());
    } catch (...) {
      lookupCursor_.reset();
      throw;
    }
  }
  lookupKey_ = key;
  return lookupCursor_.get();
}

classlib::TIndexDef* TTable::FindLookupIndex(const std::string& keyFields, bool caseInsensitive) {
  // Over string keys the index's case rule must be the search's: a case-insensitive index would let a
  // case-sensitive search find text that differs in case.
  bool anyString = false;
  std::size_t start = 0;
  while (start <= keyFields.size()) {
    std::size_t end = keyFields.find(';', start);
    if (end == std::string::npos) end = keyFields.size();
    classlib::TField* field = FindField(keyFields.substr(start, end - start));
    anyString = anyString || (field && field->DataType() == classlib::TFieldType::ftString);
    start = end + 1;
  }
  auto qualifies = [&](const classlib::TIndexDef& index) {
    if (index.Has(classlib::ixExpression) || index.Has(classlib::ixDescending)) return false;
    if (!anyString) return true;
    return index.Has(classlib::ixCaseInsensitive) == caseInsensitive;
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < indexDefs_.Count(); ++i) {
      classlib::TIndexDef& index = indexDefs_[i];
      if (!qualifies(index)) continue;
      const std::string& text = index.Fields();
      const bool exact = classlib::SameText(text, keyFields);
      const bool prefix = text.size() > keyFields.size() &&
                          classlib::SameText(std::string_view(text).substr(0, keyFields.size()), keyFields) &&
                          text[keyFields.size()] == ';';
      if (pass == 0 ? exact : prefix) return &index;
    }
  }
  return nullptr;
}

void TTable::DestroyLookupCursor() {
  if (lookupCursor_) {
    try {
      lookupCursor_->Close();
    } catch (...) {
    }
  }
  lookupCursor_.reset();
  lookupKey_.clear();
}

}  // namespace kavrin::dataset
