// One root key of the registry as the text of its file, in the registry editor's export format.
//
// The file (UTF-8; a UTF-8 byte-order mark in front is kept; CR LF is read like LF):
//
//   Windows Registry Editor Version 5.00        the first line, exactly
//                                               blank lines and lines starting with ';' are skipped
//   [HKEY_CURRENT_USER\SOFTWARE\Maker]          a key, the root's own name first; "[HKEY_CURRENT_USER]"
//                                               holds the root's own values
//   "Name"="text"                               REG_SZ: the text and a NUL; '\' and '"' escaped as \\ \"
//   "Count"=dword:0000000f                      REG_DWORD: 4 bytes, 1 to 8 hex digits
//   "Data"=hex:05,00,00                         REG_BINARY: bytes in hex, ", " separated
//   "Path"=hex(2):25,00                         any other type N (hex), e.g. REG_EXPAND_SZ
//   @="text"                                    the key's unnamed value (also written "")
//
// Key paths split at '\' only; names match case-insensitively and keep the case first written. A key
// that only appears as the parent of another one exists without a section of its own. A long hex list
// goes on over lines ending in '\', the next line starting with spaces.
//
// Anything else, a value before the first key, a key of another root, a key or value named twice, an
// empty path component, is a file that does not parse.
//
// Written back: the header, a blank line, then each key in file order as its section line, its values in
// order, and a blank line. Text values that are not valid UTF-8, hold a NUL or a line break, or lack the
// final NUL, are written as hex(1); hex lists are wrapped so that no line is longer than 80 characters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_error.h"

namespace kavrin::platform::detail {

inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegDword = 4;

struct RegistryValue {
  std::string name;  // empty for the unnamed value
  DWORD type = 0;
  std::vector<std::uint8_t> data;
};

struct RegistryKey {
  std::string path;     // below the root, components joined by '\'; empty for the root itself
  bool written = true;  // false for a key that exists only as the parent of another
  std::vector<RegistryValue> values;

  RegistryValue* FindValue(std::string_view name);
};

class RegistryDocument {
 public:
  // The key of that path (compared case-insensitively), or null.
  RegistryKey* FindKey(std::string_view path);
  // Creates every missing level, each as a section of its own at the end; existing levels keep their
  // case. Returns the key and whether any level was new.
  RegistryKey& CreateKey(std::string_view path, bool* created);
  // A key that gains a value gets its own section, at the end of the file. Returns the key at its new
  // place: references into keys are no longer valid.
  RegistryKey& MakeWritten(RegistryKey& key);

  bool byte_order_mark = false;
  std::vector<RegistryKey> keys;  // in file order; the root itself is not listed unless written
};

// The document, or nothing when the text does not parse.
std::optional<RegistryDocument> ParseRegistryText(std::string_view text, std::string_view root_name);
std::string WriteRegistryText(const RegistryDocument& document, std::string_view root_name);

// Whether two names are the same up to case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic
// letters by one fixed table, never the process locale, so that every process agrees.
bool RegistryNamesEqual(std::string_view a, std::string_view b);

// Key path components: split at '\', empty components dropped.
std::vector<std::string_view> SplitRegistryPath(std::string_view path);

}  // namespace kavrin::platform::detail
