// File access shared by the readers: source files read by ranges, so that what a transfer holds does not
// grow with a table's size; companion files found by case-insensitive name; bounds-checked views of the
// bytes read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::transfer {

// Bytes read from the start of one file (a header); the ESourceError of damage names the file.
struct TFileBytes {
  std::string FileName;
  std::vector<std::uint8_t> Bytes;

  std::size_t Size() const { return Bytes.size(); }
  // Whether [offset, offset + length) lies inside the file, without overflow.
  bool Holds(std::uint64_t offset, std::uint64_t length) const {
    return offset <= Bytes.size() && length <= Bytes.size() - offset;
  }
  // Raises the damage error naming the file unless the range lies inside it.
  const std::uint8_t* At(std::uint64_t offset, std::uint64_t length, std::string_view what) const;
  [[noreturn]] void Damaged(std::string_view what) const;
};

// An open source file, read by ranges. Its size is taken when it opens; a file that shrinks afterwards
// gives the damage error where a read comes up short.
class TSourceFile {
 public:
  explicit TSourceFile(const std::string& path);
  ~TSourceFile();
  TSourceFile(const TSourceFile&) = delete;
  TSourceFile& operator=(const TSourceFile&) = delete;

  const std::string& FileName() const { return fileName_; }
  std::uint64_t Size() const { return size_; }
  bool Holds(std::uint64_t offset, std::uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
  // Reads [offset, offset + length) into out; the damage error names what unless all of it is there.
  void Read(std::uint64_t offset, std::size_t length, void* out, std::string_view what) const;
  std::vector<std::uint8_t> Read(std::uint64_t offset, std::size_t length, std::string_view what) const;
  // Up to length bytes at offset, fewer at the end of the file; the count read.
  std::size_t ReadSome(std::uint64_t offset, std::size_t length, void* out) const;
  // The first length bytes (at most the file's size).
  TFileBytes ReadStart(std::size_t length) const;
  [[noreturn]] void Damaged(std::string_view what) const;

 private:
  std::string fileName_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// The file in path's directory whose name is stem + extension: the exact name first, then the one
// name matching without regard to case; nothing when none; an error when several match only by case.
std::optional<std::string> FindCompanion(const std::string& path, std::string_view extension);
// Every file of path's directory whose name is the table's stem followed by "." and a name suffix
// accepted by the predicate (given upper-cased), sorted by upper-cased name.
std::vector<std::string> FindCompanions(const std::string& path, bool (*acceptExtension)(std::string_view upper));

std::string UpperAscii(std::string_view text);
std::string StemOf(const std::string& path);       // the name without directory and extension
std::string DirectoryOf(const std::string& path);  // "." for a bare name

}  // namespace kavrin::transfer
