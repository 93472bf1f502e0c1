#include "runtime/conversions.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "runtime/format_settings.h"

namespace kavrin::runtime {

namespace {

// The class library skips spaces only; tabs and other white space are ordinary characters.
bool IsBlank(char c) { return c == ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Quoted(std::string_view text) {
  std::string result = "'";
  result += text;
  result += '\'';
  return result;
}

// ---------------------------------------------------------------------------------------------------
// Integers

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal text is range-checked as a signed value. Hexadecimal text is a bit pattern of the target width,
// as the class library reads it ("$FFFFFFFF" is -1 for 32 bits); a sign negates that pattern.
bool ParseInteger(std::string_view text, unsigned bits, std::int64_t& out) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return false;

  const std::uint64_t signBit = std::uint64_t{1} << (bits - 1);
  const std::uint64_t widthMask = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  const std::uint64_t limit = hex ? widthMask : (negative ? signBit : signBit - 1);
  const std::uint64_t base = hex ? 16 : 10;
  std::uint64_t value = 0;
  for (; i < n; ++i) {
    int digit = hex ? HexDigitValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
    if (digit < 0) return false;
    auto d = static_cast<std::uint64_t>(digit);
    if (value > (limit - d) / base) return false;
    value = value * base + d;
  }
  if (negative) value = (0 - value) & widthMask;
  // Sign-extend the pattern from the target width.
  if (bits < 64 && (value & signBit) != 0) value |= ~widthMask;
  out = static_cast<std::int64_t>(value);
  return true;
}

// ---------------------------------------------------------------------------------------------------
// Decimal text shared by floats and currency: [blanks][sign]digits[sep digits][(E|e)[sign]digits][blanks]

struct DecimalText {
  bool negative = false;
  std::string digits;         // integer and fraction digits, leading zeros removed
  std::int64_t exponent = 0;  // value = digits * 10^exponent
};

bool ScanDecimal(std::string_view text, char decimalSeparator, DecimalText& out) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    out.negative = text[i] == '-';
    ++i;
  }
  std::size_t mantissaDigits = 0;
  std::int64_t fractionDigits = 0;
  auto takeDigit = [&](char c) {
    if (!(c == '0' && out.digits.empty())) out.digits += c;
    ++mantissaDigits;
  };
  while (i < n && IsDigit(text[i])) takeDigit(text[i++]);
  if (i < n && text[i] == decimalSeparator) {
    ++i;
    while (i < n && IsDigit(text[i])) {
      takeDigit(text[i++]);
      ++fractionDigits;
    }
  }
  if (mantissaDigits == 0) return false;
  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      ++i;
    }
    if (i == n || !IsDigit(text[i])) return false;
    // Saturated: far beyond any double or currency, and never overflowing the arithmetic below.
    constexpr std::int64_t kExponentCap = 1000000000;
    while (i < n && IsDigit(text[i])) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (negativeExponent) exponent = -exponent;
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return false;
  out.exponent = exponent - fractionDigits;
  return true;
}

// ---------------------------------------------------------------------------------------------------
// Dates and times

std::int32_t CurrentYear() {
  int year = 0, month = 0, day = 0;
  DecodeDate(Now(), year, month, day);
  return year;
}

