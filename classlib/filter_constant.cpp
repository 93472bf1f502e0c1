#include "classlib/filter_constant.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>

#include "classlib/extended_float.h"
#include "engine/bcd.h"
#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "runtime/code_pages.h"
#include "runtime/conversions.h"
#include "runtime/date_time.h"
#include "runtime/format_settings.h"

namespace kavrin::classlib {
namespace {

using engine::TFieldDescriptor;

constexpr int kCurrencyDecimals = 4;

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The constant as the user wrote it, for messages.
std::string Shown(const TFilterConstant& constant) {
  switch (constant.Kind) {
    case TConstantKind::Number: return constant.Text;
    case TConstantKind::Boolean: return constant.BoolValue ? "True" : "False";
    case TConstantKind::String: break;
  }
  std::string out = "'";
  for (char c : constant.Text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Described(const TFieldDescriptor& field) {
  return std::string(FieldTypeName(field)) + " field '" + Trimmed(field.Name) + "'";
}

[[noreturn]] void NotValid(const TFieldDescriptor& field, const TFilterConstant& constant) {
  throw EConstantConversion(Shown(constant) + " is not a valid value for " + Described(field));
}

[[noreturn]] void OutOfRange(const TFieldDescriptor& field, const TFilterConstant& constant) {
  throw EConstantConversion(Shown(constant) + " is out of range for " + Described(field));
}

// Decimal places that a number text asks for beyond the point once trailing zeros and the exponent are
// taken into account; 0 for text that is no decimal number (its conversion fails on its own).
std::int64_t RequestedDecimals(std::string_view text) {
  const char separator = runtime::FormatSettings().DecimalSeparator;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i == text.size() || text[i] != separator) return 0;
  ++i;
  std::int64_t places = 0;
  std::int64_t significant = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    ++places;
    if (text[i] != '0') significant = places;
    ++i;
  }
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (negative) exponent = -exponent;
  }
  return std::max<std::int64_t>(0, significant - exponent);
}

std::vector<std::uint8_t> StoredString(const TFieldDescriptor& field, std::string_view utf8, bool transliterate) {
  const std::string stored = transliterate ? runtime::Utf8ToOem(utf8) : runtime::Utf8ToAnsi(utf8);
  // The code pages put '?' for what they cannot hold; such a constant would match stored question marks.
  if (std::count(stored.begin(), stored.end(), '?') != std::count(utf8.begin(), utf8.end(), '?')) {
    throw EConstantConversion("'" + std::string(utf8) + "' holds a character that the table's code page (" +
                              (transliterate ? "CP437" : "Windows-1252") + ") cannot store");
  }
  std::vector<std::uint8_t> value(static_cast<std::size_t>(engine::FieldDataSize(field)), 0);
  // One byte per character, so the cut never falls inside one; the last byte stays the terminator.
  const std::size_t kept = std::min(stored.size(), value.size() - 1);
  std::copy_n(stored.begin(), kept, value.begin());
  return value;
}

std::int64_t IntegerValue(const TFieldDescriptor& field, const TFilterConstant& constant) {
  std::int64_t value = 0;
  if (!runtime::TryStrToInt64(constant.Text, value)) {
    // A whole number beyond 64 bits is a range error rather than a malformed one.
    double probe = 0;
    if (runtime::TryStrToFloat(constant.Text, probe) && std::trunc(probe) == probe && std::fabs(probe) >= 0x1p63)
      OutOfRange(field, constant);
    NotValid(field, constant);
  }
  std::int64_t low = 0;
  std::int64_t high = 0;
  switch (field.Type) {
    case engine::ftSmallInt:
      low = std::numeric_limits<std::int16_t>::min();
      high = std::numeric_limits<std::int16_t>::max();
      break;
    case engine::ftWord: high = std::numeric_limits<std::uint16_t>::max(); break;
    case engine::ftLongWord: high = std::numeric_limits<std::uint32_t>::max(); break;
    default:
      low = std::numeric_limits<std::int32_t>::min();
      high = std::numeric_limits<std::int32_t>::max();
      break;
  }
  if (value < low || value > high) OutOfRange(field, constant);
  return value;
}

double FloatValue(const TFieldDescriptor& field, const TFilterConstant& constant) {
  double value = 0;
  if (!runtime::TryStrToFloat(constant.Text, value) || !std::isfinite(value)) NotValid(field, constant);
  return value;
}

runtime::TTimeStamp StampOf(const TFieldDescriptor& field, const TFilterConstant& constant,
                            bool (*parse)(std::string_view, runtime::TDateTime&)) {
  runtime::TDateTime value = 0;
  if (!parse(constant.Text, value)) NotValid(field, constant);
  try {
    return runtime::DateTimeToTimeStamp(value);
  } catch (const runtime::EConvertError&) {
    OutOfRange(field, constant);
  }
}

std::vector<std::uint8_t> Converted(const TFieldDescriptor& field, const TFilterConstant& constant) {
  std::vector<std::uint8_t> value(static_cast<std::size_t>(engine::FieldDataSize(field)), 0);
  std::uint8_t* out = value.data();
  switch (field.Type) {
    case engine::ftBoolean: {
      bool truth = constant.BoolValue;
      if (constant.Kind == TConstantKind::String) {
        if (EqualsNoCase(constant.Text, "True")) {
          truth = true;
        } else if (EqualsNoCase(constant.Text, "False")) {
          truth = false;
        } else {
          NotValid(field, constant);
        }
      }
      engine::StoreU16(out, truth ? 1 : 0);
      break;
    }
    case engine::ftSmallInt: engine::StoreI16(out, static_cast<std::int16_t>(IntegerValue(field, constant))); break;
    case engine::ftWord: engine::StoreU16(out, static_cast<std::uint16_t>(IntegerValue(field, constant))); break;
    case engine::ftInteger: engine::StoreI32(out, static_cast<std::int32_t>(IntegerValue(field, constant))); break;
    case engine::ftLongWord: engine::StoreU32(out, static_cast<std::uint32_t>(IntegerValue(field, constant))); break;
    case engine::ftFloat: engine::StoreF64(out, FloatValue(field, constant)); break;
    case engine::ftFloat10: DoubleToExtended(FloatValue(field, constant), out); break;
    case engine::ftBCD: {
      runtime::Currency amount;
      if (!runtime::TryStrToCurr(constant.Text, amount)) {
        double probe = 0;
        if (runtime::TryStrToFloat(constant.Text, probe)) OutOfRange(field, constant);
        NotValid(field, constant);
      }
      // Rounding to the field's decimals would move the constant onto another stored value.
      const int kept = std::min<int>(field.Decimals, kCurrencyDecimals);
      if (RequestedDecimals(constant.Text) > kept) {
        throw EConstantConversion(Shown(constant) + " has more decimals than " + Described(field) + " holds (" +
                                  std::to_string(static_cast<int>(field.Decimals)) + ")");
      }
      try {
        engine::StoreI64(out, engine::CurrencyToBCD(field.Decimals, amount));
      } catch (const engine::EDBEngineError&) {
        OutOfRange(field, constant);
      }
      break;
    }
    case engine::ftDate: engine::StoreI32(out, StampOf(field, constant, runtime::TryStrToDate).Date); break;
    case engine::ftTime: engine::StoreI32(out, StampOf(field, constant, runtime::TryStrToTime).Time); break;
    case engine::ftTimeStamp:
      engine::StoreF64(out, runtime::TimeStampToMSecs(StampOf(field, constant, runtime::TryStrToDateTime)));
      break;
    default: throw EConstantConversion(Described(field) + " cannot be compared");
  }
  return value;
}

}  // namespace

