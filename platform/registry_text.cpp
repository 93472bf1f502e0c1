#include "platform/registry_text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace kavrin::platform::detail {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kLineWidth = 80;

// Bytes that are not valid UTF-8 stand for themselves, outside the code point range, so that two names
// holding them compare equal only byte for byte.
constexpr char32_t kRawByte = 0x110000;

// Decodes one character at text[*pos] and moves past it.
char32_t NextCharacter(std::string_view text, std::size_t* pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(*pos);
  std::size_t length = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    ++*pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    c = lead & 0x07;
  }
  if (length == 0 || *pos + length > text.size()) {
    ++*pos;
    return kRawByte + lead;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(*pos + i) & 0xC0) != 0x80) {
      ++*pos;
      return kRawByte + lead;
    }
    c = (c << 6) | (byte(*pos + i) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*pos;
    return kRawByte + lead;
  }
  *pos += length;
  return c;
}

char32_t UpperCase(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c < 0xB5) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return c & ~char32_t{1};
  if (c >= 0x139 && c <= 0x148) return (c % 2 == 0) ? c - 1 : c;
  if (c >= 0x14A && c <= 0x177) return c & ~char32_t{1};
  if (c >= 0x179 && c <= 0x17E) return (c % 2 == 0) ? c - 1 : c;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

// A key under which names that are the same up to case are equal, for sets of names.
std::string FoldedName(std::string_view name) {
  std::string folded;
  bool ascii = true;
  for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    folded.reserve(name.size() + 1);
    folded += 'a';
    for (char c : name) folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
    return folded;
  }
  folded += 'u';
  for (std::size_t pos = 0; pos < name.size();) {
    const char32_t c = UpperCase(NextCharacter(name, &pos));
    const char unit[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                          static_cast<char>((c >> 16) & 0xFF), static_cast<char>(c >> 24)};
    folded.append(unit, 4);
  }
  return folded;
}

bool ValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (NextCharacter(text, &pos) >= kRawByte) return false;
  }
  return true;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to max_digits hex digits, the whole of s.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s, std::size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// A quoted text at the start of s, with \\ and \" unescaped; *rest gets what follows the closing quote.
std::optional<std::string> ParseQuoted(std::string_view s, std::string_view* rest) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      *rest = s.substr(i + 1);
      return out;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::nullopt;
      out += s[++i];
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ParseHexList(std::string_view s) {
  std::vector<std::uint8_t> bytes;
  s = TrimRight(TrimLeft(s));
  if (s.empty()) return bytes;
  while (true) {
    const std::size_t comma = s.find(',');
    const std::string_view token = TrimRight(TrimLeft(s.substr(0, comma)));
    const auto value = ParseHexNumber(token, 2);
    if (!value) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*value));
    if (comma == std::string_view::npos) return bytes;
    s = s.substr(comma + 1);
  }
}

class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool Next(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    pos_ = end + 1;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The data after '=' of a value line; continuation lines of a hex list are taken from lines.
std::optional<RegistryValue> ParseValueData(std::string_view data, Lines& lines) {
  RegistryValue value;
  data = TrimLeft(data);
  std::string_view rest;
  if (data.starts_with('"')) {
    auto text = ParseQuoted(data, &rest);
    if (!text || !TrimRight(rest).empty()) return std::nullopt;
    value.type = kRegSz;
    value.data.assign(text->begin(), text->end());
    value.data.push_back(0);
    return value;
  }
  if (data.starts_with("dword:")) {
    const auto number = ParseHexNumber(TrimRight(data.substr(6)), 8);
    if (!number) return std::nullopt;
    value.type = kRegDword;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<std::uint8_t>(*number >> (8 * i)));
    return value;
  }
  std::string_view list;
  if (data.starts_with("hex:")) {
    value.type = kRegBinary;
    list = data.substr(4);
  } else if (data.starts_with("hex(")) {
    const std::size_t close = data.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    const auto type = ParseHexNumber(data.substr(4, close - 4), 8);
    if (!type) return std::nullopt;
    value.type = *type;
    list = data.substr(close + 2);
  } else {
    return std::nullopt;
  }
  std::string joined;
  std::string_view line = TrimRight(list);
  while (line.ends_with('\\')) {
    joined += line.substr(0, line.size() - 1);
    if (!lines.Next(&line)) return std::nullopt;
    line = TrimRight(TrimLeft(line));
  }
  joined += line;
  auto bytes = ParseHexList(joined);
  if (!bytes) return std::nullopt;
  value.data = std::move(*bytes);
  return value;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool WritableAsText(const RegistryValue& value) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  const std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos && ValidUtf8(text);
}

void WriteValue(const RegistryValue& value, std::string* out) {
  std::string line = value.name.empty() ? "@" : Quote(value.name);
  line += '=';
  char buffer[16];
  if (WritableAsText(value)) {
    line += Quote(std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
    *out += line + "\n";
    return;
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | value.data[i];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    *out += line + buffer + "\n";
    return;
  }
  if (value.type == kRegBinary) {
    line += "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    line += buffer;
  }
  bool any_on_line = false;
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    const bool last = i + 1 == value.data.size();
    std::snprintf(buffer, sizeof buffer, last ? "%02x" : "%02x,", value.data[i]);
    // Room for the byte, its comma and the '\' that would end the line after it.
    const std::size_t need = last ? 2 : 4;
    if (any_on_line && line.size() + need > kLineWidth) {
      *out += line + "\\\n";
      line = "  ";
    }
    line += buffer;
    any_on_line = true;
  }
  *out += line + "\n";
}

}  // namespace

