#include "apps/transfer/readers/source_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "apps/transfer/readers/source_table.h"

namespace kavrin::transfer {

const std::uint8_t* TFileBytes::At(std::uint64_t offset, std::uint64_t length, std::string_view what) const {
  if (!Holds(offset, length)) Damaged(what);
  return Bytes.data() + offset;
}

void TFileBytes::Damaged(std::string_view what) const {
  throw ESourceError(FileName, "the file is damaged (" + std::string(what) + ")");
}

TFileBytes ReadWholeFile(const std::string& path) {
  TFileBytes file;
  file.FileName = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ESourceError(path, std::string("cannot be opened: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw ESourceError(path, "is not a readable file");
  }
  // Read to the end rather than trusting the size: the file may change under us, and this never
  // allocates more than the bytes that are really there.
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw ESourceError(path, std::string("cannot be read: ") + std::strerror(error));
    }
    if (got == 0) break;
    file.Bytes.insert(file.Bytes.end(), chunk, chunk + got);
  }
  ::close(fd);
  return file;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string StemOf(const std::string& path) {
  const auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

namespace {

std::vector<std::string> DirectoryNames(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  return names;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory == "/" ? "/" + name : directory + "/" + name;
}

}  // namespace

std::optional<std::string> FindCompanion(const std::string& path, std::string_view extension) {
  const std::string directory = DirectoryOf(path);
  const std::string wanted = StemOf(path) + std::string(extension);
  const std::string exact = JoinPath(directory, wanted);
  struct stat info {};
  if (::stat(exact.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return exact;
  const std::string upper = UpperAscii(wanted);
  std::optional<std::string> found;
  for (const std::string& name : DirectoryNames(directory)) {
    if (UpperAscii(name) != upper) continue;
    if (found) throw ESourceError(JoinPath(directory, name), "two files differ only in case: " + *found);
    found = JoinPath(directory, name);
  }
  return found;
}

std::vector<std::string> FindCompanions(const std::string& path, bool (*acceptExtension)(std::string_view upper)) {
  const std::string directory = DirectoryOf(path);
  const std::string stem = UpperAscii(StemOf(path)) + ".";
  std::vector<std::pair<std::string, std::string>> found;
  for (const std::string& name : DirectoryNames(directory)) {
    const std::string upper = UpperAscii(name);
    if (upper.size() <= stem.size() || upper.compare(0, stem.size(), stem) != 0) continue;
    if (!acceptExtension(std::string_view(upper).substr(stem.size()))) continue;
    for (const auto& [otherUpper, otherPath] : found)
      if (otherUpper == upper) throw ESourceError(JoinPath(directory, name), "two files differ only in case: " + otherPath);
    found.emplace_back(upper, JoinPath(directory, name));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& entry : found) paths.push_back(std::move(entry.second));
  return paths;
}

}  // namespace kavrin::transfer
