#include "components/reg_files_values.h"

#include <cstdio>
#include <cstring>

namespace kavrin::components::regfiles {

namespace {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;

constexpr std::size_t kVariantRecordSize = 16;

// Every registry call but the plain open and the size query ends here.
void Check(LONG code) {
  if (code == platform::ERROR_SUCCESS) return;
  char text[32];
  std::snprintf(text, sizeof text, "Reg Error: %8.8X", static_cast<unsigned>(code));
  throw ERegFileError(text);
}

template <typename T>
void Put(std::vector<std::uint8_t>& data, std::size_t offset, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));  // the record is little-endian, as the machine is
  for (std::size_t i = 0; i < sizeof(T); ++i) data[offset + i] = bytes[i];
}

template <typename T>
T Get(const std::vector<std::uint8_t>& data, std::size_t offset) {
  T value;
  std::memcpy(&value, data.data() + offset, sizeof(T));
  return value;
}

StoredForm Dword(std::int64_t value) {
  StoredForm form{platform::REG_DWORD, std::vector<std::uint8_t>(4)};
  Put(form.data, 0, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
  return form;
}

}  // namespace

HKEY RootKeyHandle(TRootKey root) {
  switch (root) {
    case TRootKey::hkClassesRoot:
      return platform::HKEY_CLASSES_ROOT;
    case TRootKey::hkCurrentUser:
      return platform::HKEY_CURRENT_USER;
    case TRootKey::hkLocalMachine:
      return platform::HKEY_LOCAL_MACHINE;
    case TRootKey::hkUsers:
      return platform::HKEY_USERS;
    case TRootKey::hkCurrentConfig:
      return platform::HKEY_CURRENT_CONFIG;
    case TRootKey::hkDynData:
      return platform::HKEY_DYN_DATA;
  }
  return platform::HKEY_CURRENT_USER;
}

std::optional<StoredForm> ToStoredForm(const RegVariant& value) {
  switch (value.type) {
    case varSmallint:
    case varInteger:
      return Dword(value.integer);
    case varBoolean:
      return Dword(value.integer != 0 ? -1 : 0);
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate: {
      StoredForm form{platform::REG_BINARY, std::vector<std::uint8_t>(kVariantRecordSize)};
      Put(form.data, 0, value.type);
      if (value.type == varSingle) {
        Put(form.data, 8, static_cast<float>(value.real));
      } else if (value.type == varCurrency) {
        Put(form.data, 8, value.integer);
      } else {
        Put(form.data, 8, value.real);
      }
      return form;
    }
    case varString: {
      StoredForm form{platform::REG_SZ, std::vector<std::uint8_t>(value.text.begin(), value.text.end())};
      form.data.push_back(0);
      return form;
    }
    default:
      return std::nullopt;
  }
}

RegVariant FromStoredForm(DWORD type, const std::vector<std::uint8_t>& data) {
  if (type == platform::REG_SZ) {
    std::string text(data.begin(), data.end());
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return RegVariant::String(std::move(text));
  }
  if (type == platform::REG_DWORD && data.size() == 4) {
    return RegVariant::Integer(static_cast<std::int32_t>(Get<std::uint32_t>(data, 0)));
  }
  if (type == platform::REG_BINARY && data.size() == kVariantRecordSize) {
    // Only the four kinds ever written come back; a pointer kind must never be made from file bytes.
    switch (const auto code = Get<std::uint16_t>(data, 0)) {
      case varSingle:
        return RegVariant::Real(Get<float>(data, 8), code);
      case varDouble:
      case varDate:
        return RegVariant::Real(Get<double>(data, 8), code);
      case varCurrency:
        return RegVariant::Integer(Get<std::int64_t>(data, 8), code);
      default:
        break;
    }
  }
  return RegVariant::Of(varEmpty);
}

ValueName SplitValueName(std::string_view name) {
  std::size_t i = name.size();
  while (i > 0) {
    if (name[i - 1] != '\\') {
      --i;
      continue;
    }
    if (i >= 2 && name[i - 2] == '\\') {
      i -= 2;
      continue;
    }
    ValueName split;
    split.value_name = std::string(name.substr(i));
    const std::string_view suffix = name.substr(0, i - 1);
    if (!suffix.empty()) {
      split.key_suffix.reserve(suffix.size() + 1);
      if (suffix.front() != '\\') split.key_suffix.push_back('\\');
      split.key_suffix.append(suffix.data(), suffix.size());
    }
    return split;
  }
  return ValueName{{}, std::string(name)};
}

TRegFileCore::~TRegFileCore() { CloseKeyQuietly(); }

bool TRegFileCore::OpenKey(const std::string& path, bool open_only) {
  CloseKeyQuietly();
  HKEY key = 0;
  const HKEY root = RootKeyHandle(root_);
  if (open_only || path.empty() || root_ == TRootKey::hkDynData) {
    const LONG code = platform::RegOpenKeyExA(root, path, 0, platform::KEY_ALL_ACCESS, &key);
    if (code == platform::ERROR_SUCCESS) open_key_ = key;
    if (open_only) return code == platform::ERROR_SUCCESS;
    if (code != platform::ERROR_SUCCESS) throw ERegFileError("Can't open a Key");
    return true;
  }
  Check(platform::RegCreateKeyExA(root, path, platform::REG_OPTION_NON_VOLATILE, platform::KEY_ALL_ACCESS, &key,
                                  nullptr));
  open_key_ = key;
  return true;
}

void TRegFileCore::CloseKey() {
  if (open_key_ == 0) return;
  const HKEY key = open_key_;
  open_key_ = 0;
  Check(platform::RegCloseKey(key));
}

void TRegFileCore::CloseKeyQuietly() noexcept {
  if (open_key_ != 0) platform::RegCloseKey(open_key_);
  open_key_ = 0;
}

RegVariant TRegFileCore::ReadValue(const std::string& name, const RegVariant& default_value) {
  RegVariant result = RegVariant::Of(varNull);
  const ValueName split = SplitValueName(name);
  OpenKey(key_ + split.key_suffix, false);
  try {
    DWORD type = 0;
    DWORD size = 0;
    const LONG measured = platform::RegQueryValueExA(open_key_, split.value_name, &type, nullptr, &size);
    const std::int64_t length = measured == platform::ERROR_SUCCESS ? static_cast<std::int64_t>(size) : -1;
    if (length > 0) {
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length));
      Check(platform::RegQueryValueExA(open_key_, split.value_name, &type, buffer.data(), &size));
      buffer.resize(size);
      result = FromStoredForm(type, buffer);
    }
  } catch (...) {
    // A failure while closing must not hide the one that got here.
    CloseKeyQuietly();
    throw;
  }
  CloseKey();
  return result.type == varNull ? default_value : result;
}

void TRegFileCore::WriteValue(const std::string& name, const RegVariant& value) {
  const ValueName split = SplitValueName(name);
  OpenKey(key_ + split.key_suffix, false);
  try {
    const std::optional<StoredForm> form = ToStoredForm(value);
    if (!form) throw ERegFileError("Invalid variant type");
    Check(platform::RegSetValueExA(open_key_, split.value_name, form->type, form->data.data(),
                                   static_cast<DWORD>(form->data.size())));
  } catch (...) {
    CloseKeyQuietly();
    throw;
  }
  CloseKey();
}

}  // namespace kavrin::components::regfiles
