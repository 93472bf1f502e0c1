// A fresh directory under the system temp directory for one test, removed with everything in it when
// the test ends.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::testing {

class TempDir {
 public:
  // Throws std::runtime_error when no directory can be made.
  TempDir();
  // Also removes what a test left without write permission (chmod 0444 files, 0555 directories).
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of name inside the directory.
  std::string PathOf(std::string_view name) const;

 private:
  std::string path_;
};

}  // namespace kavrin::testing
