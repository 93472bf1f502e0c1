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

TSourceFile::TSourceFile(const std::string& path) : fileName_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw ESourceError(path, std::string("cannot be opened: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw ESourceError(path, "is not a readable file");
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
}

TSourceFile::~TSourceFile() { ::close(fd_); }

std::size_t TSourceFile::ReadSome(std::uint64_t offset, std::size_t length, void* out) const {
  std::size_t done = 0;
  auto* bytes = static_cast<std::uint8_t*>(out);
  while (done < length) {
    const ssize_t got = ::pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ESourceError(fileName_, std::string("cannot be read: ") + std::strerror(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void TSourceFile::Read(std::uint64_t offset, std::size_t length, void* out, std::string_view what) const {
  // Checked against the size before anything is read, so a damaged length never allocates or reads
  // past the file; a file cut short since it opened is caught by the count.
  if (!Holds(offset, length) || ReadSome(offset, length, out) != length) Damaged(what);
}

std::vector<std::uint8_t> TSourceFile::Read(std::uint64_t offset, std::size_t length, std::string_view what) const {
  if (!Holds(offset, length)) Damaged(what);
  std::vector<std::uint8_t> bytes(length);
  Read(offset, length, bytes.data(), what);
  return bytes;
}

TFileBytes TSourceFile::ReadStart(std::size_t length) const {
  TFileBytes head;
  head.FileName = fileName_;
  head.Bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, size_)));
  head.Bytes.resize(ReadSome(0, head.Bytes.size(), head.Bytes.data()));
  return head;
}

void TSourceFile::Damaged(std::string_view what) const {
  throw ESourceError(fileName_, "the file is damaged (" + std::string(what) + ")");
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
      if (otherUpper == upper)
        throw ESourceError(JoinPath(directory, name), "two files differ only in case: " + otherPath);
    found.emplace_back(upper, JoinPath(directory, name));
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& entry : found) paths.push_back(std::move(entry.second));
  return paths;
}

}  // namespace kavrin::transfer
