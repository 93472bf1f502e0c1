#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Field;
using testing::Index;

class CursorUtilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
    path = dir.PathOf("T.DAT");
  }
  void TearDown() override { TablePasswords().Clear(); }

  void Fill(TDataFile& table, int count) {
    for (std::int32_t id = 1; id <= count; ++id) {
      std::vector<std::uint8_t> image(table.RecordSize());
      table.InitRecord(image.data());
      table.SetField(1, image.data(), &id);
      const std::int32_t group = id % 3;
      table.SetField(2, image.data(), &group);
      table.InsertRecord(image.data());
    }
  }

  static std::int32_t CurrentId(TDataFile& table) {
    std::vector<std::uint8_t> image(table.RecordSize());
    if (table.GetCurrent(image.data(), false) != ec::Success) return -1;
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, image.data(), isNull, &id);
    return id;
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

std::int32_t EvenOnly(std::uint32_t, std::uint8_t* image, std::int32_t) {
  std::int32_t id;
  std::memcpy(&id, image + 10, 4);  // ID's slot: has-value byte at 9, value at 10
  return id % 2 == 0;
}

TEST_F(CursorUtilitiesTest, CloneKeepsOrderRangeFilterAndPosition) {
  testing::CreateTableAt(path, {Field(1, "ID", ftInteger), Field(2, "Grp", ftInteger)},
                         {Index("", {1}, true), Index("ByGroup", {2})}, false, "pw");
  TDataFile table;
  table.SetFileName(path);
  table.SetPasswordHandler([](TDataFile&) {
    TablePasswords().Add("pw");
    return true;
  });
  table.Open();
  TablePasswords().Clear();  // opened through the handler; the session never kept it
  Fill(table, 12);
  std::vector<std::uint8_t> low(table.RecordSize()), high(table.RecordSize());
  table.InitRecord(low.data());
  table.InitRecord(high.data());
  const std::int32_t three = 3, nine = 9;
  table.SetField(1, low.data(), &three);
  table.SetField(1, high.data(), &nine);
  table.SetRange(false, low.data(), 0, high.data(), 0);
  table.SetRecordCallback(EvenOnly, 0);
  table.ActivateRecordCallback(true);
  table.GotoBOF();
  std::vector<std::uint8_t> image(table.RecordSize());
  table.Next(image.data());
  table.Next(image.data());
  ASSERT_EQ(CurrentId(table), 6);

  std::unique_ptr<TDataFile> clone = table.CloneCursor();
  EXPECT_TRUE(TablePasswords().Entries().empty());  // the list holds what it held before
  EXPECT_EQ(clone->ActiveIndex(), 0);
  EXPECT_TRUE(clone->RangeActive());
  EXPECT_EQ(CurrentId(*clone), 6);
  clone->GotoBOF();
  std::vector<std::int32_t> ids;
  while (clone->Next(image.data()) == ec::Success) ids.push_back(CurrentId(*clone));
  EXPECT_EQ(ids, (std::vector<std::int32_t>{4, 6, 8}));

  TDataFile exclusive;
  exclusive.SetExclusive(true);
  EXPECT_THROW(exclusive.CloneCursor(), EDBEngineError);
}

TEST_F(CursorUtilitiesTest, GotoCurrentFollowsAnotherCursorOfTheSameTable) {
  testing::CreateTableAt(path, {Field(1, "ID", ftInteger), Field(2, "Grp", ftInteger)},
                         {Index("", {1}, true), Index("ByGroup", {2})});
  TDataFile a, b;
  a.SetFileName(path);
  a.Open();
  b.SetFileName(path);
  b.Open();
  Fill(a, 6);
  std::vector<std::uint8_t> image(a.RecordSize());
  a.GotoBOF();
  for (int i = 0; i < 4; ++i) a.Next(image.data());
  b.SelectIndexByName("ByGroup");
  EXPECT_EQ(b.GotoCurrent(a), ec::Success);
  EXPECT_EQ(CurrentId(b), 4);

  // Another cursor without a current record: the nearest to an all-zero key, the first record.
  TDataFile fresh;
  fresh.SetFileName(path);
  fresh.Open();
  EXPECT_EQ(b.GotoCurrent(fresh), ec::RecordNotFound);
  EXPECT_EQ(CurrentId(b), 3);  // group 0 comes first

  // Unless a key is all zeros: a record whose primary key is null.
  std::vector<std::uint8_t> blank(a.RecordSize());
  a.InitRecord(blank.data());
  const std::int32_t group = 7;
  a.SetField(2, blank.data(), &group);
  a.InsertRecord(blank.data());
  b.SelectIndex(0);
  EXPECT_EQ(b.GotoCurrent(fresh), ec::Success);
  bool isNull = false;
  std::int32_t found = 0;
  ASSERT_EQ(b.GetCurrent(image.data(), false), ec::Success);
  b.GetField(2, image.data(), isNull, &found);
  EXPECT_EQ(found, 7);
  b.SelectIndexByName("ByGroup");

  // The same table under another spelling of its name is still the same table.
  TDataFile spelt;
  spelt.SetFileName(dir.PathOf("./t.dat"));
  spelt.Open();
  spelt.GotoBOF();
  for (int i = 0; i < 3; ++i) spelt.Next(image.data());  // the null key, 1, 2
  EXPECT_EQ(b.GotoCurrent(spelt), ec::Success);
  EXPECT_EQ(CurrentId(b), 2);

  testing::CreateTableAt(dir.PathOf("OTHER.DAT"), {Field(1, "ID", ftInteger)}, {Index("", {1}, true)});
  TDataFile other;
  other.SetFileName(dir.PathOf("OTHER.DAT"));
  other.Open();
  EXPECT_EQ(b.GotoCurrent(other), ec::InvalidHandle);  // keys of another table mean nothing here
}

}  // namespace
}  // namespace kavrin::engine
