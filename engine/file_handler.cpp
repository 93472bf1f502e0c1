#include "engine/file_handler.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "engine/engine_error.h"
#include "engine/file_copy.h"
#include "engine/memory_files.h"
#include "engine/scrambling.h"
#include "platform/byte_locks.h"

namespace kavrin::engine {
namespace {

// A plain pointer, so no static destructor races the exit procedure.
TMemoryFileList* memoryFileList = nullptr;

std::mt19937& RandomGenerator() {
  static std::mt19937 generator;
  return generator;
}

// Every table file unit is scrambled from its own first byte (and unscrambled the same way).
void ScrambleEachUnit(std::uint8_t* bytes, std::int32_t unitSize, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) {
    Scramble(bytes + static_cast<std::size_t>(i) * static_cast<std::size_t>(unitSize),
             static_cast<std::size_t>(unitSize), ContentsSeed);
  }
}

}  // namespace

TMemoryFileList& MemoryFiles() {
  if (!memoryFileList) memoryFileList = new TMemoryFileList;
  return *memoryFileList;
}

void FilehndlInitialization() {
  static bool exitRegistered = false;
  if (!exitRegistered) {
    std::atexit(FilehndlExitProc);
    exitRegistered = true;
  }
  RandomGenerator().seed(std::random_device{}());
  ClearErrorContext();
  delete memoryFileList;
  memoryFileList = new TMemoryFileList;
}

void FilehndlExitProc() {
  delete memoryFileList;
  memoryFileList = nullptr;
}

std::uint32_t EngineRandom(std::uint32_t range) {
  if (range == 0) return 0;
  return std::uniform_int_distribution<std::uint32_t>(0, range - 1)(RandomGenerator());
}

TFileHandler::~TFileHandler() {
  if (opened_) {
    try {
      TFileHandler::CloseFile();
    } catch (...) {
      // A destructor must not throw; closing releases the descriptor whatever happens.
    }
  }
}

void TFileHandler::Raise(TErrorCode code) const { RaiseEngineError(code, fileName_); }

void TFileHandler::RequireClosed() const {
  if (opened_) Raise(ec::FileInUse);
}

void TFileHandler::SetInMemory(bool value) {
  if (value == inMemory_) return;
  RequireClosed();
  inMemory_ = value;
}

void TFileHandler::SetExclusive(bool value) {
  if (value == exclusive_) return;
  RequireClosed();
  exclusive_ = value;
}

void TFileHandler::SetReadOnly(bool value) {
  if (value == readOnly_) return;
  RequireClosed();
  readOnly_ = value;
}

void TFileHandler::SetFileName(std::string_view name) {
  if (name == fileName_) return;
  RequireClosed();
  fileName_ = FixFileName(name);
}

std::string TFileHandler::FixFileName(std::string_view name) const { return std::string(name); }

void TFileHandler::OpenFile() {
  if (opened_) return;
  readOnlyOnDisk_ = false;
  if (inMemory_) {
    auto [code, file] = MemoryFiles().OpenMemoryFile(fileName_, exclusive_);
    if (code != ec::Success) Raise(code);
    memoryFile_ = file;
  } else {
    if (!platform::FileExists(fileName_)) Raise(ec::InvalidPath);
    const platform::DWORD attributes = platform::GetFileAttributesA(fileName_);
    if (attributes == platform::INVALID_FILE_ATTRIBUTES) Raise(MapLastError());
    if (attributes & platform::FILE_ATTRIBUTE_READONLY) {
      readOnly_ = true;
      readOnlyOnDisk_ = true;
    }
    const platform::DWORD access =
        readOnly_ ? platform::GENERIC_READ : (platform::GENERIC_READ | platform::GENERIC_WRITE);
    const platform::DWORD share = exclusive_ ? 0 : (platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE);
    handle_ = platform::CreateFileA(fileName_, access, share, platform::OPEN_EXISTING);
    if (handle_ == platform::INVALID_HANDLE_VALUE) Raise(MapLastError());
  }
  opened_ = true;
}

void TFileHandler::MapForReading() {
  if (opened_ && !inMemory_ && handle_ != platform::INVALID_HANDLE_VALUE) platform::EnableMappedReads(handle_);
}

void TFileHandler::CloseFile() {
  if (inMemory_) {
    if (memoryFile_) TMemoryFileList::CloseMemoryFile(*memoryFile_);
    memoryFile_ = nullptr;
  } else if (handle_ != platform::INVALID_HANDLE_VALUE) {
    platform::CloseHandle(handle_);
    handle_ = platform::INVALID_HANDLE_VALUE;
  }
  opened_ = false;
  reachedEnd_ = 0;
}

void TFileHandler::NewFile() {
  RequireClosed();
  if (!exclusive_) Raise(ec::MustBeExclusive);
  readOnlyOnDisk_ = false;
  if (inMemory_) {
    auto [code, file] = MemoryFiles().NewMemoryFile(fileName_);
    if (code != ec::Success) Raise(code);
    memoryFile_ = file;
  } else {
    handle_ =
        platform::CreateFileA(fileName_, platform::GENERIC_READ | platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS);
    if (handle_ == platform::INVALID_HANDLE_VALUE) Raise(MapLastError());
  }
  opened_ = true;
}

