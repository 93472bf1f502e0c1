// Names resolved the way a case-insensitive Windows disk finds them.
//
// Only the last path component is matched up to case; the directories above it are taken as given.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::platform::detail {

struct ResolvedName {
  std::string path;     // the existing entry's name when one was found, else the name as given
  bool exists = false;  // path names an existing entry
};

// The exact name first, else the one entry of the directory that matches it up to ASCII case. False
// with the last error set when two entries match up to case (ERROR_INVALID_NAME), the directory is
// missing (ERROR_PATH_NOT_FOUND) or the name cannot be looked at.
bool ResolveName(const std::string& name, ResolvedName* resolved);

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace kavrin::platform::detail
