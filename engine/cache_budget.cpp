#include "engine/cache_budget.h"

#include <algorithm>
#include <atomic>

#include "engine/index_format.h"

namespace kavrin::engine {
namespace {

std::atomic<std::size_t> budget{DefaultTableCacheBudget};

// What a cached record or page costs beyond its bytes: the cache's list and lookup nodes and the
// object itself. A page keeps its entries uncompressed, about twice its size on disk.
constexpr std::size_t kRecordOverhead = 96;
constexpr std::size_t kPageCost = 2 * static_cast<std::size_t>(PageSize) + 160;
constexpr std::size_t kLeastPages = 8;

}  // namespace

void SetTableCacheBudget(std::size_t bytes) {
  budget.store(std::max(bytes, MinimumTableCacheBudget), std::memory_order_relaxed);
}

std::size_t TableCacheBudget() { return budget.load(std::memory_order_relaxed); }

std::size_t RecordCacheCapacityFor(std::size_t budget, std::int32_t recordSize) {
  const std::size_t each = static_cast<std::size_t>(std::max(recordSize, 1)) + kRecordOverhead;
  return std::max<std::size_t>(1, budget / 4 / each);
}

std::size_t PageCacheCapacityFor(std::size_t budget, std::size_t indexCount, std::size_t blockCacheBytes) {
  const std::size_t total = budget;
  const std::size_t forRecords = total / 4;
  const std::size_t left = total > forRecords + blockCacheBytes ? total - forRecords - blockCacheBytes : 0;
  return std::max(kLeastPages, left / kPageCost / std::max<std::size_t>(1, indexCount));
}

}  // namespace kavrin::engine
