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

// Inserts, updates that move every key, and deletes in random key order, on an exclusive table. With
// violations, changes that break a unique key come between them (at the primary key, or at the
// unique secondary after the primary has taken its key): each must fail and leave no trace.
void ExclusiveWorkload(const std::string& path, std::uint32_t seed, bool violations = false) {
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
  auto codeOf = [&](std::int32_t id) {
    std::vector<char> code(16);
    std::snprintf(code.data(), code.size(), "C%08X", static_cast<std::uint32_t>(id) * 2654435761u);
    return code;
  };
  std::mt19937 breaker(seed + 1);
  auto violate = [&](int op) {
    const std::int32_t existing = ids[breaker() % ids.size()];
    const std::int32_t fresh = 5000000 + op;
    const unsigned kind = breaker() % 3;
    if (kind == 2) {
      // An update whose new primary key is free but whose code another record has.
      const std::int32_t target = ids[breaker() % ids.size()];
      if (target == existing) return;
      ASSERT_TRUE(find(target));
      table.GetCurrent(image.data(), true);
      fill(fresh, static_cast<std::uint32_t>(op));
    } else {
      table.InitRecord(image.data());
      fill(kind == 0 ? existing : fresh, static_cast<std::uint32_t>(op));
    }
    table.SetField(2, image.data(), codeOf(existing).data());
    const bool isUpdate = kind == 2;
    try {
      if (isUpdate) {
        table.UpdateRecord(image.data(), true);
      } else {
        table.InsertRecord(image.data());
      }
      ADD_FAILURE() << "no key violation, kind " << kind;
    } catch (const EDBEngineError& error) {
      EXPECT_EQ(error.Code(), ec::KeyViolation);
    }
  };
  std::int32_t nextId = 1;
  for (int op = 0; op < 6000; ++op) {
    if (violations && !ids.empty() && breaker() % 4 == 0) violate(op);
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

TEST(KeyViolationTest, FailedChangesLeaveTheFilesByteIdentical) {
  runtime::SetClock([] { return 45000.25; });
  const std::size_t budget = TableCacheBudget();
  TempDir dir;
  for (const std::size_t each : {MinimumTableCacheBudget, kLargeBudget}) {
    SetTableCacheBudget(each);
    const std::string clean = dir.PathOf("C" + std::to_string(each) + ".DAT");
    const std::string broken = dir.PathOf("V" + std::to_string(each) + ".DAT");
    ExclusiveWorkload(clean, 99, false);
    ExclusiveWorkload(broken, 99, true);
    ASSERT_FALSE(HasFailure());
    for (const char* extension : {".DAT", ".IDX"}) {
      const std::string a = ReadWholeFile(clean.substr(0, clean.size() - 4) + extension);
      const std::string b = ReadWholeFile(broken.substr(0, broken.size() - 4) + extension);
      EXPECT_TRUE(a == b) << extension << " budget " << each << ": " << a.size() << " and " << b.size() << " bytes";
    }
  }
  SetTableCacheBudget(budget);
  runtime::SetClock(nullptr);
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
                         ::testing::Values(WorkloadCase{"Exclusive",
                                                        [](const std::string& path, std::uint32_t seed) {
                                                          ExclusiveWorkload(path, seed);
                                                        }},
                                           WorkloadCase{"Shared", SharedWorkload}),
                         [](const ::testing::TestParamInfo<WorkloadCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kavrin::engine