class TextScanner {
 public:
  explicit TextScanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  std::size_t Position() const { return pos_; }
  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  bool Char(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Digits; the value saturates so that an absurd number still fails the range checks.
  bool Number(int& value, int& digitCount) {
    value = 0;
    digitCount = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
      if (value < 100000) value = value * 10 + (text_[pos_] - '0');
      ++digitCount;
      ++pos_;
    }
    return digitCount > 0;
  }
  bool Number(int& value) {
    int digitCount = 0;
    return Number(value, digitCount);
  }
  // Case-insensitive in ASCII; an empty word never matches.
  std::size_t MatchLength(std::string_view word) const {
    if (word.empty() || text_.size() - pos_ < word.size()) return 0;
    for (std::size_t k = 0; k < word.size(); ++k)
      if (UpperAscii(text_[pos_ + k]) != UpperAscii(word[k])) return 0;
    return word.size();
  }
  void Advance(std::size_t count) { pos_ += count; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The order of day, month and year in ShortDateFormat, from where each letter first appears.
std::array<char, 3> DateOrder(const std::string& format) {
  std::array<char, 3> order = {'M', 'D', 'Y'};
  std::array<std::size_t, 3> position{};
  for (std::size_t k = 0; k < 3; ++k) {
    position[k] = std::string::npos;
    for (std::size_t p = 0; p < format.size(); ++p)
      if (UpperAscii(format[p]) == order[k]) {
        position[k] = p;
        break;
      }
  }
  // Stable three-element sort; letters missing from the format keep the default order at the end.
  for (std::size_t a = 1; a < 3; ++a)
    for (std::size_t b = a; b > 0 && position[b] < position[b - 1]; --b) {
      std::swap(position[b], position[b - 1]);
      std::swap(order[b], order[b - 1]);
    }
  return order;
}

bool ScanDate(TextScanner& scanner, TDateTime& out) {
  const TFormatSettings& settings = FormatSettings();
  scanner.SkipBlanks();
  int numbers[3] = {0, 0, 0};
  int digitCounts[3] = {0, 0, 0};
  if (!scanner.Number(numbers[0], digitCounts[0])) return false;
  if (!scanner.Char(settings.DateSeparator)) return false;
  if (!scanner.Number(numbers[1], digitCounts[1])) return false;
  std::array<char, 3> order = DateOrder(settings.ShortDateFormat);
  int year = 0, month = 0, day = 0;
  if (scanner.Char(settings.DateSeparator)) {
    if (!scanner.Number(numbers[2], digitCounts[2])) return false;
    int yearDigits = 0;
    for (int k = 0; k < 3; ++k) {
      if (order[k] == 'Y') {
        year = numbers[k];
        yearDigits = digitCounts[k];
      } else if (order[k] == 'M') {
        month = numbers[k];
      } else {
        day = numbers[k];
      }
    }
    if (yearDigits <= 2) {
      // The class library's century window: the year lands in the hundred years that start
      // TwoDigitYearCenturyWindow years before the current year.
      int centuryBase = CurrentYear() - settings.TwoDigitYearCenturyWindow;
      year += centuryBase / 100 * 100;
      if (settings.TwoDigitYearCenturyWindow > 0 && year < centuryBase) year += 100;
    }
  } else {
    year = CurrentYear();
    int k = 0;
    for (char part : order) {
      if (part == 'Y') continue;
      (part == 'M' ? month : day) = numbers[k++];
    }
  }
  return TryEncodeDate(year, month, day, out);
}

bool ScanTime(TextScanner& scanner, TDateTime& out) {
  const TFormatSettings& settings = FormatSettings();
  scanner.SkipBlanks();
  int hour = 0, minute = 0, second = 0, msec = 0;
  if (!scanner.Number(hour)) return false;
  bool separated = false;
  if (scanner.Char(settings.TimeSeparator)) {
    separated = true;
    if (!scanner.Number(minute)) return false;
    if (scanner.Char(settings.TimeSeparator)) {
      if (!scanner.Number(second)) return false;
      if (scanner.Char(settings.DecimalSeparator)) {
        // A fraction of a second, so ".5" is 500 ms; finer than milliseconds is not a time we keep.
        int fraction = 0, digitCount = 0;
        if (!scanner.Number(fraction, digitCount) || digitCount > 3) return false;
        msec = fraction * (digitCount == 1 ? 100 : digitCount == 2 ? 10 : 1);
      }
    }
  }
  scanner.SkipBlanks();
  std::size_t am = scanner.MatchLength(settings.TimeAMString);
  std::size_t pm = scanner.MatchLength(settings.TimePMString);
  bool hasMarker = am > 0 || pm > 0;
  if (hasMarker) {
    bool isPm = pm > am;
    scanner.Advance(isPm ? pm : am);
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (isPm ? 12 : 0);
  }
  // A bare number is a count, not a time of day.
  if (!separated && !hasMarker) return false;
  return TryEncodeTime(hour, minute, second, msec, out);
}

TDateTime CombineDateAndTime(TDateTime date, TDateTime time) {
  // Before 30 December 1899 the time still counts forward from midnight.
  return date < 0 ? date - time : date + time;
}

// ---------------------------------------------------------------------------------------------------
// FormatDateTime

constexpr std::array<std::string_view, 12> kShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 12> kLongMonthNames = {"January",   "February", "March",    "April",
                                                              "May",       "June",     "July",     "August",
                                                              "September", "October",  "November", "December"};
constexpr std::array<std::string_view, 7> kShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                           "Thursday", "Friday", "Saturday"};

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (UpperAscii(text[at + k]) != UpperAscii(word[k])) return false;
  return true;
}

