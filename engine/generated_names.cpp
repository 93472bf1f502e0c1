#include "engine/generated_names.h"

#include <cstdint>
#include <limits>

#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/memory_files.h"
#include "engine/primitives.h"
#include "platform/win_file.h"

namespace kavrin::engine {
namespace {

bool ReserveInMemory(const std::string& name) {
  if (MemoryFiles().MemoryFileExists(name)) return false;
  MemoryFiles().NewMemoryFile(name);
  MemoryFiles().CloseMemoryFile(name);  // unused, so the caller's creation reuses it
  return true;
}

bool ReserveOnDisk(const std::string& name) {
  // Create-exclusive, so that another process choosing at the same moment takes the next name.
  const platform::HANDLE handle =
      platform::CreateFileA(name, platform::GENERIC_READ | platform::GENERIC_WRITE, 0, platform::CREATE_NEW);
  if (handle != platform::INVALID_HANDLE_VALUE) {
    platform::CloseHandle(handle);
    return true;
  }
  const platform::DWORD error = platform::GetLastError();
  if (error == platform::ERROR_FILE_EXISTS || error == platform::ERROR_ALREADY_EXISTS ||
      error == platform::ERROR_SHARING_VIOLATION || error == platform::ERROR_INVALID_NAME) {
    return false;
  }
  RaiseEngineError(TFileHandler::MapLastError(), name);
}

// A table's index or blob file of the name left behind (by a crash, or by a deleter that removed the
// data file first) would be taken over or deleted under the new owner.
bool CompanionLeft(const std::string& base) {
  return platform::FileExists(base + ".IDX") || platform::FileExists(base + ".BLB");
}

std::string UniqueName(std::string_view dir, bool inMemory, std::string_view prefix) {
  const std::string base = AddBackslash(dir) + std::string(prefix);
  for (std::uint32_t n = 0; n <= std::numeric_limits<std::uint16_t>::max(); ++n) {
    const std::string stem = base + std::to_string(n);
    const std::string name = stem + ".DAT";
    if (inMemory) {
      if (ReserveInMemory(name)) return name;
      continue;
    }
    if (!ReserveOnDisk(name)) continue;
    // Checked under the reservation: a companion made before it is still someone's.
    if (!CompanionLeft(stem)) return name;
    platform::DeleteFileA(name);
  }
  RaiseEngineError(ec::TooManyOpenFiles, base + "n.DAT");
}

}  // namespace

std::string UniqueLogFileName(std::string_view dir, bool inMemory) { return UniqueName(dir, inMemory, "LOG"); }

std::string UniqueTempFileName(std::string_view dir, bool inMemory) { return UniqueName(dir, inMemory, "TMP"); }

}  // namespace kavrin::engine
