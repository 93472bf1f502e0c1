#include "classlib/data/format_float.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/conversions.h"
#include "runtime/format_settings.h"

namespace kavrin::classlib {
namespace {

// The magnitude with exactly decimals places, from its 15 significant digits, halves rounded away from
// zero as the class library does ("%f" would round 2.25 to 2.2).
std::string FixedDigits(double magnitude, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.14e", magnitude);
  std::string digits;
  for (const char* p = text; *p && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') digits += *p;
  }
  const int exponent = std::atoi(std::strchr(text, 'e') + 1);
  // digits[0] stands for 10^exponent; keep the ones down to 10^-decimals.
  int keep = exponent + 1 + decimals;
  if (keep < 0) return decimals > 0 ? "0." + std::string(static_cast<std::size_t>(decimals), '0') : "0";
  bool carry = keep < static_cast<int>(digits.size()) && digits[static_cast<std::size_t>(keep)] >= '5';
  if (keep < static_cast<int>(digits.size())) digits.resize(static_cast<std::size_t>(keep));
  while (static_cast<int>(digits.size()) < keep) digits += '0';
  for (int i = keep - 1; carry && i >= 0; --i) {
    char& d = digits[static_cast<std::size_t>(i)];
    if (d == '9') {
      d = '0';
    } else {
      ++d;
      carry = false;
    }
  }
  if (carry) {
    digits.insert(digits.begin(), '1');
    ++keep;
  }
  // Leading zeros for values below one.
  while (static_cast<int>(digits.size()) <= decimals) digits.insert(digits.begin(), '0');
  std::string integer = digits.substr(0, digits.size() - static_cast<std::size_t>(decimals));
  const std::size_t first = integer.find_first_not_of('0');
  integer = first == std::string::npos ? "0" : integer.substr(first);
  if (decimals == 0) return integer;
  return integer + "." + digits.substr(digits.size() - static_cast<std::size_t>(decimals));
}

std::vector<std::string> Sections(std::string_view format) {
  std::vector<std::string> sections(1);
  char quote = 0;
  for (char c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

std::string FormatSection(const std::string& section, double magnitude) {
  // Split into the literal prefix, the number pattern and the literal suffix.
  std::string prefix, suffix;
  int minInt = 0, minDec = 0, maxDec = 0;
  bool grouping = false, seenPoint = false, seenDigit = false;
  char quote = 0;
  for (char c : section) {
    std::string& literal = seenDigit ? suffix : prefix;
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        literal += c;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '0' || c == '#') {
      if (seenDigit && !suffix.empty()) {
        suffix += c;
        continue;
      }
      seenDigit = true;
      if (seenPoint) {
        ++maxDec;
        if (c == '0') minDec = maxDec;
      } else if (c == '0') {
        ++minInt;
      }
    } else if (c == '.' && suffix.empty()) {
      seenPoint = true;
      seenDigit = true;
    } else if (c == ',' && seenDigit && !seenPoint && suffix.empty()) {
      grouping = true;
    } else {
      literal += c;
    }
  }
  if (!seenDigit) return prefix;
  std::string number = FixedDigits(magnitude, maxDec);
  std::string integer = number.substr(0, number.find('.'));
  std::string fraction = number.find('.') == std::string::npos ? "" : number.substr(number.find('.') + 1);
  while (static_cast<int>(fraction.size()) > minDec && !fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (integer == "0" && minInt == 0) integer.clear();
  while (static_cast<int>(integer.size()) < minInt) integer.insert(integer.begin(), '0');
  const runtime::TFormatSettings& settings = runtime::FormatSettings();
  if (grouping) {
    for (int at = static_cast<int>(integer.size()) - 3; at > 0; at -= 3) {
      integer.insert(integer.begin() + at, settings.ThousandSeparator);
    }
  }
  std::string text = prefix + integer;
  if (!fraction.empty()) text += settings.DecimalSeparator + fraction;
  return text + suffix;
}

}  // namespace

std::string FormatFloat(std::string_view format, double value) {
  if (format.empty() || !std::isfinite(value)) return runtime::FloatToStr(value);
  const std::vector<std::string> sections = Sections(format);
  if (value == 0 && sections.size() >= 3 && !sections[2].empty()) return FormatSection(sections[2], 0);
  if (value < 0 && sections.size() >= 2 && !sections[1].empty()) return FormatSection(sections[1], -value);
  std::string text = FormatSection(sections[0], std::fabs(value));
  if (value < 0) {
    // A value that rounds to zero shows no sign.
    bool nonZero = false;
    for (char c : text) nonZero = nonZero || (c >= '1' && c <= '9');
    if (nonZero) text.insert(text.begin(), '-');
  }
  return text;
}

}  // namespace kavrin::classlib
