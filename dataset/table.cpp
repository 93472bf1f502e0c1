#include "dataset/table.h"

#include "classlib/data/exceptions.h"
#include "classlib/data/field.h"
#include "classlib/data/string_list.h"
#include "engine/data_file.h"
#include "engine/primitives.h"
#include "runtime/code_pages.h"

namespace kavrin::dataset {

using classlib::DatabaseError;
using classlib::FormatMessage;

TTable::TTable(classlib::TComponent* owner) : TDBDataSet(owner), indexDefs_(this) {}

TTable::~TTable() {
  try {
    Close();
  } catch (...) {
    // A table being freed lets go of what its cursor could not write.
    try {
      CloseWithoutWriting();
    } catch (...) {
    }
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

void TTable::SetRecNo(std::int32_t value) {
  CheckBrowseMode();
  UpdateCursorPos();
  if (value == Handle()->RecordNo()) return;
  Handle()->GotoRecordNo(static_cast<std::uint32_t>(value < 0 ? 0 : value));
  Resync(false, true);
}

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
  cursor->SelectIndexByName(runtime::Utf8ToDescriptorText(indexName, "Index name"));
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
      lookupCursor_->SelectIndexByName(runtime::Utf8ToDescriptorText(index->Name(), "Index name"));
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
      const bool exact = runtime::SameDescriptorName(text, keyFields);
      const bool prefix = text.size() > keyFields.size() &&
                          runtime::SameDescriptorName(std::string_view(text).substr(0, keyFields.size()), keyFields) &&
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

// --- creating a table ---------------------------------------------------------------------------------

namespace kavrin::dataset {
namespace {

struct TTypeCodes {
  std::uint16_t type;
  std::uint16_t subtype;
};

TTypeCodes EngineTypeOf(classlib::TFieldType type) {
  using classlib::TFieldType;
  switch (type) {
    case TFieldType::ftUnknown: return {0, 0};
    case TFieldType::ftString: return {1, 0};
    case TFieldType::ftSmallint: return {5, 0};
    case TFieldType::ftInteger: return {6, 0};
    case TFieldType::ftWord: return {12, 0};
    case TFieldType::ftBoolean: return {4, 0};
    case TFieldType::ftFloat: return {7, 0};
    case TFieldType::ftCurrency: return {7, 21};
    case TFieldType::ftBCD: return {8, 0};
    case TFieldType::ftDate: return {2, 0};
    case TFieldType::ftTime: return {10, 0};
    case TFieldType::ftDateTime: return {11, 0};
    case TFieldType::ftBytes: return {9, 0};
    case TFieldType::ftVarBytes: return {15, 0};
    case TFieldType::ftAutoInc: return {6, 29};
    case TFieldType::ftBlob: return {3, 23};
    case TFieldType::ftMemo: return {3, 22};
    case TFieldType::ftGraphic: return {3, 26};
    case TFieldType::ftFmtMemo: return {3, 24};
    case TFieldType::ftParadoxOle: return {3, 0};
    case TFieldType::ftDBaseOle: return {3, 0};
    case TFieldType::ftTypedBinary: return {3, 28};
  }
  return {0, 0};
}

constexpr std::size_t kNameLimit = 30;

}  // namespace

std::int16_t TTable::EncodeFieldDesc(classlib::FieldDescImage& image, const std::string& name, std::int32_t size,
                                     classlib::TFieldType type) {
  using classlib::TFieldType;
  const TTypeCodes codes = EngineTypeOf(type);
  auto units1 = static_cast<std::int16_t>(size);
  std::int16_t units2 = 0;
  switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftBoolean: units1 = 2; break;
    case TFieldType::ftInteger:
    case TFieldType::ftDate:
    case TFieldType::ftTime: units1 = 4; break;
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
    case TFieldType::ftCurrency: units1 = 8; break;
    case TFieldType::ftBCD:
      units1 = 8;
      units2 = static_cast<std::int16_t>(size);
      break;
    default:
      if (classlib::IsBlobFieldType(type)) units1 = 4;
      break;
  }
  image = classlib::FieldDescImage::Make(name, codes.type, codes.subtype, units1, units2);
  return units1;
}

void TTable::EncodeIndexDesc(classlib::IndexDescImage& image, const std::string& name, classlib::TIndexOptions options,
                             const std::string& fieldList) {
  std::vector<std::int16_t> keyFields;
  std::size_t start = 0;
  while (start <= fieldList.size() && keyFields.size() < 16) {
    std::size_t end = fieldList.find(';', start);
    if (end == std::string::npos) end = fieldList.size();
    const std::string fieldName = fieldList.substr(start, end - start);
    start = end + 1;
    if (fieldName.empty() && end == fieldList.size() && !keyFields.empty()) break;
    int number = 0;
    for (int i = 0; i < FieldDefs().Count() && number == 0; ++i) {
      if (runtime::SameDescriptorName(FieldDefs()[i].Name(), fieldName)) number = i + 1;
    }
    if (number == 0) DatabaseError(FormatMessage("Field '%s' not found", {fieldName}));
    keyFields.push_back(static_cast<std::int16_t>(number));
  }
  image = classlib::IndexDescImage::Make(name, (options & classlib::ixPrimary) != 0,
                                         (options & classlib::ixUnique) != 0, (options & classlib::ixDescending) != 0,
                                         (options & classlib::ixCaseInsensitive) != 0, keyFields);
}

void TTable::CreateTable() {
  CheckInactive();
  if (FieldDefs().Count() == 0) {
    for (int i = 0; i < FieldCount(); ++i) {
      classlib::TField* field = Fields(i);
      if (field->Calculated()) continue;
      FieldDefs().Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
    }
  }
  std::vector<engine::TFieldDescriptor> fields;
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const classlib::TFieldDef& def = FieldDefs()[i];
    classlib::FieldDescImage image;
    EncodeFieldDesc(image, def.Name(), def.Size(), def.DataType());
    engine::TFieldDescriptor field;
    field.FieldNumber = static_cast<std::int16_t>(i + 1);
    // Cut in stored bytes: one character each in Windows-1252.
    field.Name = image.StoredName().substr(0, kNameLimit);
    field.Type = static_cast<std::uint8_t>(image.Type());
    field.Subtype = static_cast<std::uint8_t>(image.Subtype());
    field.Size = static_cast<std::uint8_t>(image.Units1() & 0xFF);
    field.Decimals = static_cast<std::uint8_t>(image.Units2() & 0xFF);
    field.Required = def.Required();
    fields.push_back(std::move(field));
  }
  // Without any index definition the engine gets an empty primary descriptor and refuses it itself.
  std::vector<engine::TIndexDescriptor> indexes;
  for (int i = 0; i < indexDefs_.Count(); ++i) {
    const classlib::TIndexDef& def = indexDefs_[i];
    classlib::IndexDescImage image;
    EncodeIndexDesc(image, def.Name(), def.Options(), def.Fields());
    engine::TIndexDescriptor index;
    if (!image.Primary()) index.Name = image.StoredName().substr(0, kNameLimit);
    for (int k = 0; k < 16 && k < static_cast<int>(index.KeyFields.size()); ++k) {
      index.KeyFields[static_cast<std::size_t>(k)] = image.KeyField(k);
    }
    index.Descending = image.Descending() ? 1 : 0;
    index.CaseInsensitive = image.CaseInsensitive() ? 1 : 0;
    index.Unique = image.Unique() ? 1 : 0;
    indexes.push_back(std::move(index));
  }
  if (indexes.empty()) indexes.emplace_back();
  WithDatabase([&](classlib::TDatabase& database) {
    std::unique_ptr<engine::TDataFile> cursor = MakeCursor(database, true);
    cursor->SetReadOnly(false);
    cursor->CreateTable(false, "", std::move(indexes), std::move(fields), 512, "");
  });
}

}  // namespace kavrin::dataset
