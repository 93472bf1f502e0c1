// File access shared by the readers: whole files read with their size known, companion files found by
// case-insensitive name, and bounds-checked views of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::transfer {

// The bytes of one file, read whole; the ESourceError of an unreadable file names it.
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

TFileBytes ReadWholeFile(const std::string& path);

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
