#include "runtime/code_pages.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/conversions.h"

namespace kavrin::runtime {

namespace {

constexpr char kReplacement = '?';

// One well-formed UTF-8 sequence at text[pos] (no overlong forms, no surrogates, nothing past U+10FFFF):
// its code point and length, or length 0 when the byte at pos starts no such sequence.
std::pair<char32_t, std::size_t> NextCodePoint(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[pos + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    return {0, 0};
  }
  if (text.size() - pos < length) return {0, 0};
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return {0, 0};
    cp = cp << 6 | (byte(k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
  return {cp, length};
}

// A single-byte code page as two tables built once from iconv: byte -> UTF-8 text, and a sorted
// code point -> byte map for the way back.
class SingleBytePage {
 public:
  explicit SingleBytePage(const char* name) {
    const std::optional<std::array<long, 256>> points = SingleByteCodePoints(name);
    if (!points) throw std::runtime_error(std::string("iconv cannot convert ") + name + " to UTF-32BE");
    for (int b = 0; b < 256; ++b) {
      long cp = (*points)[static_cast<std::size_t>(b)];
      // Bytes the page leaves undefined (five in Windows-1252) stand for the C1 control of the same
      // value, as Windows has it, so that every byte of a table survives a round trip.
      char32_t codePoint = cp < 0 ? static_cast<char32_t>(b) : static_cast<char32_t>(cp);
      AppendUtf8(utf8_[static_cast<std::size_t>(b)], codePoint);
      reverse_.emplace_back(codePoint, static_cast<std::uint8_t>(b));
    }
    // Stable, so that should two bytes share a character the lower one is the one written back.
    std::stable_sort(reverse_.begin(), reverse_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }

  std::string Decode(std::string_view bytes) const {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) out += utf8_[static_cast<unsigned char>(c)];
    return out;
  }

  // The bytes of utf8, or nothing when a character has no byte in the page; bad is then the
  // offending character (or the first byte that starts no UTF-8 sequence).
  std::optional<std::string> EncodeExactly(std::string_view utf8, std::string& bad) const {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
      auto [cp, length] = NextCodePoint(utf8, pos);
      if (length == 0) {
        bad = utf8.substr(pos, 1);
        return std::nullopt;
      }
      const std::optional<char> byte = FindByte(cp);
      if (!byte) {
        bad = utf8.substr(pos, length);
        return std::nullopt;
      }
      out += *byte;
      pos += length;
    }
    return out;
  }

  std::string Encode(std::string_view utf8) const {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
      auto [cp, length] = NextCodePoint(utf8, pos);
      if (length == 0) {
        out += kReplacement;
        ++pos;
        continue;
      }
      out += ByteOf(cp);
      pos += length;
    }
    return out;
  }

 private:
  std::optional<char> FindByte(char32_t cp) const {
    auto it = std::lower_bound(reverse_.begin(), reverse_.end(), cp,
                               [](const auto& entry, char32_t value) { return entry.first < value; });
    if (it == reverse_.end() || it->first != cp) return std::nullopt;
    return static_cast<char>(it->second);
  }

  char ByteOf(char32_t cp) const { return FindByte(cp).value_or(kReplacement); }

  std::array<std::string, 256> utf8_;
  std::vector<std::pair<char32_t, std::uint8_t>> reverse_;
};

const SingleBytePage& OemPage() {
  static const SingleBytePage page("CP437");
  return page;
}

const SingleBytePage& AnsiPage() {
  static const SingleBytePage page("CP1252");
  return page;
}

constexpr std::array<std::uint8_t, 256> MakeAnsiUpperTable() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
  for (int b = 'a'; b <= 'z'; ++b) table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b - 0x20);
  for (int b = 0xE0; b <= 0xFE; ++b)
    if (b != 0xF7) table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b - 0x20);  // not the division sign
  table[0x9A] = 0x8A;                                                                         // s caron
  table[0x9C] = 0x8C;                                                                         // oe
  table[0x9E] = 0x8E;                                                                         // z caron
  table[0xFF] = 0x9F;                                                                         // y diaeresis
  // 0xB5 (micro) and 0xDF (sharp s) have no upper case in the page and stay as they are.
  return table;
}

constexpr std::array<std::uint8_t, 256> kAnsiUpper = MakeAnsiUpperTable();

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<std::array<long, 256>> SingleByteCodePoints(const char* name) {
  iconv_t handle = iconv_open("UTF-32BE", name);
  if (handle == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::array<long, 256> points{};
  for (int b = 0; b < 256; ++b) {
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
    char in[1] = {static_cast<char>(b)};
    unsigned char out[8] = {};
    char* inPtr = in;
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const bool decoded = iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
                         inLeft == 0 && sizeof out - outLeft == 4;
    points[static_cast<std::size_t>(b)] = decoded ? static_cast<long>(out[0]) << 24 | static_cast<long>(out[1]) << 16 |
                                                        static_cast<long>(out[2]) << 8 | static_cast<long>(out[3])
                                                  : -1;
  }
  iconv_close(handle);
  return points;
}

std::string Utf8ToOem(std::string_view utf8) { return OemPage().Encode(utf8); }
std::string OemToUtf8(std::string_view oem) { return OemPage().Decode(oem); }
std::string Utf8ToAnsi(std::string_view utf8) { return AnsiPage().Encode(utf8); }
std::string AnsiToUtf8(std::string_view ansi) { return AnsiPage().Decode(ansi); }

std::string DescriptorTextToUtf8(std::string_view stored) { return AnsiPage().Decode(stored); }

std::string Utf8ToDescriptorText(std::string_view utf8, std::string_view what, bool quoteText) {
  std::string bad;
  std::optional<std::string> stored = AnsiPage().EncodeExactly(utf8, bad);
  if (stored) return std::move(*stored);
  std::string message(what);
  if (quoteText) message += " '" + std::string(utf8) + "'";
  if (NextCodePoint(bad, 0).second == 0) {
    message += " is not UTF-8 text";
  } else {
    message += " has a character that the ANSI code page (Windows-1252) of table definitions lacks";
    if (quoteText) message += ": '" + bad + "'";
  }
  throw EConvertError(message);
}

bool SameDescriptorName(std::string_view a, std::string_view b) {
  const auto ascii = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  };
  // ASCII names, by far the most, are their own stored bytes.
  const bool plain = ascii(a) && ascii(b);
  std::string bad;
  const std::optional<std::string> storedA = plain ? std::nullopt : AnsiPage().EncodeExactly(a, bad);
  const std::optional<std::string> storedB = plain ? std::nullopt : AnsiPage().EncodeExactly(b, bad);
  if (storedA.has_value() != storedB.has_value()) return false;
  const bool stored = storedA.has_value();
  const std::string_view x = stored ? std::string_view(*storedA) : a;
  const std::string_view y = stored ? std::string_view(*storedB) : b;
  if (x.size() != y.size()) return false;
  const auto upper = [stored](char c) {
    const auto byte = static_cast<std::uint8_t>(c);
    return stored || byte < 0x80 ? kAnsiUpper[byte] : byte;
  };
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (upper(x[k]) != upper(y[k])) return false;
  }
  return true;
}

std::uint8_t AnsiUpperByte(std::uint8_t byte) { return kAnsiUpper[byte]; }

void AnsiUpperBytes(std::uint8_t* bytes, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) bytes[k] = kAnsiUpper[bytes[k]];
}

}  // namespace kavrin::runtime
