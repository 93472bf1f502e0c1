#include "classlib/data/numeric_fields.h"

#include <cmath>
#include <cstdio>

#include "classlib/data/exceptions.h"
#include "classlib/data/format_float.h"
#include "engine/bcd.h"
#include "engine/byte_order.h"
#include "runtime/conversions.h"
#include "runtime/format_settings.h"

namespace kavrin::classlib {
namespace {

std::string FormatG(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

[[noreturn]] void RangeError(const std::string& value, const std::string& name, const std::string& low,
                             const std::string& high) {
  DatabaseError(
      FormatMessage("%s is not a valid value for field '%s'. The allowed range is %s to %s", {value, name, low, high}));
}

[[noreturn]] void InvalidNumber(const std::string& text) { DatabaseError("'" + text + "' is not a valid number"); }

}  // namespace

TNumericField::TNumericField(TComponent* owner, TFieldType type, std::int32_t size) : TField(owner, type, size) {
  SetAlignment(TAlignment::taRightJustify);
}

void TNumericField::SetDisplayFormat(std::string format) {
  displayFormat_ = std::move(format);
  PropertyChanged(false);
}

void TNumericField::SetEditFormat(std::string format) {
  editFormat_ = std::move(format);
  PropertyChanged(false);
}

bool TNumericField::IsValidChar(char32_t c) const {
  if ((c >= '0' && c <= '9') || c == '+' || c == '-') return true;
  if (!AllowsFraction()) return false;
  return c == 'E' || c == 'e' || c == static_cast<unsigned char>(runtime::FormatSettings().DecimalSeparator);
}

// --- whole numbers ----------------------------------------------------------------------------------

TIntegerField::TIntegerField(TComponent* owner, TFieldType type) : TNumericField(owner, type, 0) {}

void TIntegerField::Store(std::int32_t value) {
  std::uint8_t data[4];
  engine::StoreI32(data, value);
  SetData(data);
}

bool TIntegerField::Load(std::int32_t& value) const {
  std::uint8_t data[4] = {};
  if (!GetData(data)) return false;
  value = engine::LoadI32(data);
  return true;
}

void TSmallintField::Store(std::int32_t value) {
  std::uint8_t data[2];
  engine::StoreI16(data, static_cast<std::int16_t>(value));
  SetData(data);
}

bool TSmallintField::Load(std::int32_t& value) const {
  std::uint8_t data[2] = {};
  if (!GetData(data)) return false;
  value = engine::LoadI16(data);
  return true;
}

void TWordField::Store(std::int32_t value) {
  std::uint8_t data[2];
  engine::StoreU16(data, static_cast<std::uint16_t>(value));
  SetData(data);
}

bool TWordField::Load(std::int32_t& value) const {
  std::uint8_t data[2] = {};
  if (!GetData(data)) return false;
  value = engine::LoadU16(data);
  return true;
}

std::int32_t TIntegerField::GetAsInteger() const {
  std::int32_t value = 0;
  return Load(value) ? value : 0;
}

void TIntegerField::SetAsInteger(std::int32_t value) {
  const bool ranged = minValue_ != 0 || maxValue_ != 0;
  const std::int32_t low = ranged ? minValue_ : TypeMin();
  const std::int32_t high = ranged ? maxValue_ : TypeMax();
  if (value < low || value > high) {
    RangeError(runtime::IntToStr(value), DisplayName(), runtime::IntToStr(low), runtime::IntToStr(high));
  }
  Store(value);
}

void TIntegerField::SetAsFloat(double value) {
  if (!(std::fabs(value) < 2147483648.0))
    RangeError(FormatG(value), DisplayName(), runtime::IntToStr(TypeMin()), runtime::IntToStr(TypeMax()));
  SetAsInteger(static_cast<std::int32_t>(std::nearbyint(value)));
}

std::string TIntegerField::GetAsString() const {
  std::int32_t value = 0;
  return Load(value) ? runtime::IntToStr(value) : std::string();
}

void TIntegerField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  std::int32_t value = 0;
  if (!runtime::TryStrToInt(text, value)) InvalidNumber(text);
  SetAsInteger(value);
}

std::string TIntegerField::GetText(bool displayText) const {
  std::int32_t value = 0;
  if (!Load(value)) return {};
  const std::string& format = displayText || EditFormat().empty() ? DisplayFormat() : EditFormat();
  return format.empty() ? runtime::IntToStr(value) : FormatFloat(format, value);
}

Variant TIntegerField::GetValue() const {
  std::int32_t value = 0;
  return Load(value) ? Variant(value) : Variant::Null();
}

// --- floating point -------------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* owner, TFieldType type) : TNumericField(owner, type, 0) {}

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner, TFieldType::ftCurrency) { SetCurrency(true); }

