#include "classlib/data/field_defs.h"

#include <cstdlib>

#include "classlib/data/data_set.h"
#include "classlib/data/desc_images.h"
#include "classlib/data/exceptions.h"
#include "classlib/data/numeric_fields.h"
#include "classlib/data/other_fields.h"
#include "classlib/data/string_field.h"
#include "runtime/code_pages.h"

namespace kavrin::classlib {
namespace {

TField* NewField(TFieldType type, TComponent* owner) {
  switch (type) {
    case TFieldType::ftString: return new TStringField(owner);
    case TFieldType::ftSmallint: return new TSmallintField(owner);
    case TFieldType::ftInteger: return new TIntegerField(owner);
    case TFieldType::ftWord: return new TWordField(owner);
    case TFieldType::ftBoolean: return new TBooleanField(owner);
    case TFieldType::ftFloat: return new TFloatField(owner);
    case TFieldType::ftCurrency: return new TCurrencyField(owner);
    case TFieldType::ftBCD: return new TBCDField(owner);
    case TFieldType::ftDate: return new TDateField(owner);
    case TFieldType::ftTime: return new TTimeField(owner);
    case TFieldType::ftDateTime: return new TDateTimeField(owner);
    case TFieldType::ftBytes: return new TBytesField(owner);
    case TFieldType::ftVarBytes: return new TVarBytesField(owner);
    case TFieldType::ftAutoInc: return new TAutoIncField(owner);
    case TFieldType::ftMemo: return new TMemoField(owner);
    case TFieldType::ftGraphic: return new TGraphicField(owner);
    case TFieldType::ftBlob:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary: {
      auto* field = new TBlobField(owner);
      field->SetBlobType(type);
      return field;
    }
    default: return nullptr;
  }
}

}  // namespace

void CheckFieldSize(TFieldType type, std::int32_t size) {
  bool valid = size == 0;
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes: valid = size >= 1 && size <= 245; break;
    case TFieldType::ftBCD: valid = size >= 0 && size <= 32; break;
    default: break;
  }
  if (!valid) DatabaseError("Invalid field size");
}

TFieldDef::TFieldDef(TFieldDefs& owner, std::string name, TFieldType dataType, std::int32_t size, bool required,
                     std::int32_t fieldNo)
    : name_(std::move(name)), dataType_(dataType), size_(size), required_(required), fieldNo_(fieldNo) {
  CheckFieldSize(dataType, size);
  owner.items_.emplace_back(this);
}

TField* TFieldDef::CreateField(TComponent* owner, TDataSet* dataSet) const {
  TField* field = NewField(dataType_, owner);
  if (!field) DatabaseError(FormatMessage("Field '%s' is of an unknown type", {name_}));
  try {
    field->SetFieldName(name_);
    if (dataType_ == TFieldType::ftString || dataType_ == TFieldType::ftBCD || dataType_ == TFieldType::ftBytes ||
        dataType_ == TFieldType::ftVarBytes) {
      field->SetSize(size_);
    }
    field->SetRequired(required_);
    if (internalCalcField_) field->SetCalculated(true);
    field->SetDataSet(dataSet);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

TFieldDef& TFieldDefs::Add(std::string name, TFieldType dataType, std::int32_t size, bool required) {
  if (name.empty()) DatabaseError("Field name missing");
  if (IndexOf(name) >= 0) DatabaseError(FormatMessage("Duplicate field name '%s'", {name}));
  return *new TFieldDef(*this, std::move(name), dataType, size, required, Count() + 1);
}

void TFieldDefs::Assign(const TFieldDefs& other) {
  if (&other == this) return;
  Clear();
  for (int i = 0; i < other.Count(); ++i) {
    const TFieldDef& def = other[i];
    TFieldDef* copy = new TFieldDef(*this, def.Name(), def.DataType(), def.Size(), def.Required(), def.FieldNo());
    copy->SetInternalCalcField(def.InternalCalcField());
  }
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    if (runtime::SameDescriptorName(items_[static_cast<std::size_t>(i)]->Name(), name)) return i;
  }
  return -1;
}

TFieldDef& TFieldDefs::Find(std::string_view name) const {
  const int at = IndexOf(name);
  if (at < 0) DatabaseError(FormatMessage("Field '%s' not found", {std::string(name)}));
  return Items(at);
}

void TFieldDefs::Update() {
  if (dataSet_) dataSet_->InitFieldDefs();
}

TFieldType FieldTypeOfEngine(std::uint16_t type, std::uint16_t subtype) {
  switch (type) {
    case engine::ftString: return TFieldType::ftString;
    case engine::ftDate: return TFieldType::ftDate;
    case engine::ftBlob:
      switch (subtype) {
        case engine::fstMemo: return TFieldType::ftMemo;
        case engine::fstFormattedMemo: return TFieldType::ftFmtMemo;
        case engine::fstGraphic: return TFieldType::ftGraphic;
        case engine::fstTypedBinary: return TFieldType::ftTypedBinary;
        default: return TFieldType::ftBlob;
      }
    case engine::ftBoolean: return TFieldType::ftBoolean;
    case engine::ftSmallInt: return TFieldType::ftSmallint;
    case engine::ftInteger: return subtype == engine::fstAutoInc ? TFieldType::ftAutoInc : TFieldType::ftInteger;
    case engine::ftFloat: return subtype == engine::fstMoney ? TFieldType::ftCurrency : TFieldType::ftFloat;
    case engine::ftBCD: return TFieldType::ftBCD;
    case engine::ftBytes: return TFieldType::ftBytes;
    case engine::ftTime: return TFieldType::ftTime;
    case engine::ftTimeStamp: return TFieldType::ftDateTime;
    case engine::ftWord: return TFieldType::ftWord;
    case engine::ftVarBytes: return TFieldType::ftVarBytes;
    default: return TFieldType::ftUnknown;  // 0, 13, 14, 16 and above
  }
}

void TFieldDefs::AddFieldDesc(const FieldDescImage& image, bool required, std::int32_t fieldNo) {
  const std::string base = image.Name();
  std::string name = base;
  for (int n = 1; IndexOf(name) >= 0; ++n) name = base + "_" + std::to_string(n);
  const TFieldType type = FieldTypeOfEngine(image.Type(), image.Subtype());
  if (type == TFieldType::ftUnknown) return;
  std::int32_t size = 0;
  switch (image.Type()) {
    case engine::ftString:
    case engine::ftBytes:
    case engine::ftVarBytes: size = image.Length(); break;
    case engine::ftBCD: size = std::abs(image.Units2()); break;
    default: break;
  }
  TFieldDef* def = new TFieldDef(*this, name, type, size, required, fieldNo);
  def->SetInternalCalcField(image.Calculated() != 0);
}

}  // namespace kavrin::classlib