RegistryValue* RegistryKey::FindValue(std::string_view name) {
  for (RegistryValue& value : values) {
    if (RegistryNamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (UpperCase(NextCharacter(a, &i)) != UpperCase(NextCharacter(b, &j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::vector<std::string_view> SplitRegistryPath(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const std::size_t slash = path.find('\\');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) parts.push_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return parts;
}

RegistryKey* RegistryDocument::FindKey(std::string_view path) {
  for (RegistryKey& key : keys) {
    if (RegistryNamesEqual(key.path, path)) return &key;
  }
  return nullptr;
}

RegistryKey& RegistryDocument::CreateKey(std::string_view path, bool* created) {
  *created = false;
  std::string so_far;
  RegistryKey* key = nullptr;
  for (std::string_view part : SplitRegistryPath(path)) {
    std::string next = so_far.empty() ? std::string(part) : so_far + "\\" + std::string(part);
    key = FindKey(next);
    if (key == nullptr) {
      keys.push_back(RegistryKey{next, true, {}});
      key = &keys.back();
      *created = true;
    }
    so_far = key->path;
  }
  if (key != nullptr) return *key;
  // The root itself: present as an unwritten key until it gets values.
  key = FindKey("");
  if (key == nullptr) {
    keys.push_back(RegistryKey{"", false, {}});
    key = &keys.back();
  }
  return *key;
}

RegistryKey& RegistryDocument::MakeWritten(RegistryKey& key) {
  if (key.written) return key;
  key.written = true;
  const auto it = std::find_if(keys.begin(), keys.end(), [&](const RegistryKey& k) { return &k == &key; });
  std::rotate(it, it + 1, keys.end());
  return keys.back();
}

std::optional<RegistryDocument> ParseRegistryText(std::string_view text, std::string_view root_name) {
  RegistryDocument document;
  if (text.starts_with(kByteOrderMark)) {
    document.byte_order_mark = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  Lines lines(text);
  std::string_view line;
  if (!lines.Next(&line) || line != kHeader) return std::nullopt;

  std::size_t current = std::string::npos;      // index of the key being read
  std::unordered_set<std::string> value_names;  // of the key being read, folded
  while (lines.Next(&line)) {
    const std::string_view trimmed = TrimRight(TrimLeft(line));
    if (trimmed.empty() || trimmed.front() == ';') continue;
    if (trimmed.front() == '[') {
      if (trimmed.back() != ']') return std::nullopt;
      const std::string_view full = trimmed.substr(1, trimmed.size() - 2);
      const std::size_t slash = full.find('\\');
      if (!RegistryNamesEqual(full.substr(0, slash), root_name)) return std::nullopt;
      const std::string_view path = slash == std::string_view::npos ? std::string_view() : full.substr(slash + 1);
      if (slash != std::string_view::npos &&
          SplitRegistryPath(path).size() != static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) + 1) {
        return std::nullopt;  // an empty component
      }
      RegistryKey* existing = document.FindKey(path);
      if (existing != nullptr && existing->written) return std::nullopt;
      // Parents that have no section of their own exist all the same.
      const auto parts = SplitRegistryPath(path);
      std::string parent;
      for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent += (i == 0 ? "" : "\\") + std::string(parts[i]);
        if (document.FindKey(parent) == nullptr) document.keys.push_back(RegistryKey{parent, false, {}});
      }
      if (existing != nullptr) {
        existing->path = std::string(path);  // its own section line keeps its own spelling
        document.MakeWritten(*existing);
      } else {
        document.keys.push_back(RegistryKey{std::string(path), true, {}});
      }
      current = document.keys.size() - 1;
      value_names.clear();
      continue;
    }
    if (current == std::string::npos) return std::nullopt;
    std::string name;
    std::string_view rest;
    if (trimmed.front() == '@') {
      rest = trimmed.substr(1);
    } else {
      auto quoted = ParseQuoted(trimmed, &rest);
      if (!quoted) return std::nullopt;
      name = std::move(*quoted);
    }
    rest = TrimLeft(rest);
    if (!rest.starts_with('=')) return std::nullopt;
    auto value = ParseValueData(rest.substr(1), lines);
    if (!value) return std::nullopt;
    RegistryKey& key = document.keys[current];
    if (!value_names.insert(FoldedName(name)).second) return std::nullopt;
    value->name = std::move(name);
    key.values.push_back(std::move(*value));
  }
  return document;
}

std::string WriteRegistryText(const RegistryDocument& document, std::string_view root_name) {
  std::string out;
  if (document.byte_order_mark) out += kByteOrderMark;
  out += kHeader;
  out += "\n\n";
  for (const RegistryKey& key : document.keys) {
    if (!key.written) continue;
    out += '[';
    out += root_name;
    if (!key.path.empty()) {
      out += '\\';
      out += key.path;
    }
    out += "]\n";
    for (const RegistryValue& value : key.values) WriteValue(value, &out);
    out += '\n';
  }
  return out;
}

}  // namespace kavrin::platform::detail