// Any AM/PM, A/P or AMPM outside quotes turns every hour in the format into a 12-hour clock.
bool UsesTwelveHourClock(std::string_view format) {
  char quote = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if ((c == 'a' || c == 'A') && (StartsWithNoCase(format, i, "AM/PM") || StartsWithNoCase(format, i, "A/P") ||
                                          StartsWithNoCase(format, i, "AMPM"))) {
      return true;
    }
  }
  return false;
}

class DateTimeFormatter {
 public:
  explicit DateTimeFormatter(TDateTime value) : settings_(FormatSettings()) {
    TTimeStamp stamp = DateTimeToTimeStamp(value);
    int year = 0, month = 0, day = 0;
    DecodeDate(value, year, month, day);
    year_ = year;
    month_ = month;
    day_ = day;
    dayOfWeek_ = ((stamp.Date % 7) + 7) % 7;  // day 1 (1 January 0001) was a Monday
    time_ = stamp.Time;
  }

  std::string Format(std::string_view format) {
    // An empty format is "c", as the class library has it.
    Append(format.empty() ? std::string_view("c") : format, 0);
    return out_;
  }

 private:
  // Formats may name other formats ("c", "t", "ddddd"); two levels are enough for every real one and
  // stop a format that names itself.
  static constexpr int kMaxNesting = 2;

  void AppendNumber(int value, int minDigits) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < minDigits) out_.append(minDigits - digits.size(), '0');
    out_ += digits;
  }

  void AppendNested(std::string_view format, int level) {
    if (level < kMaxNesting) Append(format.empty() ? std::string_view("c") : format, level + 1);
  }

  int Hour() const { return time_ / 3600000; }

  void Append(std::string_view format, int level) {
    const bool twelveHour = UsesTwelveHourClock(format);
    char lastToken = 0;
    std::size_t i = 0;
    while (i < format.size()) {
      const char starter = format[i];
      char token = UpperAscii(starter);
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && lastToken == 'H') token = 'N';  // "h:mm" means minutes
        lastToken = token;
      }
      std::size_t count = 1;
      auto takeRun = [&] {
        while (i + count < format.size() && UpperAscii(format[i + count]) == UpperAscii(starter)) ++count;
        i += count;
      };
      switch (token) {
        case 'Y':
          takeRun();
          if (count <= 2)
            AppendNumber(year_ % 100, 2);
          else
            AppendNumber(year_, 4);
          break;
        case 'M':
          takeRun();
          if (count <= 2)
            AppendNumber(month_, static_cast<int>(count));
          else if (month_ >= 1 && month_ <= 12)
            out_ += (count == 3 ? kShortMonthNames : kLongMonthNames)[month_ - 1];
          break;
        case 'D':
          takeRun();
          if (count <= 2)
            AppendNumber(day_, static_cast<int>(count));
          else if (count == 3)
            out_ += kShortDayNames[dayOfWeek_];
          else if (count == 4)
            out_ += kLongDayNames[dayOfWeek_];
          else if (count == 5)
            AppendNested(settings_.ShortDateFormat, level);
          else
            AppendNested(settings_.LongDateFormat, level);
          break;
        case 'H': {
          takeRun();
          int hour = Hour();
          if (twelveHour) hour = hour == 0 ? 12 : (hour > 12 ? hour - 12 : hour);
          AppendNumber(hour, count >= 2 ? 2 : 1);
          break;
        }
        case 'N':
          takeRun();
          AppendNumber(time_ / 60000 % 60, count >= 2 ? 2 : 1);
          break;
        case 'S':
          takeRun();
          AppendNumber(time_ / 1000 % 60, count >= 2 ? 2 : 1);
          break;
        case 'Z':
          takeRun();
          AppendNumber(time_ % 1000, count >= 3 ? 3 : 1);
          break;
        case 'T':
          takeRun();
          AppendNested(count == 1 ? settings_.ShortTimeFormat : settings_.LongTimeFormat, level);
          break;
        case 'C':
          takeRun();
          AppendNested(settings_.ShortDateFormat, level);
          if (time_ != 0 && level < kMaxNesting) {
            out_ += ' ';
            AppendNested(settings_.LongTimeFormat, level);
          }
          break;
        case 'A': AppendMarker(format, i); break;
        case '/':
          out_ += settings_.DateSeparator;
          ++i;
          break;
        case ':':
          out_ += settings_.TimeSeparator;
          ++i;
          break;
        case '\'':
        case '"': {
          std::size_t close = format.find(starter, i + 1);
          if (close == std::string_view::npos) close = format.size();
          out_.append(format.substr(i + 1, close - i - 1));
          i = close == format.size() ? close : close + 1;
          break;
        }
        default:
          out_ += starter;
          ++i;
          break;
      }
    }
  }

  // "am/pm" and "a/p" keep the letters' case from the format; "ampm" uses the settings' strings.
  void AppendMarker(std::string_view format, std::size_t& i) {
    const bool pm = Hour() >= 12;
    if (StartsWithNoCase(format, i, "AM/PM")) {
      out_.append(format.substr(pm ? i + 3 : i, 2));
      i += 5;
    } else if (StartsWithNoCase(format, i, "A/P")) {
      out_ += format[pm ? i + 2 : i];
      i += 3;
    } else if (StartsWithNoCase(format, i, "AMPM")) {
      out_ += pm ? settings_.TimePMString : settings_.TimeAMString;
      i += 4;
    } else {
      out_ += format[i];
      ++i;
    }
  }

  const TFormatSettings& settings_;
  std::string out_;
  int year_ = 0;
  int month_ = 0;
  int day_ = 0;
  int dayOfWeek_ = 0;
  std::int32_t time_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------------

