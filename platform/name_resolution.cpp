#include "platform/name_resolution.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/win_error.h"

namespace kavrin::platform::detail {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

enum class Scan { NoMatch, Match, Ambiguous, DirectoryMissing };

// The directory's only entry equal to base up to case, in *match.
Scan FindCaseVariant(const std::string& directory, std::string_view base, std::string* match) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
  if (!dir) {
    // An unreadable directory can still be searched by exact name, which has already failed.
    return (errno == ENOENT || errno == ENOTDIR) ? Scan::DirectoryMissing : Scan::NoMatch;
  }
  int found = 0;
  while (const dirent* entry = readdir(dir.get())) {
    if (!EqualIgnoringAsciiCase(entry->d_name, base)) continue;
    if (++found > 1) return Scan::Ambiguous;
    *match = entry->d_name;
  }
  return found == 1 ? Scan::Match : Scan::NoMatch;
}

}  // namespace

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool ResolveName(const std::string& name, ResolvedName* resolved) {
  resolved->path = name;
  resolved->exists = false;
  if (name.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  struct stat st {};
  if (fstatat(AT_FDCWD, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    resolved->exists = true;
    return true;
  }
  if (errno == ENOTDIR) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (errno != ENOENT) {
    SetLastError(Win32ErrorFromErrno(errno));
    return false;
  }

  const std::size_t slash = name.rfind('/');
  const std::string prefix = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  const std::string_view base = std::string_view(name).substr(prefix.size());
  if (base.empty() || base == "." || base == "..") return true;

  std::string match;
  switch (FindCaseVariant(prefix.empty() ? std::string(".") : prefix, base, &match)) {
    case Scan::NoMatch: return true;
    case Scan::Match:
      resolved->path = prefix + match;
      resolved->exists = true;
      return true;
    case Scan::Ambiguous: SetLastError(ERROR_INVALID_NAME); return false;
    case Scan::DirectoryMissing: SetLastError(ERROR_PATH_NOT_FOUND); return false;
  }
  return true;
}

}  // namespace kavrin::platform::detail