void TFileHandler::EraseFile() {
  RequireClosed();
  if (inMemory_) {
    if (!MemoryFiles().DeleteMemoryFile(fileName_)) Raise(ec::InvalidPath);
  } else if (!platform::DeleteFileA(fileName_)) {
    Raise(ec::CannotDelete);
  }
}

void TFileHandler::RenameFile(std::string_view newName) {
  RequireClosed();
  const std::string target = FixFileName(newName);
  const bool renamed =
      inMemory_ ? MemoryFiles().RenameMemoryFile(fileName_, target) : platform::MoveFileA(fileName_, target);
  if (!renamed) Raise(ec::UnknownError);
  fileName_ = target;
}

void TFileHandler::CopyFile(std::string_view newName) {
  RequireClosed();
  const std::string target = FixFileName(newName);
  const bool copied = inMemory_ ? MemoryFiles().CopyMemoryFile(fileName_, target) : CopyDiskFile(fileName_, target);
  if (!copied) Raise(ec::UnknownError);
}

void TFileHandler::ReadPlain(void* buffer, std::int32_t count) {
  if (count < 0) Raise(ec::ReadError);
  if (count == 0) return;
  if (inMemory_) {
    if (!memoryFile_ || memoryFile_->Read(buffer, count) != count) Raise(ec::ReadError);
    return;
  }
  platform::DWORD done = 0;
  if (!platform::ReadFile(handle_, buffer, static_cast<platform::DWORD>(count), &done) ||
      done != static_cast<platform::DWORD>(count)) {
    Raise(ec::ReadError);
  }
}

void TFileHandler::ReadBuffer(void* buffer, std::int32_t count) {
  ReadPlain(buffer, count);
  if (scrambled_ && !inMemory_ && count > 0) {
    Unscramble(static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(count), ContentsSeed);
  }
}

void TFileHandler::ReadUnits(void* buffer, std::int32_t unitSize, std::int32_t count) {
  if (unitSize <= 0 || count < 0 || count > std::numeric_limits<std::int32_t>::max() / unitSize) Raise(ec::ReadError);
  ReadPlain(buffer, unitSize * count);
  if (scrambled_ && !inMemory_) ScrambleEachUnit(static_cast<std::uint8_t*>(buffer), unitSize, count);
}

void TFileHandler::WriteBuffer(const void* buffer, std::int32_t count) {
  if (count < 0) Raise(ec::WriteError);
  if (inMemory_) {
    if (!memoryFile_) Raise(ec::WriteError);
    try {
      if (memoryFile_->Write(buffer, count) != count) Raise(ec::WriteError);
    } catch (const std::bad_alloc&) {
      Raise(ec::OutOfMemory);
    }
    return;
  }
  if (count == 0) {
    reachedEnd_ = 0;
    if (!platform::SetEndOfFile(handle_)) Raise(ec::WriteError);
    return;
  }
  if (!scrambled_) return WritePlain(buffer, count);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> scrambledCopy(bytes, bytes + count);
  Scramble(scrambledCopy.data(), scrambledCopy.size(), ContentsSeed);
  WritePlain(scrambledCopy.data(), count);
}

void TFileHandler::WritePlain(const void* data, std::int32_t count) {
  platform::DWORD done = 0;
  if (!platform::WriteFile(handle_, data, static_cast<platform::DWORD>(count), &done) ||
      done != static_cast<platform::DWORD>(count)) {
    Raise(ec::WriteError);
  }
}

void TFileHandler::WriteUnits(const void* buffer, std::int32_t unitSize, std::int32_t count) {
  if (unitSize <= 0 || count < 0 || count > std::numeric_limits<std::int32_t>::max() / unitSize) Raise(ec::WriteError);
  if (count == 0) return;
  if (!scrambled_ || inMemory_) return WriteBuffer(buffer, unitSize * count);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> scrambled(bytes,
                                      bytes + static_cast<std::size_t>(unitSize) * static_cast<std::size_t>(count));
  ScrambleEachUnit(scrambled.data(), unitSize, count);
  WritePlain(scrambled.data(), unitSize * count);
}

void TFileHandler::FlushFile() {
  // A failed flush means written data may not be on disk: report it rather than lose it silently.
  if (!inMemory_ && !platform::FlushFileBuffers(handle_)) Raise(ec::WriteError);
}

std::int64_t TFileHandler::Seek(std::int64_t offset, int origin) {
  if (inMemory_) return memoryFile_ ? memoryFile_->Seek(offset, origin) : 0;
  const platform::DWORD method =
      origin == 1 ? platform::FILE_CURRENT : (origin == 2 ? platform::FILE_END : platform::FILE_BEGIN);
  const std::int64_t position = platform::SetFilePointer(handle_, origin == 2 ? -offset : offset, method);
  if (position < 0) Raise(MapLastError());
  return position;
}

std::int64_t TFileHandler::Position() { return Seek(0, 1); }

