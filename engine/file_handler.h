// TFileHandler: one physical file of a table, on disk or in memory, with its access flags, positioning,
// byte-range locks and the scrambling of tables with a password. The data, index and blob files derive
// from it; a bare handler also writes plain text files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/error_codes.h"
#include "platform/win_file.h"

namespace kavrin::engine {

class TMemoryFile;

class TFileHandler {
 public:
  TFileHandler() = default;
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;
  // Closes an open file. A derived class that overrides CloseFile closes in its own destructor.
  virtual ~TFileHandler();

  bool InMemory() const { return inMemory_; }
  bool Scrambled() const { return scrambled_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }
  bool ReadOnlyOnDisk() const { return readOnlyOnDisk_; }
  bool Opened() const { return opened_; }
  const std::string& FileName() const { return fileName_; }
  platform::HANDLE Handle() const { return handle_; }
  TMemoryFile* MemoryFile() const { return memoryFile_; }

  // Each setter refuses an open file with 10031 unless the value is unchanged.
  void SetInMemory(bool value);
  void SetExclusive(bool value);
  void SetReadOnly(bool value);
  void SetScrambled(bool value) { scrambled_ = value; }
  void SetFileName(std::string_view name);

  virtual std::string FixFileName(std::string_view name) const;
  virtual void OpenFile();
  virtual void CloseFile();
  virtual void NewFile();
  virtual void EraseFile();
  virtual void RenameFile(std::string_view newName);
  virtual void CopyFile(std::string_view newName);
  virtual void ReadBuffer(void* buffer, std::int32_t count);
  // Reads count units of unitSize bytes in one read; each unit is unscrambled on its own, as it was
  // written.
  void ReadUnits(void* buffer, std::int32_t unitSize, std::int32_t count);
  // Writes count units of unitSize bytes in one write, each scrambled on its own.
  void WriteUnits(const void* buffer, std::int32_t unitSize, std::int32_t count);
  virtual void WriteBuffer(const void* buffer, std::int32_t count);
  virtual void FlushFile();

  // Origin 0 from the start, 1 from the position, 2 back from the end (position = size - offset).
  std::int64_t Seek(std::int64_t offset, int origin);
  std::int64_t Position();
  std::int64_t Size();
  // Before a change writes anything: the disk blocks for growing the file to end are reserved, its
  // length unchanged; where the file system cannot reserve, the growth is written as zeros first. 9218,
  // with the file as it was, when the space cannot be had. The old size when zeros were written, else -1.
  std::int64_t ReserveUpTo(std::int64_t end);
  // ReserveUpTo for a change that writes every byte up to end: the file is known to reach what earlier
  // such changes wrote, so only what lies past that is reserved, without asking the file its size.
  // knownEnd is where the file ends by its header; below what was written, someone has cut it back.
  std::int64_t ReserveGrowth(std::int64_t end, std::int64_t knownEnd);
  // After the writes of ReserveGrowth's change: the file reaches end.
  void NoteWrittenUpTo(std::int64_t end) { reachedEnd_ = std::max(reachedEnd_, end); }
  // Cuts the file back to size, as well as it can (undoing the zeros of ReserveUpTo).
  void CutBackTo(std::int64_t size) noexcept;
  bool FileFound() const;
  // Locks or unlocks a byte range once, without retrying; always succeeds on exclusive and in-memory
  // files, which no other process can reach.
  bool LockRange(std::int64_t offset, std::int64_t length, bool lock);
  // Unlocks two ranges locked by LockRange, in one call where nothing else this handle holds lies between.
  bool UnlockRanges(std::int64_t offset1, std::int64_t length1, std::int64_t offset2, std::int64_t length2);
  // The engine code for the platform's last error.
  static TErrorCode MapLastError();

 protected:
  [[noreturn]] void Raise(TErrorCode code) const;
  void RequireClosed() const;
  // Reads of an open disk file come from a read-only map of it where that is safe (a local file
  // system); the results and errors stay those of plain reads.
  void MapForReading();

 private:
  void ReadPlain(void* buffer, std::int32_t count);
  void WritePlain(const void* data, std::int32_t count);  // a disk file's bytes as they stand

 private:
  bool inMemory_ = false;
  TMemoryFile* memoryFile_ = nullptr;
  std::string fileName_;
  platform::HANDLE handle_ = platform::INVALID_HANDLE_VALUE;
  // The file held at least this many bytes when this handle last wrote or measured it; 0 when unknown.
  std::int64_t reachedEnd_ = 0;
  bool scrambled_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool readOnlyOnDisk_ = false;
  bool opened_ = false;
};

// The file layer's unit start and end: the error context cleared, the random generator seeded and
// MemoryFiles created; the exit frees MemoryFiles with every in-memory file in it.
void FilehndlInitialization();
void FilehndlExitProc();

// The engine's random generator, seeded by FilehndlInitialization: a number in 0 .. range - 1.
std::uint32_t EngineRandom(std::uint32_t range);

}  // namespace kavrin::engine