bool TryStrToInt(std::string_view text, std::int32_t& out) {
  std::int64_t value = 0;
  if (!ParseInteger(text, 32, value)) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

bool TryStrToInt64(std::string_view text, std::int64_t& out) { return ParseInteger(text, 64, out); }

std::int32_t StrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value)) throw EConvertError(Quoted(text) + " is not a valid integer value");
  return value;
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value)) throw EConvertError(Quoted(text) + " is not a valid integer value");
  return value;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  std::int32_t value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

bool TryStrToFloat(std::string_view text, double& out) {
  DecimalText decimal;
  if (!ScanDecimal(text, FormatSettings().DecimalSeparator, decimal)) return false;
  double value = 0.0;
  if (!decimal.digits.empty()) {
    // The decimal exponent of the leading digit settles overflow and underflow before from_chars sees
    // an exponent it would have to saturate.
    std::int64_t leading = decimal.exponent + static_cast<std::int64_t>(decimal.digits.size()) - 1;
    if (leading > 400) return false;
    if (leading >= -400) {
      std::string normal = decimal.digits + "e" + std::to_string(decimal.exponent);
      auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
      if (ec == std::errc::result_out_of_range) {
        if (leading > 0) return false;
        value = 0.0;  // below the smallest subnormal
      } else if (ec != std::errc() || end != normal.data() + normal.size() || std::isinf(value)) {
        return false;
      }
    }
  }
  out = decimal.negative ? -value : value;
  return true;
}

double StrToFloat(std::string_view text) {
  double value = 0.0;
  if (!TryStrToFloat(text, value)) throw EConvertError(Quoted(text) + " is not a valid floating point value");
  return value;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0.0) return "0";

  // Fifteen significant digits, correctly rounded, then laid out as the class library's general format.
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 14);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  std::size_t e = text.find('e');
  std::string digits;
  digits += text[0];
  digits.append(text.substr(2, e - 2));
  std::string_view exponentText = text.substr(e + 1);
  if (!exponentText.empty() && exponentText[0] == '+') exponentText.remove_prefix(1);
  int exponent = 0;
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  const char separator = FormatSettings().DecimalSeparator;
  std::string out = value < 0 ? "-" : "";
  const int position = exponent + 1;  // digits before the decimal point
  if (position > 15 || position < -3) {
    out += digits[0];
    if (digits.size() > 1) {
      out += separator;
      out.append(digits, 1);
    }
    out += 'E';
    out += std::to_string(exponent);
  } else if (position <= 0) {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-position), '0');
    out += digits;
  } else {
    auto whole = static_cast<std::size_t>(position);
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
    } else {
      out.append(digits, 0, whole);
      out += separator;
      out.append(digits, whole);
    }
  }
  return out;
}