std::int64_t TFileHandler::Size() {
  if (inMemory_) return memoryFile_ ? memoryFile_->Size() : 0;
  const std::int64_t size = platform::GetFileSize(handle_);
  if (size < 0) Raise(MapLastError());
  return size;
}

std::int64_t TFileHandler::ReserveUpTo(std::int64_t end) {
  if (inMemory_ || !opened_ || readOnly_) return -1;
  const std::int64_t size = Size();
  if (end <= size) return -1;
  if (platform::ReserveFileSpace(handle_, size, end - size)) return -1;
  if (platform::GetLastError() != platform::ERROR_NOT_SUPPORTED) Raise(ec::WriteError);
  // Bytes past what the headers count are never read, so the old state stays readable meanwhile.
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(std::min<std::int64_t>(end - size, 65536)), 0);
  const std::int64_t position = Position();
  bool written = platform::SetFilePointer(handle_, size, platform::FILE_BEGIN) == size;
  for (std::int64_t at = size; written && at < end;) {
    const auto count =
        static_cast<platform::DWORD>(std::min<std::int64_t>(end - at, static_cast<std::int64_t>(zeros.size())));
    platform::DWORD done = 0;
    written = platform::WriteFile(handle_, zeros.data(), count, &done) && done == count;
    at += count;
  }
  platform::SetFilePointer(handle_, position, platform::FILE_BEGIN);
  if (!written) {
    CutBackTo(size);
    Raise(ec::WriteError);
  }
  return size;
}

std::int64_t TFileHandler::ReserveGrowth(std::int64_t end, std::int64_t knownEnd) {
  if (inMemory_ || !opened_ || readOnly_) return -1;
  if (reachedEnd_ > knownEnd) reachedEnd_ = 0;
  if (end <= reachedEnd_) return -1;
  if (reachedEnd_ == 0) {
    reachedEnd_ = Size();
    if (end <= reachedEnd_) return -1;
  }
  // Space the file already holds is reserved again at no cost; what others wrote past reachedEnd_ is
  // such space.
  if (platform::ReserveFileSpace(handle_, reachedEnd_, end - reachedEnd_)) return -1;
  if (platform::GetLastError() != platform::ERROR_NOT_SUPPORTED) Raise(ec::WriteError);
  // Zeros go only past the real end, never over what others wrote.
  reachedEnd_ = 0;
  return ReserveUpTo(end);
}

void TFileHandler::CutBackTo(std::int64_t size) noexcept {
  if (inMemory_ || !opened_ || handle_ == platform::INVALID_HANDLE_VALUE) return;
  reachedEnd_ = 0;
  const std::int64_t position = platform::SetFilePointer(handle_, 0, platform::FILE_CURRENT);
  if (platform::SetFilePointer(handle_, size, platform::FILE_BEGIN) == size) platform::SetEndOfFile(handle_);
  if (position >= 0) platform::SetFilePointer(handle_, position, platform::FILE_BEGIN);
}

bool TFileHandler::FileFound() const {
  return inMemory_ ? MemoryFiles().MemoryFileExists(fileName_) : platform::FileExists(fileName_);
}

bool TFileHandler::LockRange(std::int64_t offset, std::int64_t length, bool lock) {
  if (exclusive_ || inMemory_) return true;
  if (offset < 0 || length <= 0) return false;
  const auto from = static_cast<std::uint64_t>(offset);
  const auto count = static_cast<std::uint64_t>(length);
  return lock ? platform::LockFile(handle_, from, count) : platform::UnlockFile(handle_, from, count);
}

bool TFileHandler::UnlockRanges(std::int64_t offset1, std::int64_t length1, std::int64_t offset2,
                                std::int64_t length2) {
  if (exclusive_ || inMemory_) return true;
  if (offset1 < 0 || length1 <= 0 || offset2 < 0 || length2 <= 0) return false;
  return platform::UnlockFilePair(handle_, static_cast<std::uint64_t>(offset1), static_cast<std::uint64_t>(length1),
                                  static_cast<std::uint64_t>(offset2), static_cast<std::uint64_t>(length2));
}

TErrorCode TFileHandler::MapLastError() {
  switch (platform::GetLastError()) {
    case platform::ERROR_FILE_NOT_FOUND:
    case platform::ERROR_PATH_NOT_FOUND:
    case platform::ERROR_INVALID_NAME:  // a name that matches two files up to case
      return ec::InvalidPath;
    case platform::ERROR_TOO_MANY_OPEN_FILES: return ec::TooManyOpenFiles;
    case platform::ERROR_ACCESS_DENIED:
    case platform::ERROR_SHARING_VIOLATION:
    case platform::ERROR_NETWORK_ACCESS_DENIED: return ec::AccessDenied;
    case platform::ERROR_INVALID_HANDLE: return ec::InvalidHandle;
    case platform::ERROR_NOT_ENOUGH_MEMORY: return ec::OutOfMemory;
    case platform::ERROR_INVALID_DRIVE: return ec::InvalidDrive;
    case platform::ERROR_NOT_SAME_DEVICE: return ec::FileMoved;
    default: return ec::UnknownError;
  }
}

}  // namespace kavrin::engine
