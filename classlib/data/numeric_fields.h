// The number fields: whole numbers (Smallint, Integer, Word, AutoInc), Float and Currency (stored as
// doubles) and BCD (the engine's 8-byte BCD, its size the number of decimals).
#pragma once

#include <string>

#include "classlib/data/field.h"

namespace kavrin::classlib {

class TNumericField : public TField {
 public:
  const std::string& DisplayFormat() const { return displayFormat_; }
  void SetDisplayFormat(std::string format);
  const std::string& EditFormat() const { return editFormat_; }
  void SetEditFormat(std::string format);
  bool IsValidChar(char32_t c) const override;

 protected:
  TNumericField(TComponent* owner, TFieldType type, std::int32_t size);
  // The characters a number of this field may hold besides the digits.
  virtual bool AllowsFraction() const { return false; }

 private:
  std::string displayFormat_;
  std::string editFormat_;
};

class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner = nullptr) : TIntegerField(owner, TFieldType::ftInteger) {}
  std::int32_t MinValue() const { return minValue_; }
  std::int32_t MaxValue() const { return maxValue_; }
  void SetMinValue(std::int32_t value) { minValue_ = value; }
  void SetMaxValue(std::int32_t value) { maxValue_ = value; }

  std::string GetAsString() const override;
  void SetAsString(const std::string& text) override;
  std::int32_t GetAsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  double GetAsFloat() const override { return GetAsInteger(); }
  void SetAsFloat(double value) override;
  Variant GetValue() const override;

 protected:
  TIntegerField(TComponent* owner, TFieldType type);
  std::string GetText(bool displayText) const override;
  int DefaultDisplayWidth() const override { return 11; }
  // The range the stored type can hold.
  virtual std::int32_t TypeMin() const { return INT32_MIN; }
  virtual std::int32_t TypeMax() const { return INT32_MAX; }
  virtual void Store(std::int32_t value);
  virtual bool Load(std::int32_t& value) const;

 private:
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 0;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner = nullptr) : TIntegerField(owner, TFieldType::ftSmallint) {}

 protected:
  int DefaultDisplayWidth() const override { return 6; }
  std::int32_t TypeMin() const override { return INT16_MIN; }
  std::int32_t TypeMax() const override { return INT16_MAX; }
  void Store(std::int32_t value) override;
  bool Load(std::int32_t& value) const override;
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner = nullptr) : TIntegerField(owner, TFieldType::ftWord) {}

 protected:
  int DefaultDisplayWidth() const override { return 5; }
  std::int32_t TypeMin() const override { return 0; }
  std::int32_t TypeMax() const override { return UINT16_MAX; }
  void Store(std::int32_t value) override;
  bool Load(std::int32_t& value) const override;
};

// The record's unique id, given by the engine on insert.
class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner = nullptr) : TIntegerField(owner, TFieldType::ftAutoInc) {}
};

class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner = nullptr) : TFloatField(owner, TFieldType::ftFloat) {}
  bool Currency() const { return currency_; }
  void SetCurrency(bool on) { currency_ = on; }
  double MinValue() const { return minValue_; }
  double MaxValue() const { return maxValue_; }
  void SetMinValue(double value) { minValue_ = value; }
  void SetMaxValue(double value) { maxValue_ = value; }

  std::string GetAsString() const override;
  void SetAsString(const std::string& text) override;
  std::int32_t GetAsInteger() const override;
  void SetAsInteger(std::int32_t value) override { SetAsFloat(value); }
  double GetAsFloat() const override;
  void SetAsFloat(double value) override;
  runtime::Currency GetAsCurrency() const override;
  void SetAsCurrency(runtime::Currency value) override { SetAsFloat(value.ToDouble()); }
  Variant GetValue() const override;

 protected:
  TFloatField(TComponent* owner, TFieldType type);
  std::string GetText(bool displayText) const override;
  bool AllowsFraction() const override { return true; }

 private:
  bool currency_ = false;
  double minValue_ = 0;
  double maxValue_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner = nullptr);
};

class TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* owner = nullptr);
  bool Currency() const { return currency_; }
  void SetCurrency(bool on) { currency_ = on; }
  runtime::Currency MinValue() const { return minValue_; }
  runtime::Currency MaxValue() const { return maxValue_; }
  void SetMinValue(runtime::Currency value) { minValue_ = value; }
  void SetMaxValue(runtime::Currency value) { maxValue_ = value; }

  std::string GetAsString() const override;
  void SetAsString(const std::string& text) override;
  std::int32_t GetAsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  double GetAsFloat() const override { return GetAsCurrency().ToDouble(); }
  void SetAsFloat(double value) override;
  runtime::Currency GetAsCurrency() const override;
  void SetAsCurrency(runtime::Currency value) override;
  Variant GetValue() const override;

 protected:
  std::string GetText(bool displayText) const override;
  bool AllowsFraction() const override { return true; }

 private:
  bool currency_ = false;
  runtime::Currency minValue_;
  runtime::Currency maxValue_;
};

}  // namespace kavrin::classlib
