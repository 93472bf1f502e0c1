// Variant: the class library's value of any field type, with null, empty and arrays (the values of a
// multi-field Locate). Conversions follow the process-wide format settings; one that cannot be made
// raises EVariantError.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "runtime/currency.h"
#include "runtime/date_time.h"

namespace kavrin::classlib {

class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TVarType {
  varEmpty,
  varNull,
  varSmallint,
  varInteger,
  varDouble,
  varCurrency,
  varDate,
  varBoolean,
  varString,
  varArray
};

class Variant {
 public:
  Variant() = default;  // empty
  Variant(bool value) : type_(TVarType::varBoolean), value_(value) {}
  Variant(std::int16_t value) : type_(TVarType::varSmallint), value_(std::int32_t{value}) {}
  Variant(std::int32_t value) : type_(TVarType::varInteger), value_(value) {}
  Variant(double value) : type_(TVarType::varDouble), value_(value) {}
  Variant(runtime::Currency value) : type_(TVarType::varCurrency), value_(value) {}
  Variant(std::string value) : type_(TVarType::varString), value_(std::move(value)) {}
  Variant(const char* value) : Variant(std::string(value)) {}
  static Variant Null();
  static Variant FromDateTime(runtime::TDateTime value);
  static Variant Array(std::vector<Variant> items);

  TVarType VarType() const { return type_; }
  bool IsNull() const { return type_ == TVarType::varNull; }
  bool IsEmpty() const { return type_ == TVarType::varEmpty; }
  bool IsArray() const { return type_ == TVarType::varArray; }
  // Null and empty alike: no value.
  bool HasValue() const { return !IsNull() && !IsEmpty(); }
  int ArrayHighBound() const;
  const Variant& operator[](int index) const;

  bool AsBoolean() const;
  std::int32_t AsInteger() const;
  double AsFloat() const;
  runtime::Currency AsCurrency() const;
  runtime::TDateTime AsDateTime() const;
  // Null and empty give the empty string.
  std::string AsString() const;

  bool operator==(const Variant& other) const;

 private:
  TVarType type_ = TVarType::varEmpty;
  std::variant<std::monostate, bool, std::int32_t, double, runtime::Currency, std::string, std::vector<Variant>> value_;
};

}  // namespace kavrin::classlib
