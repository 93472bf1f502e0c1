// Points the registry store at a fresh temporary folder for one test, and back when the test ends.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/helpers/temp_dir.h"

namespace kavrin::testing {

class RegistryFolder {
 public:
  RegistryFolder() {
    if (const char* old = std::getenv("KAVRIN_REGISTRY_DIR"); old != nullptr) previous_ = old;
    setenv("KAVRIN_REGISTRY_DIR", dir_.Path().c_str(), 1);
  }
  ~RegistryFolder() {
    if (previous_) {
      setenv("KAVRIN_REGISTRY_DIR", previous_->c_str(), 1);
    } else {
      unsetenv("KAVRIN_REGISTRY_DIR");
    }
  }
  RegistryFolder(const RegistryFolder&) = delete;
  RegistryFolder& operator=(const RegistryFolder&) = delete;

  const std::string& Path() const { return dir_.Path(); }
  // The file of a root, e.g. "HKEY_CURRENT_USER".
  std::string RootFile(const std::string& root) const { return dir_.PathOf(root + ".reg"); }

 private:
  TempDir dir_;
  std::optional<std::string> previous_;
};

}  // namespace kavrin::testing
