#include "classlib/data/format_float.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "runtime/conversions.h"
#include "runtime/format_settings.h"

namespace kavrin::classlib {
namespace {

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
      if (c == quote) quote = 0; else literal += c;
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
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.*f", maxDec, magnitude);
  std::string number = digits;
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