bool IsComparableField(const TFieldDescriptor& field) {
  switch (field.Type) {
    case engine::ftString:
    case engine::ftDate:
    case engine::ftBoolean:
    case engine::ftSmallInt:
    case engine::ftInteger:
    case engine::ftFloat:
    case engine::ftBCD:
    case engine::ftTime:
    case engine::ftTimeStamp:
    case engine::ftWord:
    case engine::ftLongWord:
    case engine::ftFloat10: return true;
    default: return false;
  }
}

const char* FieldTypeName(const TFieldDescriptor& field) {
  switch (field.Type) {
    case engine::ftString: return "string";
    case engine::ftDate: return "date";
    case engine::ftBlob: return "blob";
    case engine::ftBoolean: return "boolean";
    case engine::ftSmallInt: return "smallint";
    case engine::ftInteger: return field.IsAutoInc() ? "autoinc" : "integer";
    case engine::ftFloat: return "float";
    case engine::ftBCD: return "BCD";
    case engine::ftBytes: return "bytes";
    case engine::ftTime: return "time";
    case engine::ftTimeStamp: return "timestamp";
    case engine::ftWord: return "word";
    case engine::ftLongWord: return "longword";
    case engine::ftFloat10: return "10-byte float";
    case engine::ftVarBytes: return "varbytes";
    default: return "unknown";
  }
}

TStoredConstant ConvertFilterConstant(const TFieldDescriptor& field, const TFilterConstant& constant,
                                      bool partialAllowed, bool transliterate) {
  if (!IsComparableField(field)) throw EConstantConversion(Described(field) + " cannot be compared");

  const bool isDateLike =
      field.Type == engine::ftDate || field.Type == engine::ftTime || field.Type == engine::ftTimeStamp;
  if (constant.Kind == TConstantKind::Boolean && field.Type != engine::ftBoolean) {
    throw EConstantConversion(Shown(constant) + " cannot be compared with " + Described(field));
  }
  if (constant.Kind == TConstantKind::Number && (isDateLike || field.Type == engine::ftBoolean)) {
    throw EConstantConversion("the number " + Shown(constant) + " cannot be compared with " + Described(field) +
                              (isDateLike ? "; write the value as a quoted text" : "; use True or False"));
  }

  TStoredConstant result;
  if (field.Type == engine::ftString) {
    if (constant.Text.find('\0') != std::string::npos)
      throw EConstantConversion("a string constant cannot hold a NUL character");
    std::string_view text = constant.Text;
    if (constant.Kind == TConstantKind::String && partialAllowed && !text.empty() && text.back() == '*') {
      text.remove_suffix(1);
      result.Partial = true;
    }
    result.Value = StoredString(field, text, transliterate);
    if (result.Partial) {
      const auto end = std::find(result.Value.begin(), result.Value.end(), std::uint8_t{0});
      result.PartialLength = static_cast<std::uint16_t>(end - result.Value.begin());
    }
    return result;
  }
  result.Value = Converted(field, constant);
  return result;
}

}  // namespace kavrin::classlib
