#include "classlib/registry/registry.h"

#include <vector>

namespace kavrin::classlib {

namespace {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

std::string JoinPath(const std::string& base, const std::string& key) {
  std::string path;
  for (const std::string* part_of : {&base, &key}) {
    std::size_t start = 0;
    while (start <= part_of->size()) {
      std::size_t end = part_of->find('\\', start);
      if (end == std::string::npos) end = part_of->size();
      if (end > start) {
        if (!path.empty()) path += '\\';
        path.append(*part_of, start, end - start);
      }
      start = end + 1;
    }
  }
  return path;
}

}  // namespace

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY root) {
  CloseKey();
  root_ = root;
}

bool TRegistry::Check(LONG code) {
  last_error_ = static_cast<DWORD>(code);
  return code == platform::ERROR_SUCCESS;
}

bool TRegistry::OpenKey(const std::string& key, bool can_create) {
  const bool from_root = !key.empty() && key.front() == '\\';
  const std::string path = JoinPath(from_root ? std::string() : current_path_, key);
  HKEY opened = 0;
  const LONG code = can_create ? platform::RegCreateKeyExA(root_, path, platform::REG_OPTION_NON_VOLATILE,
                                                           platform::KEY_ALL_ACCESS, &opened, nullptr)
                               : platform::RegOpenKeyExA(root_, path, 0, platform::KEY_ALL_ACCESS, &opened);
  if (!Check(code)) return false;
  CloseKey();
  current_ = opened;
  current_path_ = path;
  return true;
}

void TRegistry::CloseKey() {
  if (current_ != 0) platform::RegCloseKey(current_);
  current_ = 0;
  current_path_.clear();
}

bool TRegistry::ValueExists(const std::string& name) {
  DWORD size = 0;
  return Check(platform::RegQueryValueExA(Key(), name, nullptr, nullptr, &size));
}

bool TRegistry::DeleteValue(const std::string& name) { return Check(platform::RegDeleteValueA(Key(), name)); }

std::string TRegistry::ReadData(const std::string& name, DWORD* type) {
  DWORD size = 0;
  if (Check(platform::RegQueryValueExA(Key(), name, type, nullptr, &size))) {
    std::string data(size, '\0');
    if (Check(platform::RegQueryValueExA(Key(), name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size))) {
      data.resize(size);
      return data;
    }
  }
  throw ERegistryException("Failed to get data for " + Quoted(name), last_error_);
}

std::string TRegistry::ReadString(const std::string& name) {
  DWORD type = 0;
  std::string data = ReadData(name, &type);
  if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ) {
    throw ERegistryException("Invalid data type for " + Quoted(name), 0);
  }
  if (const std::size_t nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
  return data;
}

std::int32_t TRegistry::ReadInteger(const std::string& name) {
  DWORD type = 0;
  const std::string data = ReadData(name, &type);
  if (type != platform::REG_DWORD || data.size() != 4) {
    throw ERegistryException("Invalid data type for " + Quoted(name), 0);
  }
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(data[static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(value);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  std::vector<std::uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  if (!Check(platform::RegSetValueExA(Key(), name, platform::REG_SZ, data.data(), static_cast<DWORD>(data.size())))) {
    throw ERegistryException("Failed to set data for " + Quoted(name), last_error_);
  }
}

void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  if (!Check(platform::RegSetValueExA(Key(), name, platform::REG_DWORD, data, 4))) {
    throw ERegistryException("Failed to set data for " + Quoted(name), last_error_);
  }
}

}  // namespace kavrin::classlib
