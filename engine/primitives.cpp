#include "engine/primitives.h"

#include "platform/ticks.h"
#include "runtime/code_pages.h"
#include "runtime/conversions.h"

namespace kavrin::engine {

void WaitMilliseconds(std::int32_t n) {
  if (n < 0) return;
  const std::uint32_t start = platform::GetTickCount();
  while (platform::GetTickCount() - start <= static_cast<std::uint32_t>(n)) {
    platform::ProcessMessages();
    platform::Sleep(1);
  }
}

std::string PadLeft(std::string_view s, std::size_t length, char ch) {
  if (s.size() >= length) return std::string(s);
  return std::string(length - s.size(), ch) + std::string(s);
}

std::string PadRight(std::string_view s, std::size_t length, char ch) {
  if (s.size() >= length) return std::string(s);
  return std::string(s) + std::string(length - s.size(), ch);
}

std::string LeftString(std::string_view s, std::size_t n) { return std::string(s.substr(0, n)); }

std::size_t LastPos(std::string_view sub, std::string_view s) {
  const std::size_t at = s.rfind(sub);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string TrimBlanks(std::string_view s) {
  const std::size_t first = s.find_first_not_of("\t ");
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of("\t\n\f\r ");
  if (last == std::string_view::npos || last < first) return {};
  return std::string(s.substr(first, last - first + 1));
}

std::string UpperCaseAscii(std::string_view s) {
  std::string upper(s);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string UpperDescriptorName(std::string_view s) {
  std::string upper = TrimBlanks(s);
  runtime::AnsiUpperBytes(reinterpret_cast<std::uint8_t*>(upper.data()), upper.size());
  return upper;
}

std::string StripExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::string(name);
  }
  return std::string(name.substr(0, dot));
}

std::string AddBackslash(std::string_view dir) {
  std::string result = TrimBlanks(dir);
  if (!result.empty() && result.back() != '/' && result.back() != '\\') result += '/';
  return result;
}

std::string RemoveBackslash(std::string_view dir) {
  std::string result = TrimBlanks(dir);
  if (!result.empty() && (result.back() == '/' || result.back() == '\\')) result.pop_back();
  return result;
}

std::string BoolToText(bool b) { return b ? "True" : "False"; }

bool TextToBool(std::string_view s) { return s == "True"; }

bool IsValidWordText(std::string_view text) {
  std::int64_t value;
  return runtime::TryStrToInt64(text, value) && value >= 0 && value <= 65535;
}

bool IsValidSmallIntText(std::string_view text) {
  std::int64_t value;
  return runtime::TryStrToInt64(text, value) && value >= -32768 && value <= 32767;
}

bool IsValidIntegerText(std::string_view text) {
  std::int32_t value;
  return runtime::TryStrToInt(text, value);
}

bool IsValidBooleanText(std::string_view) { return true; }

bool IsValidFloatText(std::string_view text) {
  double value;
  return runtime::TryStrToFloat(text, value);
}

bool IsValidCurrencyText(std::string_view text) {
  runtime::Currency value;
  return runtime::TryStrToCurr(text, value);
}

bool IsValidDateText(std::string_view text) {
  runtime::TDateTime value;
  return runtime::TryStrToDate(text, value);
}

bool IsValidDateTimeText(std::string_view text) {
  runtime::TDateTime value;
  return runtime::TryStrToDateTime(text, value);
}

bool IsValidTimeText(std::string_view text) {
  runtime::TDateTime value;
  return runtime::TryStrToTime(text, value);
}

}  // namespace kavrin::engine
