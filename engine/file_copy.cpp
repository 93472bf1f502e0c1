#include "engine/file_copy.h"

#include <vector>

#include "platform/win_file.h"

namespace kavrin::engine {
namespace {

constexpr platform::DWORD kChunkSize = 8192;

class ScopedHandle {
 public:
  explicit ScopedHandle(platform::HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }
  bool Valid() const { return handle_ != platform::INVALID_HANDLE_VALUE; }
  platform::HANDLE Get() const { return handle_; }
  void Close() {
    if (Valid()) platform::CloseHandle(handle_);
    handle_ = platform::INVALID_HANDLE_VALUE;
  }

 private:
  platform::HANDLE handle_;
};

bool CopyContents(platform::HANDLE from, platform::HANDLE to) {
  std::vector<std::uint8_t> buffer(kChunkSize);
  for (;;) {
    platform::DWORD read = 0;
    if (!platform::ReadFile(from, buffer.data(), kChunkSize, &read)) return false;
    if (read > 0) {
      platform::DWORD written = 0;
      if (!platform::WriteFile(to, buffer.data(), read, &written) || written != read) return false;
    }
    if (read < kChunkSize) return platform::FlushFileBuffers(to);
  }
}

}  // namespace

bool CopyDiskFile(const std::string& source, const std::string& dest) {
  if (platform::SameFile(source, dest)) return false;
  ScopedHandle from(
      platform::CreateFileA(source, platform::GENERIC_READ, platform::FILE_SHARE_READ, platform::OPEN_EXISTING));
  if (!from.Valid()) return false;
  ScopedHandle to(
      platform::CreateFileA(dest, platform::GENERIC_READ | platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
  if (!to.Valid()) return false;
  if (CopyContents(from.Get(), to.Get())) return true;
  const platform::DWORD error = platform::GetLastError();
  to.Close();
  platform::DeleteFileA(dest);
  platform::SetLastError(error);
  return false;
}

}  // namespace kavrin::engine
