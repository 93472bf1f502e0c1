// The memory the caches of one open table may use: its records, index pages and blob blocks. One value
// for the whole process; each table takes its cache capacities from it when it opens.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavrin::engine {

inline constexpr std::size_t DefaultTableCacheBudget = std::size_t{8} << 20;
// The least a table can be given: a few records and pages, as much as the operations pin at once.
inline constexpr std::size_t MinimumTableCacheBudget = std::size_t{4} << 10;

// Bytes per open table; a value below the minimum is raised to it. Tables opened later use it.
void SetTableCacheBudget(std::size_t bytes);
std::size_t TableCacheBudget();

// The record cache's capacity for records of recordSize bytes: a quarter of the budget.
std::size_t RecordCacheCapacityFor(std::size_t budget, std::int32_t recordSize);
// The page cache capacity of each of indexCount indexes: what the budget leaves after the records
// and the blob blocks (blockCacheBytes), shared evenly; never below a few pages.
std::size_t PageCacheCapacityFor(std::size_t budget, std::size_t indexCount, std::size_t blockCacheBytes);

}  // namespace kavrin::engine
