#include "platform/mapped_reads.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstring>
#include <mutex>

namespace kavrin::platform::detail {
namespace {

// statfs magic numbers of file systems that other machines may share.
constexpr long kNetworkFileSystems[] = {
    0x6969,                         // NFS
    0x517B,                         // SMB
    static_cast<long>(0xFF534D42),  // CIFS
    static_cast<long>(0xFE534D42),  // SMB2
    0x564C,                         // NCP
    0x01021997,                     // 9P
    0x00C36400,                     // Ceph
    0x5346414F,                     // AFS
    0x65735546,                     // FUSE (sshfs and the like)
    0x73757245,                     // Coda
};

constexpr std::uint64_t kLeastMapLength = std::uint64_t{1} << 20;

const std::uint64_t kPageSize = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));

// The copy that may fault, per thread: the handler jumps back to it instead of letting SIGBUS kill
// the process.
thread_local sigjmp_buf guardJump;
thread_local volatile sig_atomic_t guardActive = 0;

struct sigaction previousAction {};

void OnBusError(int signal, siginfo_t* info, void* context) {
  if (guardActive) {
    guardActive = 0;
    siglongjmp(guardJump, 1);
  }
  // Not ours: as the handler before ours would have done.
  if (previousAction.sa_flags & SA_SIGINFO) {
    if (previousAction.sa_sigaction) return previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
    return previousAction.sa_handler(signal);
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  raise(SIGBUS);
}

void InstallBusErrorHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    // SA_NODEFER: jumping out of the handler must not leave SIGBUS blocked.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousAction);
  });
}

}  // namespace

std::shared_ptr<MappedView> MappedView::Map(int fd, std::uint64_t length) {
  InstallBusErrorHandler();
  void* base = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) return nullptr;
  return std::shared_ptr<MappedView>(new MappedView(static_cast<const char*>(base), length));
}

MappedView::~MappedView() { munmap(const_cast<char*>(base_), length_); }

std::uint64_t MapLengthFor(std::int64_t size) {
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const auto known = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
  const std::uint64_t wanted = std::max(known * 2, known + kLeastMapLength);
  return (wanted + page - 1) / page * page;
}

bool MappableFile(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return false;
  const auto type = static_cast<long>(fs.f_type);
  return std::find(std::begin(kNetworkFileSystems), std::end(kNetworkFileSystems), type) ==
         std::end(kNetworkFileSystems);
}

bool MapReachesPast(const char* base, std::uint64_t shown, std::uint64_t end) {
  const std::uint64_t next = (end + kPageSize - 1) / kPageSize * kPageSize;
  if (end == 0 || next >= shown) return false;
  // Looked at only after the copy it vouches for.
  std::atomic_thread_fence(std::memory_order_acquire);
  const volatile char* const at = base + next;
  if (sigsetjmp(guardJump, 0) != 0) return false;
  guardActive = 1;
  static_cast<void>(*at);
  guardActive = 0;
  return true;
}

bool MapStillHolds(const void* copy, const char* from, std::size_t count) {
  // The second look must not be made before the proof that came after the copy.
  std::atomic_thread_fence(std::memory_order_acquire);
  if (sigsetjmp(guardJump, 0) != 0) return false;
  guardActive = 1;
  const bool same = std::memcmp(copy, from, count) == 0;
  guardActive = 0;
  return same;
}

bool GuardedCopy(void* to, const void* from, std::size_t count) {
  if (sigsetjmp(guardJump, 0) != 0) return false;
  guardActive = 1;
  std::memcpy(to, from, count);
  guardActive = 0;
  return true;
}

}  // namespace kavrin::platform::detail
