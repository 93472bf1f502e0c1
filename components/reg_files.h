// TRegFile (unit RegFiles): a program's settings kept as named values under one registry key. Each call
// opens the key, does its work and closes it again, so the component holds no registry handle between
// calls. Values are the class library's variants, stored as reg_files_values.h describes.
#pragma once

#include <string>

#include "classlib/data/component.h"
#include "classlib/data/variant.h"
#include "components/reg_files_values.h"
#include "platform/registry.h"

namespace kavrin::components::regfiles {

class TRegFile : public classlib::TComponent {
 public:
  explicit TRegFile(classlib::TComponent* owner = nullptr);
  ~TRegFile() override;

  TRootKey RootKey() const { return root_; }
  void SetRootKey(TRootKey root) { root_ = root; }
  // Below the root, without a leading backslash; may be empty.
  const std::string& Key() const { return key_; }
  void SetKey(std::string key) { key_ = std::move(key); }

  // The name may carry a subkey path in front of the value name. Default when the value does not
  // exist or holds no data; a missing key path is created.
  classlib::Variant ReadValue(const std::string& name, const classlib::Variant& default_value);
  // Raises "Invalid variant type" for a kind that has no stored form (the key is made by then).
  void WriteValue(const std::string& name, const classlib::Variant& value);

  virtual bool OpenKey(const std::string& path, bool open_only);
  virtual void CloseKey();

 private:
  void CloseKeyQuietly() noexcept;

  TRootKey root_ = TRootKey::hkCurrentUser;
  std::string key_;
  platform::HKEY open_key_ = 0;
};

}  // namespace kavrin::components::regfiles
