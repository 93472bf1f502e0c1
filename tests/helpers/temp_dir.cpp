#include "tests/helpers/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kavrin::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "kavrin-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a directory like " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Entries inside a directory without write or search permission cannot be removed, even by their
  // owner, so every directory is opened up first.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

std::string TempDir::PathOf(std::string_view name) const {
  std::string path = path_;
  path += '/';
  path += name;
  return path;
}

}  // namespace kavrin::testing
