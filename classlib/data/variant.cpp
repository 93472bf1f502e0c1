#include "classlib/data/variant.h"

#include <cmath>
#include <limits>

#include "runtime/conversions.h"

namespace kavrin::classlib {
namespace {

[[noreturn]] void CannotConvert(const char* to) {
  throw EVariantError(std::string("Could not convert variant to type (") + to + ")");
}

}  // namespace

Variant Variant::Null() {
  Variant value;
  value.type_ = TVarType::varNull;
  return value;
}

Variant Variant::FromDateTime(runtime::TDateTime value) {
  Variant result(value);
  result.type_ = TVarType::varDate;
  return result;
}

Variant Variant::Array(std::vector<Variant> items) {
  Variant result;
  result.type_ = TVarType::varArray;
  result.value_ = std::move(items);
  return result;
}

int Variant::ArrayHighBound() const {
  if (!IsArray()) throw EVariantError("Variant is not an array");
  return static_cast<int>(std::get<std::vector<Variant>>(value_).size()) - 1;
}

const Variant& Variant::operator[](int index) const {
  if (!IsArray()) throw EVariantError("Variant is not an array");
  const auto& items = std::get<std::vector<Variant>>(value_);
  if (index < 0 || static_cast<std::size_t>(index) >= items.size())
    throw EVariantError("Variant array index out of bounds");
  return items[static_cast<std::size_t>(index)];
}

double Variant::AsFloat() const {
  switch (type_) {
    case TVarType::varEmpty: return 0;
    case TVarType::varBoolean: return std::get<bool>(value_) ? -1 : 0;
    case TVarType::varSmallint:
    case TVarType::varInteger: return std::get<std::int32_t>(value_);
    case TVarType::varDouble:
    case TVarType::varDate: return std::get<double>(value_);
    case TVarType::varCurrency: return std::get<runtime::Currency>(value_).ToDouble();
    case TVarType::varString: {
      double number = 0;
      if (runtime::TryStrToFloat(std::get<std::string>(value_), number)) return number;
      CannotConvert("Double");
    }
    default: CannotConvert("Double");
  }
}

std::int32_t Variant::AsInteger() const {
  if (type_ == TVarType::varSmallint || type_ == TVarType::varInteger) return std::get<std::int32_t>(value_);
  if (type_ == TVarType::varString) {
    std::int32_t number = 0;
    if (runtime::TryStrToInt(std::get<std::string>(value_), number)) return number;
  }
  const double number = AsFloat();
  const double rounded = std::nearbyint(number);
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max())) {
    CannotConvert("Integer");
  }
  return static_cast<std::int32_t>(rounded);
}

bool Variant::AsBoolean() const {
  if (type_ == TVarType::varBoolean) return std::get<bool>(value_);
  if (type_ == TVarType::varString) {
    const std::string& text = std::get<std::string>(value_);
    if (text == "True" || text == "TRUE" || text == "true") return true;
    if (text == "False" || text == "FALSE" || text == "false") return false;
  }
  return AsFloat() != 0;
}

runtime::Currency Variant::AsCurrency() const {
  if (type_ == TVarType::varCurrency) return std::get<runtime::Currency>(value_);
  if (type_ == TVarType::varString) {
    runtime::Currency amount;
    if (runtime::TryStrToCurr(std::get<std::string>(value_), amount)) return amount;
    CannotConvert("Currency");
  }
  try {
    return runtime::Currency::FromDouble(AsFloat());
  } catch (const runtime::EConvertError&) {
    CannotConvert("Currency");
  }
}

runtime::TDateTime Variant::AsDateTime() const {
  if (type_ == TVarType::varString) {
    runtime::TDateTime moment = 0;
    if (runtime::TryStrToDateTime(std::get<std::string>(value_), moment)) return moment;
    CannotConvert("Date");
  }
  return AsFloat();
}

std::string Variant::AsString() const {
  switch (type_) {
    case TVarType::varEmpty:
    case TVarType::varNull: return {};
    case TVarType::varBoolean: return std::get<bool>(value_) ? "True" : "False";
    case TVarType::varSmallint:
    case TVarType::varInteger: return runtime::IntToStr(std::get<std::int32_t>(value_));
    case TVarType::varDouble: return runtime::FloatToStr(std::get<double>(value_));
    case TVarType::varCurrency: return runtime::CurrToStr(std::get<runtime::Currency>(value_));
    case TVarType::varDate: return runtime::DateTimeToStr(std::get<double>(value_));
    case TVarType::varString: return std::get<std::string>(value_);
    case TVarType::varArray: break;
  }
  CannotConvert("String");
}

bool Variant::operator==(const Variant& other) const { return type_ == other.type_ && value_ == other.value_; }

}  // namespace kavrin::classlib
