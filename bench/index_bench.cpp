// The index file's B-tree: keys of 20 bytes inserted per second and looked up per second, at 10K and
// 1M keys, and the file size per key after sequential and after random insertion. Files are on disk,
// opened exclusively, as a table without other users has them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/index_file.h"
#include "engine/index_owner.h"

namespace {

using namespace kavrin::engine;

constexpr std::size_t KeyLength = 20;

class BenchOwner : public TIndexOwner {
 public:
  bool Repairing() const override { return false; }
  void SyncIndexPosition() override {}
  std::uint8_t KeyFieldType(std::int16_t) const override { return ftString; }
  std::span<const std::uint8_t> RecordImage(std::int32_t) override { return {}; }
  std::int32_t RecordSlots() const override { return 0; }
};

// Keys that order as their number: a big-endian number after a fixed prefix, like a string key field.
std::vector<std::uint8_t> KeyFor(std::uint32_t n) {
  std::vector<std::uint8_t> key(KeyLength, 'K');
  for (int i = 0; i < 8; ++i) key[KeyLength - 1 - i] = static_cast<std::uint8_t>('0' + (n >> (4 * i) & 0xF));
  return key;
}

std::string TempPath() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavrin_bench_XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return dir + "/BENCH.IDX";
}

struct BenchIndex {
  BenchIndex() : file(owner) {
    std::filesystem::remove(TempPath());
    file.SetFileName(TempPath());
    file.SetExclusive(true);
    file.NewFile();
    const std::int16_t fields[] = {1};
    file.CreatePrimaryIndex(KeyLength, 1, fields, true, false, false);
  }
  ~BenchIndex() {
    file.CloseFile();
    std::filesystem::remove(TempPath());
  }
  BenchOwner owner;
  TIndexFile file;
};

std::vector<std::uint32_t> Numbers(std::int64_t n, bool shuffled) {
  std::vector<std::uint32_t> numbers(static_cast<std::size_t>(n));
  std::iota(numbers.begin(), numbers.end(), 1u);
  if (shuffled) std::shuffle(numbers.begin(), numbers.end(), std::mt19937(42));
  return numbers;
}

void Insert(benchmark::State& state, bool shuffled) {
  const std::vector<std::uint32_t> numbers = Numbers(state.range(0), shuffled);
  std::vector<std::vector<std::uint8_t>> keys;
  keys.reserve(numbers.size());
  for (std::uint32_t n : numbers) keys.push_back(KeyFor(n));
  double bytesPerKey = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto index = std::make_unique<BenchIndex>();
    state.ResumeTiming();
    for (std::size_t i = 0; i < keys.size(); ++i) index->file.InsertKey(keys[i], static_cast<std::int32_t>(i + 1));
    index->file.FlushPages();
    index->file.WriteHeader();
    state.PauseTiming();
    bytesPerKey = static_cast<double>(index->file.Size()) / static_cast<double>(keys.size());
    index.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["file_bytes_per_key"] = bytesPerKey;
}

void BM_InsertSequential(benchmark::State& state) { Insert(state, false); }
void BM_InsertRandom(benchmark::State& state) { Insert(state, true); }

void BM_Lookup(benchmark::State& state) {
  BenchIndex index;
  const std::vector<std::uint32_t> numbers = Numbers(state.range(0), true);
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    index.file.InsertKey(KeyFor(numbers[i]), static_cast<std::int32_t>(i + 1));
  }
  index.file.FlushPages();
  index.file.ApplyRange();
  std::mt19937 random(7);
  std::vector<std::vector<std::uint8_t>> probes;
  for (int i = 0; i < 4096; ++i) probes.push_back(KeyFor(static_cast<std::uint32_t>(random() % numbers.size()) + 1));
  std::size_t next = 0;
  const auto pagesBefore = index.file.Statistics().PagesRead;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.file.FindKey(probes[next], false, false));
    next = (next + 1) % probes.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["pages_read_per_lookup"] =
      static_cast<double>(index.file.Statistics().PagesRead - pagesBefore) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_InsertSequential)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_InsertRandom)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Lookup)->Arg(10000)->Arg(1000000);

}  // namespace