bool TryStrToCurr(std::string_view text, Currency& out) {
  DecimalText decimal;
  if (!ScanDecimal(text, FormatSettings().DecimalSeparator, decimal)) return false;
  const std::string& digits = decimal.digits;
  const auto length = static_cast<std::int64_t>(digits.size());
  // raw = digits * 10^shift, rounded to a whole number of ten-thousandths.
  const std::int64_t shift = decimal.exponent + 4;
  const std::int64_t kept = length + shift;  // digits of the raw value before rounding
  constexpr std::int64_t kMaxRawDigits = 19;
  if (length > 0 && kept > kMaxRawDigits) return false;

  std::uint64_t raw = 0;
  if (length > 0 && kept > 0) {
    for (std::int64_t k = 0; k < kept; ++k)
      raw = raw * 10 + static_cast<std::uint64_t>(k < length ? digits[static_cast<std::size_t>(k)] - '0' : 0);
  }
  if (shift < 0 && kept >= 0) {
    // Halves go to even: the first dropped digit decides, the rest only break a tie.
    char first = digits[static_cast<std::size_t>(kept)];
    bool restNonZero = digits.find_first_not_of('0', static_cast<std::size_t>(kept) + 1) != std::string::npos;
    if (first > '5' || (first == '5' && (restNonZero || (raw & 1) != 0))) ++raw;
  }
  const std::uint64_t limit = decimal.negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  if (raw > limit) return false;
  out = Currency::FromRaw(decimal.negative ? static_cast<std::int64_t>(0 - raw) : static_cast<std::int64_t>(raw));
  return true;
}

Currency StrToCurr(std::string_view text) {
  Currency value;
  if (!TryStrToCurr(text, value)) throw EConvertError(Quoted(text) + " is not a valid floating point value");
  return value;
}

std::string CurrToStr(Currency value) {
  const std::int64_t raw = value.Raw();
  const std::uint64_t magnitude = raw < 0 ? 0 - static_cast<std::uint64_t>(raw) : static_cast<std::uint64_t>(raw);
  const auto scale = static_cast<std::uint64_t>(Currency::Scale);
  std::string out = raw < 0 ? "-" : "";
  out += std::to_string(magnitude / scale);
  std::uint64_t fraction = magnitude % scale;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction + scale).substr(1);  // four digits with leading zeros
    while (digits.back() == '0') digits.pop_back();
    out += FormatSettings().DecimalSeparator;
    out += digits;
  }
  return out;
}

bool TryStrToDate(std::string_view text, TDateTime& out) {
  TextScanner scanner(text);
  TDateTime date = 0.0;
  if (!ScanDate(scanner, date)) return false;
  scanner.SkipBlanks();
  if (!scanner.AtEnd()) return false;
  out = date;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& out) {
  TextScanner scanner(text);
  TDateTime time = 0.0;
  if (!ScanTime(scanner, time)) return false;
  scanner.SkipBlanks();
  if (!scanner.AtEnd()) return false;
  out = time;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& out) {
  TextScanner dateScanner(text);
  TDateTime date = 0.0;
  if (ScanDate(dateScanner, date)) {
    std::size_t afterDate = dateScanner.Position();
    dateScanner.SkipBlanks();
    if (dateScanner.AtEnd()) {
      out = date;
      return true;
    }
    TDateTime time = 0.0;
    if (dateScanner.Position() > afterDate && ScanTime(dateScanner, time)) {
      dateScanner.SkipBlanks();
      if (dateScanner.AtEnd()) {
        out = CombineDateAndTime(date, time);
        return true;
      }
    }
  }
  return TryStrToTime(text, out);
}

TDateTime StrToDate(std::string_view text) {
  TDateTime value = 0.0;
  if (!TryStrToDate(text, value)) throw EConvertError(Quoted(text) + " is not a valid date");
  return value;
}

TDateTime StrToTime(std::string_view text) {
  TDateTime value = 0.0;
  if (!TryStrToTime(text, value)) throw EConvertError(Quoted(text) + " is not a valid time");
  return value;
}

TDateTime StrToDateTime(std::string_view text) {
  TDateTime value = 0.0;
  if (!TryStrToDateTime(text, value)) throw EConvertError(Quoted(text) + " is not a valid date and time");
  return value;
}

std::string DateToStr(TDateTime value) { return FormatDateTime(FormatSettings().ShortDateFormat, value); }

std::string TimeToStr(TDateTime value) { return FormatDateTime(FormatSettings().LongTimeFormat, value); }

std::string DateTimeToStr(TDateTime value) { return FormatDateTime("c", value); }

std::string FormatDateTime(std::string_view format, TDateTime value) { return DateTimeFormatter(value).Format(format); }

}  // namespace kavrin::runtime
