// Random inserts and deletes against a std::map, with the whole tree checked along the way: key
// lengths from the shortest to the longest, insertion orders that stress either end of the tree,
// shared prefixes that make leaves hold many keys, and both index directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/memory_files.h"
#include "tests/engine/index_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using index_testing::CheckTree;
using index_testing::IndexFixture;
using index_testing::Key;
using index_testing::KeyShape;
using index_testing::MakeKey;
using index_testing::Model;

enum class Order { Ascending, Descending, Random };

struct ModelCase {
  std::uint8_t keyLength;
  Order order;
  KeyShape shape;
  bool descendingIndex;
  int keys;
  bool onDisk = false;
};

std::string Name(const ::testing::TestParamInfo<ModelCase>& info) {
  const ModelCase& c = info.param;
  static const char* orders[] = {"Ascending", "Descending", "Random"};
  return "Key" + std::to_string(c.keyLength) + "_" + orders[static_cast<int>(c.order)] +
         (c.shape == KeyShape::SharedPrefix ? "_SharedPrefix" : "") + (c.descendingIndex ? "_DescIndex" : "") + "_" +
         std::to_string(c.keys) + (c.onDisk ? "_Disk" : "");
}

class BTreeModelTest : public ::testing::TestWithParam<ModelCase> {
 protected:
  void SetUp() override { MemoryFiles().Clear(); }
  void TearDown() override { MemoryFiles().Clear(); }
  testing::TempDir dir;
};

std::vector<std::uint32_t> InsertionOrder(int n, Order order, std::mt19937& random) {
  std::vector<std::uint32_t> values(static_cast<std::size_t>(n));
  std::iota(values.begin(), values.end(), 1u);
  if (order == Order::Descending) std::reverse(values.begin(), values.end());
  if (order == Order::Random) std::shuffle(values.begin(), values.end(), random);
  return values;
}

TEST_P(BTreeModelTest, RandomInsertsAndDeletesKeepEveryInvariant) {
  const ModelCase c = GetParam();
  IndexFixture fixture(dir.PathOf("MODEL.DAT"), c.keyLength, c.descendingIndex, !c.onDisk);
  TIndexFile& file = fixture.file;
  Model model(index_testing::KeyOrder{c.descendingIndex});
  std::mt19937 random(c.keyLength * 1000 + c.keys + static_cast<int>(c.order));
  const std::vector<std::uint32_t> values = InsertionOrder(c.keys, c.order, random);
  const int checks = 8;
  const std::size_t checkEvery = std::max<std::size_t>(1, values.size() / checks);

  // Growing phase: mostly inserts, some deletes of keys already in.
  std::vector<Key> present;
  for (std::size_t i = 0; i < values.size(); ++i) {
    Key key = MakeKey(values[i], c.keyLength, c.shape);
    file.InsertKey(key, static_cast<std::int32_t>(values[i]));
    model.emplace(key, static_cast<std::int32_t>(values[i]));
    present.push_back(std::move(key));
    if (random() % 4 == 0) {
      const std::size_t victim = random() % present.size();
      file.DeleteKey(present[victim]);
      model.erase(present[victim]);
      present[victim] = std::move(present.back());
      present.pop_back();
    }
    if ((i + 1) % checkEvery == 0) {
      CheckTree(file, model);
      ASSERT_FALSE(HasFailure()) << "after " << i + 1 << " steps";
    }
  }
  file.Recount();
  EXPECT_EQ(file.RecordCount(), static_cast<std::int32_t>(model.size()));

  // Shrinking phase: delete everything in random order; the tree stays whole all the way down.
  std::shuffle(present.begin(), present.end(), random);
  const std::size_t dropEvery = std::max<std::size_t>(1, present.size() / checks);
  for (std::size_t i = 0; i < present.size(); ++i) {
    file.DeleteKey(present[i]);
    model.erase(present[i]);
    if ((i + 1) % dropEvery == 0) {
      CheckTree(file, model);
      ASSERT_FALSE(HasFailure()) << "after deleting " << i + 1;
    }
  }
  EXPECT_EQ(file.GetDescriptor(0).Root, 0);
  const std::int32_t end = file.Header().EndOfFile;
  EXPECT_EQ(CheckTree(file, model).freePages, (end - IndexHeaderSize) / PageSize);

  // Reinserting takes pages from the free chain before the file grows.
  for (const Key& key : present) {
    const std::int32_t record = static_cast<std::int32_t>(key.size() + model.size() + 1);
    file.InsertKey(key, record);
    model.emplace(key, record);
  }
  const auto refilled = CheckTree(file, model);
  if (refilled.freePages > 0) {
    EXPECT_EQ(file.Header().EndOfFile, end);
  }

  // What was flushed reads back as the same tree from the file alone.
  file.FlushPages();
  file.ClearPageCache();
  CheckTree(file, model);
}

std::vector<ModelCase> Cases() {
  std::vector<ModelCase> cases;
  for (std::uint8_t length : {5, 9, 33, 120, 243, 244, 254}) {
    const int keys = length <= 33 ? 6000 : 2500;
    for (Order order : {Order::Ascending, Order::Descending, Order::Random}) {
      cases.push_back({length, order, KeyShape::Distinct, false, keys});
    }
    cases.push_back({length, Order::Random, KeyShape::SharedPrefix, false, keys});
    cases.push_back({length, Order::Random, KeyShape::Distinct, true, keys});
    cases.push_back({length, Order::Ascending, KeyShape::SharedPrefix, true, keys});
  }
  // The large trees: many levels of short keys, and deep narrow trees of long ones.
  cases.push_back({9, Order::Random, KeyShape::Distinct, false, 200000});
  cases.push_back({244, Order::Random, KeyShape::SharedPrefix, true, 20000});
  cases.push_back({33, Order::Random, KeyShape::Distinct, false, 4000, true});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, BTreeModelTest, ::testing::ValuesIn(Cases()), Name);

}  // namespace
}  // namespace kavrin::engine
