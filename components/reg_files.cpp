#include "components/reg_files.h"

#include <cstdio>
#include <vector>

namespace kavrin::components::regfiles {

namespace {

using classlib::Variant;
using platform::DWORD;
using platform::HKEY;
using platform::LONG;

// Every registry call but the plain open and the size query ends here.
void Check(LONG code) {
  if (code == platform::ERROR_SUCCESS) return;
  char text[32];
  std::snprintf(text, sizeof text, "Reg Error: %8.8X", static_cast<unsigned>(code));
  throw ERegFileError(text);
}

}  // namespace

TRegFile::TRegFile(classlib::TComponent* owner) : TComponent(owner) {}

TRegFile::~TRegFile() { CloseKeyQuietly(); }

bool TRegFile::OpenKey(const std::string& path, bool open_only) {
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

void TRegFile::CloseKey() {
  if (open_key_ == 0) return;
  const HKEY key = open_key_;
  open_key_ = 0;
  Check(platform::RegCloseKey(key));
}

void TRegFile::CloseKeyQuietly() noexcept {
  if (open_key_ != 0) platform::RegCloseKey(open_key_);
  open_key_ = 0;
}

Variant TRegFile::ReadValue(const std::string& name, const Variant& default_value) {
  Variant result = Variant::Null();
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
  return result.IsNull() ? default_value : result;
}

void TRegFile::WriteValue(const std::string& name, const Variant& value) {
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
