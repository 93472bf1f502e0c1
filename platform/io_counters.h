// Process-wide counts of the system calls the file layer makes, for benchmarks: cheap enough to stay on
// in every build (one relaxed atomic add per call).
#pragma once

#include <atomic>
#include <cstdint>

namespace kavrin::platform {

struct IoCounts {
  std::uint64_t Reads = 0;   // pread calls
  std::uint64_t Writes = 0;  // pwrite calls
  std::uint64_t Other = 0;   // locks, sizes, truncations and syncs of open files
};

namespace detail {
struct IoCounters {
  std::atomic<std::uint64_t> Reads{0};
  std::atomic<std::uint64_t> Writes{0};
  std::atomic<std::uint64_t> Other{0};
};
inline IoCounters g_ioCounters;
inline void CountRead() { g_ioCounters.Reads.fetch_add(1, std::memory_order_relaxed); }
inline void CountWrite() { g_ioCounters.Writes.fetch_add(1, std::memory_order_relaxed); }
inline void CountOther() { g_ioCounters.Other.fetch_add(1, std::memory_order_relaxed); }
}  // namespace detail

inline IoCounts GetIoCounts() {
  return {detail::g_ioCounters.Reads.load(std::memory_order_relaxed),
          detail::g_ioCounters.Writes.load(std::memory_order_relaxed),
          detail::g_ioCounters.Other.load(std::memory_order_relaxed)};
}

}  // namespace kavrin::platform
