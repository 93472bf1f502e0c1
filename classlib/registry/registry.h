// TRegistry: the class library's registry class, the way components read and write settings: a root,
// one open key at a time, strings and integers by name.
//
// Paths split at '\'. A path with a leading '\' starts at the root; any other path starts at the open
// key, or at the root when none is open. With no key open, values are those of the root itself.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/registry.h"

namespace kavrin::classlib {

// "Failed to get data for 'T3'", "Invalid data type for 'C0'", "Failed to set data for 'Left'";
// Code() is the registry call's Win32 code (0 for a value of the wrong type).
class ERegistryException : public std::runtime_error {
 public:
  ERegistryException(const std::string& message, platform::DWORD code) : std::runtime_error(message), code_(code) {}
  platform::DWORD Code() const { return code_; }

 private:
  platform::DWORD code_;
};

class TRegistry {
 public:
  TRegistry() = default;
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  platform::HKEY RootKey() const { return root_; }
  // Closes the open key first.
  void SetRootKey(platform::HKEY root);
  // 0 while no key is open.
  platform::HKEY CurrentKey() const { return current_; }
  // The open key's path below the root, without a leading '\'.
  const std::string& CurrentPath() const { return current_path_; }
  // The Win32 code of the last registry call that failed, 0 after one that worked.
  platform::DWORD LastError() const { return last_error_; }

  // Opens the key in place of the open one, creating missing levels when can_create is true; false
  // (the open key stays open) when it cannot be opened.
  bool OpenKey(const std::string& key, bool can_create);
  void CloseKey();

  bool ValueExists(const std::string& name);
  // False when there is no such value or it cannot be deleted.
  bool DeleteValue(const std::string& name);
  // A REG_SZ or REG_EXPAND_SZ value, up to its first NUL.
  std::string ReadString(const std::string& name);
  // A REG_DWORD value.
  std::int32_t ReadInteger(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);

 private:
  platform::HKEY Key() const { return current_ != 0 ? current_ : root_; }
  // The value's type and data; raises when it cannot be read.
  std::string ReadData(const std::string& name, platform::DWORD* type);
  bool Check(platform::LONG code);

  platform::HKEY root_ = platform::HKEY_CURRENT_USER;
  platform::HKEY current_ = 0;
  std::string current_path_;
  platform::DWORD last_error_ = 0;
};

}  // namespace kavrin::classlib