double TFloatField::GetAsFloat() const {
  std::uint8_t data[8] = {};
  return GetData(data) ? engine::LoadF64(data) : 0;
}

void TFloatField::SetAsFloat(double value) {
  if (minValue_ != 0 || maxValue_ != 0) {
    if (value < minValue_ || value > maxValue_) {
      RangeError(FormatG(value), DisplayName(), FormatG(minValue_), FormatG(maxValue_));
    }
  }
  std::uint8_t data[8];
  engine::StoreF64(data, value);
  SetData(data);
}

std::int32_t TFloatField::GetAsInteger() const {
  const double value = GetAsFloat();
  if (!(std::fabs(value) < 2147483648.0)) DatabaseError(FormatG(value) + " is not a valid integer value");
  return static_cast<std::int32_t>(std::nearbyint(value));
}

runtime::Currency TFloatField::GetAsCurrency() const { return runtime::Currency::FromDouble(GetAsFloat()); }

std::string TFloatField::GetAsString() const {
  std::uint8_t data[8] = {};
  return GetData(data) ? runtime::FloatToStr(engine::LoadF64(data)) : std::string();
}

void TFloatField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  double value = 0;
  if (!runtime::TryStrToFloat(text, value)) InvalidNumber(text);
  SetAsFloat(value);
}

std::string TFloatField::GetText(bool displayText) const {
  std::uint8_t data[8] = {};
  if (!GetData(data)) return {};
  const double value = engine::LoadF64(data);
  const std::string& format = displayText || EditFormat().empty() ? DisplayFormat() : EditFormat();
  if (!format.empty()) return FormatFloat(format, value);
  if (currency_) return FormatFloat(displayText ? "#,##0.00" : "0.00", value);
  return runtime::FloatToStr(value);
}

Variant TFloatField::GetValue() const {
  std::uint8_t data[8] = {};
  return GetData(data) ? Variant(engine::LoadF64(data)) : Variant::Null();
}

// --- BCD ------------------------------------------------------------------------------------------

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner, TFieldType::ftBCD, 4) {}

runtime::Currency TBCDField::GetAsCurrency() const {
  std::uint8_t data[8] = {};
  if (!GetData(data)) return {};
  return engine::RoundCurrency(Size(), engine::BCDToCurrency(engine::LoadI64(data)));
}

void TBCDField::SetAsCurrency(runtime::Currency value) {
  if (!(minValue_ == runtime::Currency{} && maxValue_ == runtime::Currency{})) {
    if (value < minValue_ || value > maxValue_) {
      RangeError(FormatG(value.ToDouble()), DisplayName(), FormatG(minValue_.ToDouble()),
                 FormatG(maxValue_.ToDouble()));
    }
  }
  std::uint8_t data[8];
  engine::StoreI64(data, engine::CurrencyToBCD(Size(), value));
  SetData(data);
}

std::int32_t TBCDField::GetAsInteger() const {
  const double value = std::trunc(GetAsCurrency().ToDouble());
  if (!(std::fabs(value) < 2147483648.0)) DatabaseError(FormatG(value) + " is not a valid integer value");
  return static_cast<std::int32_t>(value);
}

void TBCDField::SetAsInteger(std::int32_t value) { SetAsCurrency(runtime::Currency::FromInt(value)); }

void TBCDField::SetAsFloat(double value) {
  runtime::Currency amount;
  try {
    amount = runtime::Currency::FromDouble(value);
  } catch (const runtime::EConvertError&) {
    DatabaseError(FormatG(value) + " is not a valid value for field '" + DisplayName() + "'");
  }
  SetAsCurrency(amount);
}

std::string TBCDField::GetAsString() const {
  if (IsNull()) return {};
  return runtime::CurrToStr(GetAsCurrency());
}

void TBCDField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  runtime::Currency value;
  if (!runtime::TryStrToCurr(text, value)) InvalidNumber(text);
  SetAsCurrency(value);
}

std::string TBCDField::GetText(bool displayText) const {
  if (IsNull()) return {};
  const runtime::Currency value = GetAsCurrency();
  const std::string& format = displayText || EditFormat().empty() ? DisplayFormat() : EditFormat();
  if (!format.empty()) return FormatFloat(format, value.ToDouble());
  if (currency_) return FormatFloat(displayText ? "#,##0.00" : "0.00", value.ToDouble());
  return runtime::CurrToStr(value);
}

Variant TBCDField::GetValue() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsCurrency());
}

}  // namespace kavrin::classlib
