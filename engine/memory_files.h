// Tables that live only in memory: a TMemoryFile behaves like a file shared by name among all the
// handlers of this process that open it, and outlives them until it is deleted or the process ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/error_codes.h"

namespace kavrin::engine {

class TMemoryFile {
 public:
  explicit TMemoryFile(std::string name);  // 512 zero bytes, held once

  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  std::int32_t Size() const { return static_cast<std::int32_t>(data_.size()); }
  std::int32_t Position() const { return position_; }
  std::int32_t OpenCount() const { return openCount_; }
  const std::vector<std::uint8_t>& Data() const { return data_; }

  // Growing zero-fills and keeps the position; shrinking moves the position to the new end.
  void SetSize(std::int32_t size);
  void AddRef();
  void Release();
  // The bytes that remain, at most count; the position advances past them.
  std::int32_t Read(void* buffer, std::int32_t count);
  // count 0 cuts the file at the position. Returns the bytes written: count, or 0 when the file would
  // grow past what a 32-bit size holds.
  std::int32_t Write(const void* buffer, std::int32_t count);
  // Origin 0 from the start, 1 from the position, 2 back from the end; kept within 0..Size.
  std::int32_t Seek(std::int64_t offset, int origin);

 private:
  bool exclusive_ = false;
  std::string name_;
  std::vector<std::uint8_t> data_;
  std::int32_t position_ = 0;
  std::int32_t openCount_ = 1;
};

// The memory files of the process, matched by trimmed, upper-cased name.
class TMemoryFileList {
 public:
  TMemoryFileList() = default;
  TMemoryFileList(const TMemoryFileList&) = delete;
  TMemoryFileList& operator=(const TMemoryFileList&) = delete;

  // The new file is held once, exclusively, by its creator. An unused file of that name is emptied and
  // reused; one in use gives 10031; a name with nothing but a directory and extension gives 11010.
  std::pair<TErrorCode, TMemoryFile*> NewMemoryFile(std::string_view name);
  std::pair<TErrorCode, TMemoryFile*> OpenMemoryFile(std::string_view name, bool exclusive);
  bool CloseMemoryFile(std::string_view name);
  static void CloseMemoryFile(TMemoryFile& file) { file.Release(); }
  // Refused when the file is absent or in use, or another file already has the new name.
  bool RenameMemoryFile(std::string_view name, std::string_view newName);
  bool CopyMemoryFile(std::string_view name, std::string_view newName);
  bool DeleteMemoryFile(std::string_view name);
  bool MemoryFileExists(std::string_view name) const;
  TMemoryFile* Find(std::string_view name) const;

  void Clear() { files_.clear(); }
  std::size_t Count() const { return files_.size(); }

 private:
  std::vector<std::unique_ptr<TMemoryFile>> files_;
};

// The one list of the process; created by the file layer's initialization.
TMemoryFileList& MemoryFiles();

}  // namespace kavrin::engine
