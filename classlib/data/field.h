// TField: one field of a dataset's record, read and written in the dataset's record buffers through
// the engine's field routines; the value classes for each field type derive from it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "classlib/data/component.h"
#include "classlib/data/field_type.h"
#include "classlib/data/variant.h"
#include "runtime/currency.h"
#include "runtime/date_time.h"

namespace kavrin::classlib {

class TDataSet;

enum class TFieldKind { fkData, fkCalculated };

class TField : public TComponent {
 public:
  using TFieldNotifyEvent = std::function<void(TField&)>;
  using TFieldGetTextEvent = std::function<void(TField&, std::string& text, bool displayText)>;
  using TFieldSetTextEvent = std::function<void(TField&, const std::string& text)>;

  explicit TField(TComponent* owner = nullptr);
  ~TField() override;

  TDataSet* DataSet() const { return dataSet_; }
  // Only while the datasets are closed.
  void SetDataSet(TDataSet* dataSet);
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string name);
  std::int32_t FieldNo() const { return fieldNo_; }
  TFieldType DataType() const { return dataType_; }
  std::int32_t Size() const { return size_; }
  void SetSize(std::int32_t size);
  // The position in the dataset's fields.
  int Index() const;
  // Moves the field to this position in its dataset's fields (clamped); the grids follow.
  void SetIndex(int index);
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind kind) { fieldKind_ = kind; }
  bool Calculated() const { return fieldKind_ == TFieldKind::fkCalculated; }
  void SetCalculated(bool calculated) { fieldKind_ = calculated ? TFieldKind::fkCalculated : TFieldKind::fkData; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  std::string DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  void SetDisplayLabel(std::string label);
  std::string DisplayName() const { return DisplayLabel(); }
  int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultDisplayWidth(); }
  void SetDisplayWidth(int width);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment);
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(std::string mask) { editMask_ = std::move(mask); }
  // Bytes of the value in the dataset's buffers and value transfers.
  std::int32_t DataSize() const;
  bool CanModify() const;
  bool IsIndexField() const;

  // The raw value in the engine's data format: true when the field has one (buffer may be null to
  // test only); SetData(nullptr) makes it null.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);
  bool IsNull() const { return !GetData(nullptr); }
  void Clear() { SetData(nullptr); }

  virtual std::string GetAsString() const;
  virtual void SetAsString(const std::string& text);
  virtual std::int32_t GetAsInteger() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual runtime::Currency GetAsCurrency() const;
  virtual void SetAsCurrency(runtime::Currency value);
  virtual runtime::TDateTime GetAsDateTime() const;
  virtual void SetAsDateTime(runtime::TDateTime value);
  // Null as Variant::Null().
  virtual Variant GetValue() const;
  virtual void SetValue(const Variant& value);

  std::string AsString() const { return GetAsString(); }
  void SetAsStringValue(const std::string& text) { SetAsString(text); }
  std::int32_t AsInteger() const { return GetAsInteger(); }
  double AsFloat() const { return GetAsFloat(); }
  bool AsBoolean() const { return GetAsBoolean(); }
  runtime::Currency AsCurrency() const { return GetAsCurrency(); }
  runtime::TDateTime AsDateTime() const { return GetAsDateTime(); }
  Variant Value() const { return GetValue(); }

  // The text for editing (Text) and for display (DisplayText), through OnGetText when set.
  std::string Text() const;
  std::string DisplayText() const;
  void SetText(const std::string& text);
  // Whether a typed character may go into the field's text.
  virtual bool IsValidChar(char32_t c) const;
  // The value of another field, or null for none.
  void Assign(const TField* source);
  // Asks the data-aware control showing this field to take the focus.
  void FocusControl();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

  // Set by the dataset when it binds its fields.
  void Bind(std::int32_t fieldNo, std::int32_t offset) {
    fieldNo_ = fieldNo;
    offset_ = offset;
  }
  std::int32_t Offset() const { return offset_; }
  // Called by the dataset after the value changed.
  void Change();
  // The value pending while OnValidate runs.
  bool Validating() const { return validating_; }
  const void* PendingValue() const { return pending_; }
  // Frees what the field holds for the record being edited (blobs, later); nothing by default.
  virtual void FreeBuffers() {}

 protected:
  TField(TComponent* owner, TFieldType dataType, std::int32_t size);
  void SetDataType(TFieldType type) { dataType_ = type; }
  virtual std::string GetText(bool displayText) const {
    (void)displayText;
    return GetAsString();
  }
  virtual int DefaultDisplayWidth() const { return 10; }
  [[noreturn]] void AccessError(const char* typeName) const;
  void PropertyChanged(bool layout);

 private:
  TDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  std::int32_t fieldNo_ = 0;
  std::int32_t offset_ = 0;
  TFieldType dataType_ = TFieldType::ftUnknown;
  std::int32_t size_ = 0;
  TFieldKind fieldKind_ = TFieldKind::fkData;
  bool required_ = false;
  bool readOnly_ = false;
  bool visible_ = true;
  std::string displayLabel_;
  int displayWidth_ = 0;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  std::string editMask_;
  bool validating_ = false;
  const void* pending_ = nullptr;
};

}  // namespace kavrin::classlib
