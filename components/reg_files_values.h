// The stored forms of TRegFile's values (unit RegFiles) and the split of a value name into a key suffix
// and a value name. Stored forms:
//
//   smallint (2), integer (3), boolean (11)  REG_DWORD, the value as a signed 32-bit integer (true is -1)
//   single (4), double (5), currency (6),    REG_BINARY of 16 bytes, the variant record:
//   date (7)                                   0-1  type code, little-endian
//                                              2-7  reserved, written as 0
//                                              8-15 single: IEEE float at 8; double, date: IEEE double;
//                                                   currency: signed 64-bit integer scaled by 10,000
//   string (0x100)                           REG_SZ, the characters and a NUL
//
// The class library's Variant has no single kind, so code 4 is only ever read (as a double). Read back:
// REG_SZ a string up to its first NUL, a 4-byte REG_DWORD an integer, a 16-byte REG_BINARY with type
// code 4 to 7 that variant; anything else an empty variant, never a kind built from other file bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/variant.h"
#include "platform/registry.h"

namespace kavrin::components::regfiles {

enum class TRootKey : std::uint8_t {
  hkClassesRoot,
  hkCurrentUser,
  hkLocalMachine,
  hkUsers,
  hkCurrentConfig,
  hkDynData,  // keys under it are only opened, never created
};

platform::HKEY RootKeyHandle(TRootKey root);

class ERegFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The type codes of the stored variant record.
inline constexpr std::uint16_t kVarSingle = 4;
inline constexpr std::uint16_t kVarDouble = 5;
inline constexpr std::uint16_t kVarCurrency = 6;
inline constexpr std::uint16_t kVarDate = 7;

struct StoredForm {
  platform::DWORD type = 0;
  std::vector<std::uint8_t> data;
};

// Nothing for a kind that has no stored form.
std::optional<StoredForm> ToStoredForm(const classlib::Variant& value);
classlib::Variant FromStoredForm(platform::DWORD type, const std::vector<std::uint8_t>& data);

// A value name with an optional subkey path in front: split at its last backslash that is not one of a
// pair, pairs counted from the right. key_suffix has a leading '\' (or is empty: the value is directly
// under Key, also when the splitting backslash is the name's first character).
struct ValueName {
  std::string key_suffix;
  std::string value_name;  // empty: the key's unnamed value
};
ValueName SplitValueName(std::string_view name);

}  // namespace kavrin::components::regfiles
