#include "engine/value_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "engine/bcd.h"
#include "engine/byte_order.h"
#include "engine/primitives.h"
#include "runtime/conversions.h"
#include "runtime/currency.h"
#include "runtime/date_time.h"

namespace kavrin::engine {
namespace {

using runtime::Currency;

// The day of date-time 0, 30 December 1899: the zero value of a date.
constexpr std::int32_t kZeroDay = runtime::DateDelta;

// Raised inside a conversion whose source value cannot be carried at all: the new field gets the zero
// value of its type.
struct TNoValue {};

bool OneOf(std::uint8_t type, std::initializer_list<std::uint8_t> types) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

bool Supported(std::uint8_t from, std::uint8_t to) {
  // A blob holds a chain in the blob file, which no other value can become.
  if (to == ftBlob || from == ftBlob) return from == to;
  if (from == to) return true;
  switch (from) {
    case ftString:
      return OneOf(to,
                   {ftDate, ftTime, ftTimeStamp, ftBoolean, ftSmallInt, ftInteger, ftWord, ftFloat, ftBCD, ftBytes});
    case ftInteger: return OneOf(to, {ftString, ftSmallInt, ftWord, ftFloat, ftBCD, ftBytes});
    case ftSmallInt: return OneOf(to, {ftString, ftInteger, ftBoolean, ftWord, ftFloat, ftBCD, ftBytes});
    case ftWord: return OneOf(to, {ftString, ftInteger, ftFloat, ftBCD, ftBoolean, ftSmallInt, ftBytes});
    case ftBoolean: return OneOf(to, {ftString, ftSmallInt, ftInteger, ftWord, ftBCD, ftBytes});
    case ftFloat: return OneOf(to, {ftString, ftSmallInt, ftInteger, ftWord, ftBCD, ftBytes});
    case ftBCD: return OneOf(to, {ftString, ftFloat, ftSmallInt, ftInteger, ftWord, ftBytes});
    case ftDate:
    case ftTime: return OneOf(to, {ftString, ftTimeStamp, ftBytes});
    case ftTimeStamp: return OneOf(to, {ftString, ftDate, ftTime, ftBytes});
    case ftBytes:
    case ftLongWord:
    case ftFloat10:
    case ftVarBytes: return true;
    default: return false;
  }
}

// What a field keeps of a value: a string its characters, every other type its data bytes.
std::size_t Capacity(const TFieldDescriptor& field) {
  return field.Type == ftString ? field.Size : static_cast<std::size_t>(FieldDataSize(field));
}

// The bytes of the old value that mean something: a string's characters, else the data size.
std::size_t ValueLength(const TFieldDescriptor& field, const std::uint8_t* value) {
  if (field.Type == ftString) return static_cast<std::size_t>(std::find(value, value + field.Size, 0) - value);
  return std::min<std::size_t>(static_cast<std::size_t>(FieldDataSize(field)), FieldValueBufferSize);
}

bool AnyNonZero(const std::uint8_t* from, const std::uint8_t* to) {
  return std::any_of(from, to, [](std::uint8_t b) { return b != 0; });
}

// The old bytes as far as the new field holds them; a cut is a loss unless only zeros go.
bool CopyRaw(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  const std::size_t length = ValueLength(oldField, value);
  std::size_t kept = std::min(length, Capacity(newField));
  // A string ends at its first zero byte: what follows is not kept either.
  if (newField.Type == ftString) kept = static_cast<std::size_t>(std::find(value, value + kept, 0) - value);
  const bool lost = AnyNonZero(value + kept, value + length);
  std::memset(value + kept, 0, FieldValueBufferSize - kept);
  return lost;
}

bool PutText(const std::string& text, const TFieldDescriptor& field, std::uint8_t* value) {
  const std::size_t kept = std::min(text.size(), Capacity(field));
  std::memcpy(value, text.data(), kept);
  return kept < text.size();
}

// The low bits that the type holds, as a narrowing assignment stores them; outside the type's range is
// a loss.
bool PutInteger(std::int64_t number, const TFieldDescriptor& field, std::uint8_t* value) {
  switch (field.Type) {
    case ftSmallInt:
      StoreU16(value, static_cast<std::uint16_t>(number));
      return number < std::numeric_limits<std::int16_t>::min() || number > std::numeric_limits<std::int16_t>::max();
    case ftWord:
      StoreU16(value, static_cast<std::uint16_t>(number));
      return number < 0 || number > std::numeric_limits<std::uint16_t>::max();
    default:
      StoreU32(value, static_cast<std::uint32_t>(number));
      return number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max();
  }
}

// Truncated toward zero; NaN, infinities and values beyond 64 bits have no integer.
std::int64_t TruncatedInteger(double number) {
  if (!std::isfinite(number)) throw TNoValue{};
  const double whole = std::trunc(number);
  if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) throw TNoValue{};
  return static_cast<std::int64_t>(whole);
}

void PutBCD(Currency amount, const TFieldDescriptor& field, std::uint8_t* value) {
  StoreI64(value, CurrencyToBCD(field.Decimals, amount));
}

void PutZero(const TFieldDescriptor& field, std::uint8_t* value) {
  std::memset(value, 0, FieldValueBufferSize);
  switch (field.Type) {
    case ftDate: StoreI32(value, kZeroDay); break;
    case ftTimeStamp: StoreF64(value, runtime::TimeStampToMSecs(runtime::TTimeStamp{0, kZeroDay})); break;
    case ftBCD: try { PutBCD(Currency{}, field, value);
      } catch (...) {
        std::memset(value, 0, FieldValueBufferSize);
      }
      break;
    default: break;
  }
}

runtime::TDateTime DayToDateTime(std::int32_t day) { return runtime::TimeStampToDateTime(runtime::TTimeStamp{0, day}); }

bool ConvertSameType(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  switch (newField.Type) {
    case ftString:
    case ftBytes:
    case ftVarBytes: return CopyRaw(oldField, newField, value);
    case ftBCD: {
      // The stored form carries its decimals; a field with other decimals needs the value re-encoded.
      if (oldField.Decimals == newField.Decimals) return false;
      const Currency amount = BCDToCurrency(LoadI64(value));
      std::memset(value, 0, FieldValueBufferSize);
      PutBCD(amount, newField, value);
      return false;
    }
    default: return false;
  }
}

bool FromString(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  if (newField.Type == ftBytes) return CopyRaw(oldField, newField, value);
  const std::string text(reinterpret_cast<const char*>(value), ValueLength(oldField, value));
  std::memset(value, 0, FieldValueBufferSize);
  runtime::TDateTime moment = 0;
  switch (newField.Type) {
    case ftDate:
      if (!runtime::TryStrToDate(text, moment)) throw TNoValue{};
      StoreI32(value, runtime::DateTimeToTimeStamp(moment).Date);
      return false;
    case ftTime:
      if (!runtime::TryStrToTime(text, moment)) throw TNoValue{};
      StoreI32(value, runtime::DateTimeToTimeStamp(moment).Time);
      return false;
    case ftTimeStamp:
      if (!runtime::TryStrToDateTime(text, moment)) throw TNoValue{};
      StoreF64(value, runtime::TimeStampToMSecs(runtime::DateTimeToTimeStamp(moment)));
      return false;
    case ftBoolean:
      StoreI16(value, TextToBool(text) ? 1 : 0);
      // Only the two Boolean texts say what they mean; any other text is read as False.
      return text != BoolToText(true) && text != BoolToText(false);
    case ftSmallInt:
    case ftInteger:
    case ftWord: {
      std::int32_t number = 0;
      if (!runtime::TryStrToInt(text, number)) throw TNoValue{};
      return PutInteger(number, newField, value);
    }
    case ftFloat: {
      double number = 0;
      if (!runtime::TryStrToFloat(text, number)) throw TNoValue{};
      StoreF64(value, number);
      return false;
    }
    case ftBCD: {
      Currency amount;
      if (!runtime::TryStrToCurr(text, amount)) throw TNoValue{};
      PutBCD(amount, newField, value);
      return false;
    }
    default: throw TNoValue{};
  }
}

// Smallint, integer, word and boolean.
bool FromInteger(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  if (newField.Type == ftBytes) return CopyRaw(oldField, newField, value);
  std::int64_t number = 0;
  switch (oldField.Type) {
    case ftSmallInt: number = LoadI16(value); break;
    case ftWord: number = LoadU16(value); break;
    case ftBoolean: number = LoadU16(value) != 0 ? 1 : 0; break;
    default: number = LoadI32(value); break;
  }
  std::memset(value, 0, FieldValueBufferSize);
  switch (newField.Type) {
    case ftString:
      return PutText(oldField.Type == ftBoolean ? BoolToText(number != 0) : runtime::IntToStr(number), newField, value);
    case ftSmallInt:
    case ftInteger:
    case ftWord: return PutInteger(number, newField, value);
    case ftBoolean: StoreI16(value, number != 0 ? 1 : 0); return false;
    case ftFloat: StoreF64(value, static_cast<double>(number)); return false;
    case ftBCD: PutBCD(Currency::FromInt(number), newField, value); return false;
    default: throw TNoValue{};
  }
}

bool FromFloat(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  if (newField.Type == ftBytes) return CopyRaw(oldField, newField, value);
  const double number = LoadF64(value);
  std::memset(value, 0, FieldValueBufferSize);
  switch (newField.Type) {
    case ftString: return PutText(runtime::FloatToStr(number), newField, value);
    case ftSmallInt:
    case ftInteger:
    case ftWord: return PutInteger(TruncatedInteger(number), newField, value);
    case ftBCD: PutBCD(Currency::FromDouble(number), newField, value); return false;
    default: throw TNoValue{};
  }
}

bool FromBCD(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  if (newField.Type == ftBytes) return CopyRaw(oldField, newField, value);
  const Currency amount = BCDToCurrency(LoadI64(value));
  std::memset(value, 0, FieldValueBufferSize);
  switch (newField.Type) {
    case ftString: return PutText(runtime::CurrToStr(amount), newField, value);
    case ftFloat: StoreF64(value, amount.ToDouble()); return false;
    case ftSmallInt:
    case ftInteger:
    case ftWord: return PutInteger(amount.Raw() / Currency::Scale, newField, value);
    default: throw TNoValue{};
  }
}

// Date, time and timestamp.
bool FromMoment(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  if (newField.Type == ftBytes) return CopyRaw(oldField, newField, value);
  const std::int32_t stored = LoadI32(value);
  const double milliseconds = LoadF64(value);
  std::memset(value, 0, FieldValueBufferSize);
  switch (oldField.Type) {
    case ftDate:
      if (newField.Type == ftString) return PutText(runtime::DateToStr(DayToDateTime(stored)), newField, value);
      StoreF64(value, runtime::TimeStampToMSecs(runtime::TTimeStamp{0, stored}));
      return false;
    case ftTime:
      if (newField.Type == ftString) {
        return PutText(runtime::TimeToStr(runtime::TimeStampToDateTime(runtime::TTimeStamp{stored, kZeroDay})),
                       newField, value);
      }
      StoreF64(value, runtime::TimeStampToMSecs(runtime::TTimeStamp{stored, kZeroDay}));
      return false;
    default: {
      const runtime::TTimeStamp stamp = runtime::MSecsToTimeStamp(milliseconds);
      switch (newField.Type) {
        case ftString: return PutText(runtime::DateTimeToStr(runtime::TimeStampToDateTime(stamp)), newField, value);
        case ftDate: StoreI32(value, stamp.Date); return false;
        default: StoreI32(value, stamp.Time); return false;
      }
    }
  }
}

bool ConvertDifferentTypes(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value) {
  switch (oldField.Type) {
    case ftString: return FromString(oldField, newField, value);
    case ftSmallInt:
    case ftInteger:
    case ftWord:
    case ftBoolean: return FromInteger(oldField, newField, value);
    case ftFloat: return FromFloat(oldField, newField, value);
    case ftBCD: return FromBCD(oldField, newField, value);
    case ftDate:
    case ftTime:
    case ftTimeStamp: return FromMoment(oldField, newField, value);
    default:
      // Types without a conversion of their own are carried as their stored bytes.
      return CopyRaw(oldField, newField, value);
  }
}

}  // namespace

bool ConvertFieldValue(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value,
                       bool& valueLost) {
  if (!Supported(oldField.Type, newField.Type)) {
    std::memset(value, 0, FieldValueBufferSize);
    valueLost = true;
    return false;
  }
  try {
    valueLost = oldField.Type == newField.Type ? ConvertSameType(oldField, newField, value)
                                               : ConvertDifferentTypes(oldField, newField, value);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    // A value that does not convert, or a conversion that overflows, raises in the run-time or the BCD
    // codec; whichever raised, the new field takes its type's zero value.
    PutZero(newField, value);
    valueLost = true;
  }
  return true;
}

}  // namespace kavrin::engine
