// The core of TRegFile (unit RegFiles): settings kept as named values under one registry key, each
// call opening the key, doing its work and closing it again.
//
// Values are variants; until the class library's Variant is at hand they pass as RegVariant, which
// holds what the registry can keep of one. Stored forms:
//
//   smallint (2), integer (3), boolean (11)  REG_DWORD, the value as a signed 32-bit integer (true is -1)
//   single (4), double (5), currency (6),    REG_BINARY of 16 bytes, the variant record:
//   date (7)                                   0-1  type code, little-endian
//                                              2-7  reserved, written as 0
//                                              8-15 single: IEEE float at 8 (12-15 written as 0);
//                                                   double, date: IEEE double; currency: signed 64-bit
//                                                   integer scaled by 10,000
//   string (0x100)                           REG_SZ, the characters and a NUL
//
// Read back: REG_SZ a string up to its first NUL, a 4-byte REG_DWORD an integer (3), a 16-byte
// REG_BINARY with type code 4 to 7 that variant; anything else an empty variant, never a kind built
// from other file bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

inline constexpr std::uint16_t varEmpty = 0x0000;
inline constexpr std::uint16_t varNull = 0x0001;
inline constexpr std::uint16_t varSmallint = 0x0002;
inline constexpr std::uint16_t varInteger = 0x0003;
inline constexpr std::uint16_t varSingle = 0x0004;
inline constexpr std::uint16_t varDouble = 0x0005;
inline constexpr std::uint16_t varCurrency = 0x0006;
inline constexpr std::uint16_t varDate = 0x0007;
inline constexpr std::uint16_t varOleStr = 0x0008;
inline constexpr std::uint16_t varBoolean = 0x000B;
inline constexpr std::uint16_t varString = 0x0100;

// One variant as far as the registry is concerned; the Variant adapter fills and reads it.
struct RegVariant {
  std::uint16_t type = varEmpty;
  std::int64_t integer = 0;  // smallint, integer, boolean (non-zero is true), currency scaled by 10,000
  double real = 0;           // single, double, date (days since 30 December 1899)
  std::string text;          // string

  static RegVariant Of(std::uint16_t type) { return RegVariant{type, 0, 0, {}}; }
  static RegVariant Integer(std::int64_t v, std::uint16_t type = varInteger) { return {type, v, 0, {}}; }
  static RegVariant Real(double v, std::uint16_t type = varDouble) { return {type, 0, v, {}}; }
  static RegVariant String(std::string v) { return {varString, 0, 0, std::move(v)}; }
  bool operator==(const RegVariant&) const = default;
};

struct StoredForm {
  platform::DWORD type = 0;
  std::vector<std::uint8_t> data;
};

// Nothing for a kind that has no stored form.
std::optional<StoredForm> ToStoredForm(const RegVariant& value);
RegVariant FromStoredForm(platform::DWORD type, const std::vector<std::uint8_t>& data);

// A value name with an optional subkey path in front: split at its last backslash that is not one of a
// pair, pairs counted from the right. key_suffix has a leading '\' (or is empty: the value is directly
// under Key, also when the splitting backslash is the name's first character).
struct ValueName {
  std::string key_suffix;
  std::string value_name;  // empty: the key's unnamed value
};
ValueName SplitValueName(std::string_view name);

class TRegFileCore {
 public:
  TRegFileCore() = default;
  virtual ~TRegFileCore();
  TRegFileCore(const TRegFileCore&) = delete;
  TRegFileCore& operator=(const TRegFileCore&) = delete;

  TRootKey RootKey() const { return root_; }
  void SetRootKey(TRootKey root) { root_ = root; }
  const std::string& Key() const { return key_; }
  void SetKey(std::string key) { key_ = std::move(key); }

  // Default when the value does not exist or holds no data.
  RegVariant ReadValue(const std::string& name, const RegVariant& default_value);
  void WriteValue(const std::string& name, const RegVariant& value);

  virtual bool OpenKey(const std::string& path, bool open_only);
  virtual void CloseKey();

 private:
  void CloseKeyQuietly() noexcept;

  TRootKey root_ = TRootKey::hkCurrentUser;
  std::string key_;
  platform::HKEY open_key_ = 0;
};

}  // namespace kavrin::components::regfiles
