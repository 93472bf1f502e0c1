// The cache settings change only when the engine writes, never what it writes: the same random
// workload under the smallest and a large table cache budget leaves byte-identical files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/cache_budget.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/error_codes.h"
#include "runtime/date_time.h"
#include "tests/engine/stress_workload.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using kavrin::testing::TempDir;

constexpr std::size_t kLargeBudget = std::size_t{64} << 20;

// ID integer (primary), Code string 12 (unique), Group smallint (not unique), Pad bytes 60.
std::vector<TFieldDescriptor> Fields() {
  return {testing::Field(1, "ID", ftInteger), testing::Field(2, "Code", ftString, 12),
          testing::Field(3, "Group", ftSmallInt), testing::Field(4, "Pad", ftBytes, 60)};
}
std::vector<TIndexDescriptor> Indexes() {
  return {testing::Index("", {1}, true), testing::Index("Code", {2}, true), testing::Index("Group", {3}, false)};
}

// Inserts, updates that move every key, and deletes in random key order, on an exclusive table.
void ExclusiveWorkload(const std::string& path, std::uint32_t seed) {
  testing::CreateTableAt(path, Fields(), Indexes());
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  table.Open();
  std::mt19937 random(seed);
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  std::vector<std::uint8_t> probe(image.size());
  std::vector<std::int32_t> ids;
  auto fill = [&](std::int32_t id, std::uint32_t salt) {
    char code[16];
    std::snprintf(code, sizeof code, "C%08X", static_cast<std::uint32_t>(id) * 2654435761u);  // unique per id
    const auto group = static_cast<std::int16_t>((static_cast<std::uint32_t>(id) + salt) % 37);
    std::vector<std::uint8_t> pad(60);
    for (std::size_t i = 0; i < pad.size(); ++i) pad[i] = static_cast<std::uint8_t>(id * 7 + salt + i);
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), code);
    table.SetField(3, image.data(), &group);
    table.SetField(4, image.data(), pad.data());
  };
  auto find = [&](std::int32_t id) {
    table.InitRecord(probe.data());
    table.SetField(1, probe.data(), &id);
    return table.FindKey(false, probe.data(), image.data(), 0, false, 0);
  };
  std::int32_t nextId = 1;
  for (int op = 0; op < 6000; ++op) {
    const unsigned choice = random() % 100;
    if (ids.empty() || choice < 55) {
      const std::int32_t id = static_cast<std::int32_t>(random() % 200000) + 1;
      if (find(id)) continue;
      table.InitRecord(image.data());
      fill(id, static_cast<std::uint32_t>(op));
      table.InsertRecord(image.data());
      ids.push_back(id);
    } else if (choice < 85) {
      const std::size_t at = random() % ids.size();
      ASSERT_TRUE(find(ids[at]));
      table.GetCurrent(image.data(), true);
      const std::int32_t moved = 1000000 + nextId++;
      fill(moved, static_cast<std::uint32_t>(op));
      table.UpdateRecord(image.data(), true);
      ids[at] = moved;
    } else {
      const std::size_t at = random() % ids.size();
      ASSERT_TRUE(find(ids[at]));
      table.DeleteRecord();
      ids[at] = ids.back();
      ids.pop_back();
    }
  }
  table.Close();
}

// One process of the stress workload on a shared table: blobs, locks and change checks included.
void SharedWorkload(const std::string& path, std::uint32_t seed) {
  testing::CreateTableAt(path, stress::StressFields(), stress::StressIndexes());
  stress::TPlan plan;
  plan.TablePath = path;
  plan.Operations = 1500;
  plan.Seed = seed;
  plan.KeySpace = 3000;
  plan.CodeSpace = 6000;
  const stress::TLedger ledger = stress::RunWorker(plan);
  ASSERT_TRUE(ledger.Faults.empty()) << ledger.Faults.front();
  ASSERT_GT(ledger.Inserts, 100);
}

struct WorkloadCase {
  const char* name;
  std::function<void(const std::string&, std::uint32_t)> run;
};

class CacheSettingsTest : public ::testing::TestWithParam<WorkloadCase> {
 protected:
  void SetUp() override {
    budget_ = TableCacheBudget();
    runtime::SetClock([] { return 45000.25; });
  }
  void TearDown() override {
    SetTableCacheBudget(budget_);
    runtime::SetClock(nullptr);
  }
  std::size_t budget_ = 0;
};

TEST_P(CacheSettingsTest, SmallestAndLargestCachesWriteTheSameBytes) {
  TempDir dir;
  const std::vector<std::size_t> budgets{MinimumTableCacheBudget, kLargeBudget};
  for (std::size_t i = 0; i < budgets.size(); ++i) {
    SetTableCacheBudget(budgets[i]);
    GetParam().run(dir.PathOf("T" + std::to_string(i) + ".DAT"), 4711);
    ASSERT_FALSE(HasFailure()) << "budget " << budgets[i];
  }
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    const bool exists = std::filesystem::exists(dir.PathOf(std::string("T0") + extension));
    ASSERT_EQ(std::filesystem::exists(dir.PathOf(std::string("T1") + extension)), exists) << extension;
    if (!exists) continue;
    const std::string smallest = ReadWholeFile(dir.PathOf(std::string("T0") + extension));
    const std::string largest = ReadWholeFile(dir.PathOf(std::string("T1") + extension));
    EXPECT_GT(smallest.size(), 0u) << extension;
    EXPECT_TRUE(smallest == largest) << extension << ": " << smallest.size() << " and " << largest.size() << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Workloads, CacheSettingsTest,
                         ::testing::Values(WorkloadCase{"Exclusive", ExclusiveWorkload},
                                           WorkloadCase{"Shared", SharedWorkload}),
                         [](const ::testing::TestParamInfo<WorkloadCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kavrin::engine
