#include "apps/transfer/readers/code_page.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/code_pages.h"

namespace kavrin::transfer {
namespace {

// The recoding table of a code page, or nothing when iconv does not know the page.
std::optional<std::array<char, 256>> BuildTable(int codePage) {
  const std::optional<std::array<long, 256>> source =
      runtime::SingleByteCodePoints(("CP" + std::to_string(codePage)).c_str());
  if (!source) return std::nullopt;
  const std::optional<std::array<long, 256>> fromOem = runtime::SingleByteCodePoints("CP437");
  std::map<long, char> oem;
  for (int b = 255; b >= 0; --b) oem[fromOem ? (*fromOem)[b] : b] = static_cast<char>(b);
  std::array<char, 256> table{};
  for (int b = 0; b < 256; ++b) {
    table[b] = static_cast<char>(b);
    if (b < 0x80) continue;  // ASCII is the same in every page these tables use
    const long cp = (*source)[b];
    const auto found = cp < 0 ? oem.end() : oem.find(cp);
    table[b] = found == oem.end() ? '?' : found->second;
  }
  return table;
}

// The UTF-8 of every byte of a page iconv knows, CP437's for one it does not.
const std::array<std::string, 256>& Utf8Table(int codePage) {
  static std::mutex mutex;
  static std::map<int, std::array<std::string, 256>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = tables.find(codePage);
  if (found != tables.end()) return found->second;
  const std::string page = "CP" + std::to_string(codePage);
  std::optional<std::array<long, 256>> points = runtime::SingleByteCodePoints(page.c_str());
  if (!points) points = runtime::SingleByteCodePoints("CP437");
  std::array<std::string, 256> table;
  for (int b = 0; b < 256; ++b) {
    const long cp = points ? (*points)[b] : b;
    runtime::AppendUtf8(table[b], static_cast<char32_t>(cp < 0 ? b : cp));
  }
  return tables.emplace(codePage, std::move(table)).first->second;
}

}  // namespace

TOemRecoder::TOemRecoder(int codePage) : codePage_(codePage), utf8_(&Utf8Table(codePage)) {
  for (int b = 0; b < 256; ++b) table_[b] = static_cast<char>(b);
  if (codePage == 437) return;
  // The tables are fixed data, made once per page: iconv is slow to open.
  static std::mutex mutex;
  static std::map<int, std::optional<std::array<char, 256>>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = tables.find(codePage);
  if (found == tables.end()) found = tables.emplace(codePage, BuildTable(codePage)).first;
  if (found->second) {
    table_ = *found->second;
  } else {
    codePage_ = 437;
  }
}

std::string TOemRecoder::ToUtf8(std::string_view text) const {
  const std::array<std::string, 256>& table = utf8_ ? *utf8_ : Utf8Table(437);
  std::string out;
  for (char c : text) out += table[static_cast<unsigned char>(c)];
  return out;
}

std::string TOemRecoder::Recode(std::string_view text) const {
  std::string out(text);
  if (codePage_ == 437) return out;
  for (char& c : out) c = table_[static_cast<unsigned char>(c)];
  return out;
}

int CodePageOfLanguageDriver(std::uint8_t driver) {
  switch (driver) {
    case 0x01: return 437;
    case 0x02: return 850;
    case 0x03: return 1252;
    case 0x57: return 1252;
    case 0x59: return 1252;
    case 0x64: return 852;
    case 0x65: return 866;
    case 0x66: return 865;
    case 0x67: return 861;
    case 0x6A: return 737;
    case 0x6B: return 857;
    case 0x7D: return 1255;
    case 0x7E: return 1256;
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    case 0xCA: return 1254;
    case 0xCB: return 1253;
    default: return 437;
  }
}

}  // namespace kavrin::transfer
