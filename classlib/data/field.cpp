#include "classlib/data/field.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/data/data_set.h"
#include "classlib/data/exceptions.h"

namespace kavrin::classlib {

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::TField(TComponent* owner, TFieldType dataType, std::int32_t size)
    : TComponent(owner), dataType_(dataType), size_(size) {}

TField::~TField() {
  if (dataSet_) dataSet_->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) dataSet_->CheckInactive();
  if (dataSet) dataSet->CheckInactive();
  if (dataSet_) dataSet_->RemoveField(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddField(this);
}

void TField::SetFieldName(std::string name) {
  if (dataSet_) dataSet_->CheckInactive();
  fieldName_ = std::move(name);
}

void TField::SetSize(std::int32_t size) {
  if (dataSet_) dataSet_->CheckInactive();
  CheckFieldSize(dataType_, size);
  size_ = size;
}

int TField::Index() const {
  if (!dataSet_) return -1;
  for (int i = 0; i < dataSet_->FieldCount(); ++i) {
    if (dataSet_->Fields(i) == this) return i;
  }
  return -1;
}

void TField::SetReadOnly(bool readOnly) {
  readOnly_ = readOnly;
  PropertyChanged(false);
}

void TField::SetIndex(int index) {
  if (!dataSet_) return;
  dataSet_->MoveField(this, index);
  PropertyChanged(true);
}

void TField::SetVisible(bool visible) {
  visible_ = visible;
  PropertyChanged(true);
}

void TField::SetDisplayLabel(std::string label) {
  displayLabel_ = label == fieldName_ ? std::string() : std::move(label);
  PropertyChanged(true);
}

void TField::SetDisplayWidth(int width) {
  displayWidth_ = width;
  PropertyChanged(true);
}

void TField::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  PropertyChanged(false);
}

void TField::PropertyChanged(bool layout) {
  if (dataSet_ && dataSet_->Active()) {
    dataSet_->DataEvent(layout ? TDataEvent::deLayoutChange : TDataEvent::deDataSetChange, 0);
  }
}

std::int32_t TField::DataSize() const {
  switch (dataType_) {
    case TFieldType::ftString: return size_ + 1;
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftBoolean: return 2;
    case TFieldType::ftInteger:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftAutoInc: return 4;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftDateTime: return 8;
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes: return size_;
    default: return 0;
  }
}

bool TField::CanModify() const {
  if (fieldNo_ <= 0 || !dataSet_ || !dataSet_->Active()) return false;
  if (dataSet_->State() == TDataSetState::dsSetKey) {
    if (dataSet_->KeyFieldCount() == 0) return true;
    return IsIndexField();
  }
  return !readOnly_ && dataSet_->CanModify();
}

bool TField::IsIndexField() const {
  if (!dataSet_ || fieldNo_ <= 0) return false;
  for (int k = 0; k < dataSet_->KeyFieldCount(); ++k) {
    if (dataSet_->KeyField(k) == fieldNo_) return true;
  }
  return false;
}

bool TField::GetData(void* buffer) const {
  if (!dataSet_) DatabaseError(FormatMessage("Field '%s' has no dataset", {DisplayName()}));
  if (validating_) {
    if (!pending_) return false;
    if (buffer) std::memcpy(buffer, pending_, static_cast<std::size_t>(DataSize()));
    return true;
  }
  return dataSet_->GetFieldData(*this, buffer);
}

void TField::SetData(const void* buffer) {
  if (!dataSet_) DatabaseError(FormatMessage("Field '%s' has no dataset", {DisplayName()}));
  if (OnValidate && dataSet_->State() != TDataSetState::dsCalcFields && dataSet_->State() != TDataSetState::dsFilter &&
      dataSet_->State() != TDataSetState::dsSetKey) {
    // Fail before the validation runs when the value could not be written anyway.
    if (dataSet_->State() != TDataSetState::dsEdit && dataSet_->State() != TDataSetState::dsInsert) {
      DatabaseError("Dataset not in edit or insert mode");
    }
    if (fieldNo_ > 0 && readOnly_) DatabaseError(FormatMessage("Field '%s' cannot be modified", {DisplayName()}));
    validating_ = true;
    pending_ = buffer;
    try {
      OnValidate(*this);
    } catch (...) {
      validating_ = false;
      pending_ = nullptr;
      throw;
    }
    validating_ = false;
    pending_ = nullptr;
  }
  dataSet_->SetFieldData(*this, buffer);
}

void TField::Change() {
  if (OnChange) OnChange(*this);
}

void TField::AccessError(const char* typeName) const {
  DatabaseError(FormatMessage("Cannot access field '%s' as type %s", {DisplayName(), typeName}));
}

std::string TField::GetAsString() const { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
std::int32_t TField::GetAsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
double TField::GetAsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::GetAsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
runtime::Currency TField::GetAsCurrency() const { return runtime::Currency::FromDouble(GetAsFloat()); }
void TField::SetAsCurrency(runtime::Currency value) { SetAsFloat(value.ToDouble()); }
runtime::TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(runtime::TDateTime) { AccessError("DateTime"); }

Variant TField::GetValue() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TField::SetValue(const Variant& value) {
  if (!value.HasValue()) {
    Clear();
    return;
  }
  switch (value.VarType()) {
    case TVarType::varBoolean: SetAsBoolean(value.AsBoolean()); break;
    case TVarType::varSmallint:
    case TVarType::varInteger: SetAsInteger(value.AsInteger()); break;
    case TVarType::varDouble: SetAsFloat(value.AsFloat()); break;
    case TVarType::varCurrency: SetAsCurrency(value.AsCurrency()); break;
    case TVarType::varDate: SetAsDateTime(value.AsDateTime()); break;
    default: SetAsString(value.AsString()); break;
  }
}

std::string TField::Text() const {
  std::string text;
  if (OnGetText) {
    OnGetText(const_cast<TField&>(*this), text, false);
    return text;
  }
  return GetText(false);
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText) {
    OnGetText(const_cast<TField&>(*this), text, true);
    return text;
  }
  return GetText(true);
}

void TField::SetText(const std::string& text) {
  if (OnSetText) {
    OnSetText(*this, text);
  } else {
    SetAsString(text);
  }
}

bool TField::IsValidChar(char32_t c) const { return c != 0; }

void TField::Assign(const TField* source) {
  if (!source) {
    Clear();
  } else {
    SetValue(source->GetValue());
  }
}

void TField::FocusControl() {
  if (dataSet_ && dataSet_->Active())
    dataSet_->DataEvent(TDataEvent::deFocusControl, reinterpret_cast<std::intptr_t>(this));
}

}  // namespace kavrin::classlib
