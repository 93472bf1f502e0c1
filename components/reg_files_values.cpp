#include "components/reg_files_values.h"

#include <cstring>

namespace kavrin::components::regfiles {

namespace {

using classlib::TVarType;
using classlib::Variant;
using platform::DWORD;
using platform::HKEY;

constexpr std::size_t kVariantRecordSize = 16;

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

StoredForm Record(std::uint16_t code, double value) {
  StoredForm form{platform::REG_BINARY, std::vector<std::uint8_t>(kVariantRecordSize)};
  Put(form.data, 0, code);
  Put(form.data, 8, value);
  return form;
}

StoredForm Dword(std::int64_t value) {
  StoredForm form{platform::REG_DWORD, std::vector<std::uint8_t>(4)};
  Put(form.data, 0, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
  return form;
}

}  // namespace

HKEY RootKeyHandle(TRootKey root) {
  switch (root) {
    case TRootKey::hkClassesRoot: return platform::HKEY_CLASSES_ROOT;
    case TRootKey::hkCurrentUser: return platform::HKEY_CURRENT_USER;
    case TRootKey::hkLocalMachine: return platform::HKEY_LOCAL_MACHINE;
    case TRootKey::hkUsers: return platform::HKEY_USERS;
    case TRootKey::hkCurrentConfig: return platform::HKEY_CURRENT_CONFIG;
    case TRootKey::hkDynData: return platform::HKEY_DYN_DATA;
  }
  return platform::HKEY_CURRENT_USER;
}

std::optional<StoredForm> ToStoredForm(const Variant& value) {
  switch (value.VarType()) {
    case TVarType::varSmallint:
    case TVarType::varInteger: return Dword(value.AsInteger());
    case TVarType::varBoolean: return Dword(value.AsBoolean() ? -1 : 0);
    case TVarType::varDouble: return Record(kVarDouble, value.AsFloat());
    case TVarType::varDate: return Record(kVarDate, value.AsFloat());
    case TVarType::varCurrency: {
      StoredForm form = Record(kVarCurrency, 0.0);
      Put(form.data, 8, value.AsCurrency().Raw());
      return form;
    }
    case TVarType::varString: {
      const std::string text = value.AsString();
      StoredForm form{platform::REG_SZ, std::vector<std::uint8_t>(text.begin(), text.end())};
      form.data.push_back(0);
      return form;
    }
    case TVarType::varEmpty:
    case TVarType::varNull:
    case TVarType::varArray: break;
  }
  return std::nullopt;
}

Variant FromStoredForm(DWORD type, const std::vector<std::uint8_t>& data) {
  if (type == platform::REG_SZ) {
    std::string text(data.begin(), data.end());
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return Variant(std::move(text));
  }
  if (type == platform::REG_DWORD && data.size() == 4) {
    return Variant(static_cast<std::int32_t>(Get<std::uint32_t>(data, 0)));
  }
  if (type == platform::REG_BINARY && data.size() == kVariantRecordSize) {
    // Only the four kinds ever written come back; a pointer kind must never be made from file bytes.
    switch (Get<std::uint16_t>(data, 0)) {
      case kVarSingle: return Variant(static_cast<double>(Get<float>(data, 8)));
      case kVarDouble: return Variant(Get<double>(data, 8));
      case kVarDate: return Variant::FromDateTime(Get<double>(data, 8));
      case kVarCurrency: return Variant(runtime::Currency::FromRaw(Get<std::int64_t>(data, 8)));
      default: break;
    }
  }
  return Variant();
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

}  // namespace kavrin::components::regfiles
