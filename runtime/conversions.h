// Text <-> number, currency, date and time conversions of the class library's run-time, under the
// process-wide format settings.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "runtime/currency.h"
#include "runtime/date_time.h"

namespace kavrin::runtime {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Integers: optional blanks before, an optional sign, decimal digits or "$"/"0x" hexadecimal; nothing
// after. The Try forms never raise; the others raise EConvertError with the class library's message.
bool TryStrToInt(std::string_view text, std::int32_t& out);
bool TryStrToInt64(std::string_view text, std::int64_t& out);
std::int32_t StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);
std::string IntToStr(std::int64_t value);

// Floating point: blanks around, sign, digits with the decimal separator, an optional exponent.
bool TryStrToFloat(std::string_view text, double& out);
double StrToFloat(std::string_view text);
// General format with 15 significant digits, as the class library's FloatToStr.
std::string FloatToStr(double value);

bool TryStrToCurr(std::string_view text, Currency& out);
Currency StrToCurr(std::string_view text);
// No thousands separators, the decimal separator, no trailing zeros ("12.5", "7", "-0.0001").
std::string CurrToStr(Currency value);

// Dates in the order of ShortDateFormat with DateSeparator; times "h:nn[:ss[.zzz]]" with an optional
// AM/PM; date and time together as the date, a blank and the time.
bool TryStrToDate(std::string_view text, TDateTime& out);
bool TryStrToTime(std::string_view text, TDateTime& out);
bool TryStrToDateTime(std::string_view text, TDateTime& out);
TDateTime StrToDate(std::string_view text);
TDateTime StrToTime(std::string_view text);
TDateTime StrToDateTime(std::string_view text);
std::string DateToStr(TDateTime value);      // ShortDateFormat
std::string TimeToStr(TDateTime value);      // LongTimeFormat
std::string DateTimeToStr(TDateTime value);  // date, and the time when it is not midnight
std::string FormatDateTime(std::string_view format, TDateTime value);

}  // namespace kavrin::runtime
