#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "platform/ticks.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Field;
using testing::Index;

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

// ID integer (primary), Name string 20, Amount integer, Notes memo; ByName non-unique and case
// insensitive, ByAmount unique.
std::vector<TFieldDescriptor> PeopleFields() {
  return {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 20), Field(3, "Amount", ftInteger),
          Field(4, "Notes", ftBlob, 0, fstMemo)};
}

std::vector<TIndexDescriptor> PeopleIndexes() {
  return {Index("", {1}, true), Index("ByName", {2}, false, true), Index("ByAmount", {3}, true)};
}

class RecordOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    path = dir.PathOf("PEOPLE.DAT");
    testing::CreateTableAt(path, PeopleFields(), PeopleIndexes());
  }
  void TearDown() override { platform::SetMessageHook(nullptr); }

  void OpenShared(TDataFile& table) {
    table.SetFileName(path);
    table.Open();
  }

  std::vector<std::uint8_t> Image(TDataFile& table, std::int32_t id, const std::string& name, std::int32_t amount) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), name.c_str());
    table.SetField(3, image.data(), &amount);
    return image;
  }

  void Insert(TDataFile& table, std::int32_t id, const std::string& name, std::int32_t amount) {
    auto image = Image(table, id, name, amount);
    table.InsertRecord(image.data());
  }

  static std::int32_t IdOf(TDataFile& table, const std::uint8_t* image) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, image, isNull, &id);
    return isNull ? -1 : id;
  }

  // The IDs in the order of the active index, by Next from the start.
  std::vector<std::int32_t> Walk(TDataFile& table) {
    std::vector<std::int32_t> ids;
    std::vector<std::uint8_t> buffer(table.RecordSize());
    table.GotoBOF();
    while (table.Next(buffer.data()) == ec::Success) ids.push_back(IdOf(table, buffer.data()));
    return ids;
  }

  bool FindId(TDataFile& table, std::int32_t id) {
    table.SelectIndex(0);
    auto image = Image(table, id, "", 0);
    return table.FindKey(false, image.data(), nullptr, 0, false, 0);
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

TEST_F(RecordOpsTest, NavigationAtTheEnds) {
  TDataFile table;
  OpenShared(table);
  std::vector<std::uint8_t> buffer(table.RecordSize(), 0xEE);
  table.GotoBOF();
  EXPECT_EQ(table.Next(buffer.data()), ec::EndOfFile);
  table.GotoEOF();
  EXPECT_EQ(table.Prior(buffer.data()), ec::BeginningOfFile);
  EXPECT_EQ(table.RecordCount(), 0);

  for (int id : {30, 10, 20}) Insert(table, id, "n" + std::to_string(id), id);
  table.GotoBOF();
  EXPECT_EQ(table.GetCurrent(buffer.data(), false), ec::BeginningOfFile);
  EXPECT_EQ(IdOf(table, buffer.data()), -1);  // a new record with the defaults
  EXPECT_EQ(table.Next(buffer.data()), ec::Success);
  EXPECT_EQ(IdOf(table, buffer.data()), 10);
  table.GotoEOF();
  EXPECT_EQ(table.GetCurrent(buffer.data(), false), ec::EndOfFile);
  EXPECT_EQ(table.Prior(buffer.data()), ec::Success);
  EXPECT_EQ(IdOf(table, buffer.data()), 30);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{10, 20, 30}));
  EXPECT_EQ(table.RecordCount(), 3);

  table.GotoRecordNo(2);
  EXPECT_EQ(table.GetCurrent(buffer.data(), false), ec::Success);
  EXPECT_EQ(IdOf(table, buffer.data()), 20);
  EXPECT_EQ(table.RecordNo(), 2);
}

TEST_F(RecordOpsTest, EndsOfAnEmptyRangeAndDefaultsBeforeTheFirstRecord) {
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10),
                                       Field(3, "Qty", ftInteger)};
  fields[1].Default = "none";
  fields[2].Default = "7";
  testing::CreateTableAt(dir.PathOf("DEFAULTS.DAT"), fields, {Index("", {1}, true)});
  TDataFile table;
  table.SetFileName(dir.PathOf("DEFAULTS.DAT"));
  table.Open();
  std::vector<std::uint8_t> image(table.RecordSize());
  for (std::int32_t id : {1, 2, 3}) {
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.InsertRecord(image.data());
  }
  std::vector<std::uint8_t> buffer(table.RecordSize(), 0xEE);
  table.GotoBOF();
  ASSERT_EQ(table.GetCurrent(buffer.data(), false), ec::BeginningOfFile);
  std::int32_t qty = 0;
  char name[11] = {};
  bool isNull = true;
  table.GetField(3, buffer.data(), isNull, &qty);
  EXPECT_FALSE(isNull);
  EXPECT_EQ(qty, 7);
  table.GetField(2, buffer.data(), isNull, name);
  EXPECT_STREQ(name, "none");
  table.GetField(1, buffer.data(), isNull, &qty);
  EXPECT_TRUE(isNull);

  // A range between the records holds none of them.
  std::vector<std::uint8_t> low(table.RecordSize()), high(table.RecordSize());
  table.InitRecord(low.data());
  table.InitRecord(high.data());
  const std::int32_t from = 10, to = 20;
  table.SetField(1, low.data(), &from);
  table.SetField(1, high.data(), &to);
  table.SetRange(false, low.data(), 0, high.data(), 0);
  EXPECT_EQ(table.RecordCount(), 0);
  table.GotoBOF();
  EXPECT_EQ(table.Next(buffer.data()), ec::EndOfFile);
  table.GotoEOF();
  EXPECT_EQ(table.Prior(buffer.data()), ec::BeginningOfFile);
}

TEST_F(RecordOpsTest, InsertKeyViolationChangesNoIndex) {
  TDataFile table;
  OpenShared(table);
  Insert(table, 1, "Ann", 100);
  EXPECT_EQ(CodeOf([&] { Insert(table, 1, "Bob", 200); }), ec::KeyViolation);  // primary
  EXPECT_EQ(CodeOf([&] { Insert(table, 2, "Cid", 100); }), ec::KeyViolation);  // unique secondary
  for (std::uint8_t n : {0, 1, 2}) {
    table.SelectIndex(n);
    EXPECT_EQ(Walk(table), std::vector<std::int32_t>{1}) << int(n);
  }
  EXPECT_EQ(table.PhysicalRecordCount(), 1);
}

TEST_F(RecordOpsTest, UpdateChangesKeysAndChecksViolationsFirst) {
  TDataFile table;
  OpenShared(table);
  Insert(table, 1, "Ann", 100);
  Insert(table, 2, "Bob", 200);
  ASSERT_TRUE(FindId(table, 2));
  std::vector<std::uint8_t> buffer(table.RecordSize());
  ASSERT_EQ(table.GetCurrent(buffer.data(), true), ec::Success);
  EXPECT_TRUE(table.IsRecordLocked(table.CurrentRecord()->RecordNumber()));
  const std::int32_t clash = 100;
  table.SetField(3, buffer.data(), &clash);
  EXPECT_EQ(CodeOf([&] { table.UpdateRecord(buffer.data(), true); }), ec::KeyViolation);
  const std::int32_t amount = 150;
  const std::int32_t id = 0;  // moves before Ann in the primary order
  table.SetField(3, buffer.data(), &amount);
  table.SetField(1, buffer.data(), &id);
  table.UpdateRecord(buffer.data(), true);
  EXPECT_TRUE(table.LockedRecords().empty());
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{0, 1}));
  table.SelectIndex(2);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 0}));
  table.SelectIndexByName("BYNAME");
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 0}));
}

TEST_F(RecordOpsTest, UpdateOfARecordNotLockedLocksItForTheUpdateAlone) {
  TDataFile table, other;
  OpenShared(table);
  OpenShared(other);
  other.SetRetryCount(0);
  Insert(table, 1, "Ann", 100);
  ASSERT_TRUE(FindId(table, 1));
  std::vector<std::uint8_t> buffer(table.RecordSize());
  table.GetCurrent(buffer.data(), false);
  table.UpdateRecord(buffer.data(), false);
  EXPECT_TRUE(table.LockedRecords().empty());
  ASSERT_TRUE(FindId(other, 1));
  EXPECT_EQ(other.GetCurrent(buffer.data(), true), ec::Success);  // nothing left locked
}

TEST_F(RecordOpsTest, UpdateKeepsTheRecordLockUntilATransactionEnds) {
  TDataFile table;
  OpenShared(table);
  Insert(table, 1, "Ann", 100);
  ASSERT_TRUE(FindId(table, 1));
  const std::int32_t record = table.CurrentRecord()->RecordNumber();
  std::vector<std::uint8_t> buffer(table.RecordSize());
  table.StartTransaction();
  ASSERT_EQ(table.GetCurrent(buffer.data(), true), ec::Success);
  const std::int32_t amount = 101;
  table.SetField(3, buffer.data(), &amount);
  table.UpdateRecord(buffer.data(), true);
  EXPECT_TRUE(table.IsRecordLocked(record));
  table.Commit();
  EXPECT_FALSE(table.IsRecordLocked(record));

  // Updated without a lock of its own: the lock taken for the update is kept as well.
  table.StartTransaction();
  ASSERT_EQ(table.GetCurrent(buffer.data(), false), ec::Success);
  const std::int32_t other = 102;
  table.SetField(3, buffer.data(), &other);
  table.UpdateRecord(buffer.data(), true);
  EXPECT_TRUE(table.IsRecordLocked(record));
  table.Rollback();
  EXPECT_FALSE(table.IsRecordLocked(record));
}

// Records in slot order are read several at a time; those read ahead must still give way to another
// cursor's change, in both directions of the walk.
TEST_F(RecordOpsTest, RecordsReadAheadNeverHideAnotherCursorsChange) {
  TDataFile table;
  OpenShared(table);
  constexpr std::int32_t kRecords = 300;
  for (std::int32_t id = 1; id <= kRecords; ++id) Insert(table, id, "n", id);
  table.Close();
  OpenShared(table);  // nothing cached
  TDataFile other;
  OpenShared(other);
  auto amountOf = [](TDataFile& cursor, const std::uint8_t* image) {
    std::int32_t amount = 0;
    bool isNull = true;
    cursor.GetField(3, image, isNull, &amount);
    return amount;
  };
  auto change = [&](std::int32_t id, std::int32_t amount) {
    ASSERT_TRUE(FindId(other, id));
    std::vector<std::uint8_t> image(other.RecordSize());
    ASSERT_EQ(other.GetCurrent(image.data(), true), ec::Success);
    other.SetField(3, image.data(), &amount);
    other.UpdateRecord(image.data(), true);
  };
  std::vector<std::uint8_t> image(table.RecordSize());
  table.GotoBOF();
  for (std::int32_t id = 1; id <= 10; ++id) ASSERT_EQ(table.Next(image.data()), ec::Success);
  EXPECT_GT(table.RecordCacheCount(), 50u);  // read ahead past the record to be changed
  change(50, -50);
  std::vector<std::int32_t> amounts;
  while (table.Next(image.data()) == ec::Success) amounts.push_back(amountOf(table, image.data()));
  ASSERT_EQ(amounts.size(), static_cast<std::size_t>(kRecords - 10));
  EXPECT_EQ(amounts[50 - 11], -50);
  EXPECT_EQ(amounts[51 - 11], 51);

  table.Close();
  OpenShared(table);
  table.GotoEOF();
  for (std::int32_t id = kRecords; id > kRecords - 10; --id) ASSERT_EQ(table.Prior(image.data()), ec::Success);
  EXPECT_GT(table.RecordCacheCount(), 50u);
  change(kRecords - 50, -1);
  amounts.clear();
  while (table.Prior(image.data()) == ec::Success) amounts.push_back(amountOf(table, image.data()));
  ASSERT_EQ(amounts.size(), static_cast<std::size_t>(kRecords - 10));
  EXPECT_EQ(amounts[290 - (kRecords - 50)], -1);
  EXPECT_EQ(amounts.back(), 1);
}

// One key missing from the unique secondary index ByAmount (a damaged index): what a change does shows
// which indexes it touches, and that a failure part way leaves every index as it was.
TEST_F(RecordOpsTest, ChangesCheckEveryIndexBeforeChangingAny) {
  TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.Open();
  for (int id = 1; id <= 3; ++id) Insert(table, id, "n" + std::to_string(id), id * 10);
  ASSERT_TRUE(FindId(table, 2));
  std::array<std::uint8_t, PageEntryArea> key{};
  table.BuildKey(2, table.CurrentRecordBuffer(), table.CurrentRecordBuffer(), key.data());
  table.IndexFile().SelectIndex(2);
  table.IndexFile().DeleteKey(std::span<const std::uint8_t>(key.data(), table.IndexFile().KeyLength()));
  table.IndexFile().SelectIndex(0);
  table.IndexFile().Recount();

  // No key field changes: no index is touched, so the missing key goes unnoticed.
  ASSERT_TRUE(FindId(table, 2));
  std::vector<std::uint8_t> buffer(table.RecordSize());
  ASSERT_EQ(table.GetCurrent(buffer.data(), true), ec::Success);
  table.UpdateRecord(buffer.data(), true);

  // ByName is changed before ByAmount's old key is found missing; ByName gets its old key back.
  const std::int32_t amount = 25;
  table.SetField(2, buffer.data(), "zed");
  table.SetField(3, buffer.data(), &amount);
  EXPECT_EQ(CodeOf([&] { table.UpdateRecord(buffer.data(), true); }), ec::KeyNotFound);
  table.SelectIndexByName("ByName");
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 2, 3}));
  auto zed = Image(table, 0, "zed", 0);
  EXPECT_FALSE(table.FindKey(false, zed.data(), nullptr, 0, false, 0));

  // A delete finds the missing key before it removes any other.
  ASSERT_TRUE(FindId(table, 2));
  EXPECT_EQ(CodeOf([&] { table.DeleteRecord(); }), ec::KeyNotFound);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 2, 3}));
  table.SelectIndexByName("ByName");
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 2, 3}));
  table.SelectIndex(2);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 3}));
  EXPECT_FALSE(table.FetchRecord(2)->Deleted());
}

TEST_F(RecordOpsTest, DeletedSlotsAreReusedWithNewIds) {
  TDataFile table;
  OpenShared(table);
  for (int id = 1; id <= 3; ++id) Insert(table, id, "x", id);
  ASSERT_TRUE(FindId(table, 2));
  const std::int32_t slot = table.CurrentRecord()->RecordNumber();
  const std::int32_t oldId = table.CurrentRecord()->UniqueID();
  table.DeleteRecord();
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 3}));
  Insert(table, 9, "new", 9);
  EXPECT_EQ(table.CurrentRecord()->RecordNumber(), slot);
  EXPECT_GT(table.CurrentRecord()->UniqueID(), oldId);
  EXPECT_EQ(IdOf(table, table.CurrentRecordBuffer()), 9);  // the new record is current
  EXPECT_EQ(table.PhysicalRecordCount(), 3);

  // The last slot deleted is the first reused; with the chain empty a new slot is appended.
  std::vector<std::int32_t> deletedSlots;
  for (std::int32_t id : {1, 3}) {
    ASSERT_TRUE(FindId(table, id));
    deletedSlots.push_back(table.CurrentRecord()->RecordNumber());
    table.DeleteRecord();
  }
  Insert(table, 10, "a", 10);
  EXPECT_EQ(table.CurrentRecord()->RecordNumber(), deletedSlots[1]);
  Insert(table, 11, "b", 11);
  EXPECT_EQ(table.CurrentRecord()->RecordNumber(), deletedSlots[0]);
  Insert(table, 12, "c", 12);
  EXPECT_EQ(table.CurrentRecord()->RecordNumber(), 4);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{9, 10, 11, 12}));
}

TEST_F(RecordOpsTest, KeptIdsAreStoredAndRefusedWhenNotUnique) {
  TDataFile table;
  OpenShared(table);
  Insert(table, 1, "a", 1);  // id 1
  table.SetKeepRecordIDs(true);
  auto image = Image(table, 2, "b", 2);
  TDataFile::SetUniqueID(image.data(), 50);
  table.InsertRecord(image.data());
  EXPECT_EQ(table.CurrentRecord()->UniqueID(), 50);
  EXPECT_EQ(table.Header().LastUniqueID, 50);  // raised to the kept id
  image = Image(table, 3, "c", 3);
  TDataFile::SetUniqueID(image.data(), 20);
  table.InsertRecord(image.data());
  EXPECT_EQ(table.Header().LastUniqueID, 50);  // a lower kept id leaves it
  for (std::int32_t bad : {0, 50}) {
    image = Image(table, 4, "d", 4);
    TDataFile::SetUniqueID(image.data(), bad);
    EXPECT_EQ(CodeOf([&] { table.InsertRecord(image.data()); }), ec::KeyViolation) << bad;
  }
  table.SetKeepRecordIDs(false);
  EXPECT_EQ(table.Header().LastUniqueID, 50);
  Insert(table, 5, "e", 5);
  EXPECT_EQ(table.CurrentRecord()->UniqueID(), 51);
}

TEST_F(RecordOpsTest, RequiredMinimumAndMaximum) {
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(2, "Qty", ftInteger),
                                       Field(3, "Code", ftString, 5)};
  fields[1].Minimum = "10";
  fields[1].Maximum = "20";
  fields[2].Required = true;
  fields[2].Minimum = "B";
  testing::CreateTableAt(dir.PathOf("LIMITS.DAT"), fields, {Index("", {1}, true)});
  TDataFile table;
  table.SetFileName(dir.PathOf("LIMITS.DAT"));
  table.Open();
  struct Case {
    const char* what;
    bool qtyNull;
    std::int32_t qty;
    const char* code;
    TErrorCode result;
    const char* field;
  };
  const Case cases[] = {
      {"ok", false, 15, "Bx", 0, ""},
      {"null compares as 0", true, 0, "Bx", ec::MinimumExceeded, "Qty"},
      {"below", false, 9, "Bx", ec::MinimumExceeded, "Qty"},
      {"above", false, 21, "Bx", ec::MaximumExceeded, "Qty"},
      {"edges", false, 20, "B", 0, ""},
      {"required", false, 15, "", ec::RequiredField, "Code"},
      {"string below", false, 15, "A", ec::MinimumExceeded, "Code"},
  };
  std::int32_t id = 0;
  for (const Case& c : cases) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    ++id;
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), c.qtyNull ? nullptr : &c.qty);
    table.SetField(3, image.data(), c.code);
    ClearErrorContext();
    EXPECT_EQ(CodeOf([&] { table.InsertRecord(image.data()); }), c.result) << c.what;
    if (c.result != 0) {
      EXPECT_EQ(ErrorContext().FieldName, c.field) << c.what;
    }
  }
}

TEST_F(RecordOpsTest, KeysOfCaseInsensitiveAndNonUniqueIndexes) {
  TDataFile table;
  OpenShared(table);
  Insert(table, 1, "smith", 1);
  Insert(table, 2, "SMITH", 2);
  Insert(table, 3, "Adams", 3);
  Insert(table, 4, "Smithers", 4);
  table.SelectIndexByName("byname");
  EXPECT_EQ(table.ActiveIndexName(), "ByName");
  std::array<std::uint8_t, PageEntryArea> a{}, b{};
  auto first = Image(table, 1, "smith", 1);
  auto second = Image(table, 2, "SMITH", 2);
  TDataFile::SetUniqueID(first.data(), 1);
  TDataFile::SetUniqueID(second.data(), 2);
  table.BuildKey(1, first.data(), first.data(), a.data());
  table.BuildKey(1, second.data(), second.data(), b.data());
  // The name parts are equal; the unique ids that follow keep the keys apart.
  EXPECT_EQ(std::memcmp(a.data(), b.data(), 22), 0);
  EXPECT_NE(std::memcmp(a.data(), b.data(), table.KeyLength()), 0);
  EXPECT_EQ(table.KeyLength(), 22 + 4);

  std::vector<std::uint8_t> found(table.RecordSize());
  auto search = Image(table, 0, "Smith", 0);
  EXPECT_TRUE(table.FindKey(false, search.data(), found.data(), 0, false, 0));
  EXPECT_EQ(IdOf(table, found.data()), 1);  // the first of the equal names

  auto partial = Image(table, 0, "SM", 0);
  EXPECT_TRUE(table.FindKey(false, partial.data(), found.data(), 0, false, 2));
  EXPECT_EQ(IdOf(table, found.data()), 1);
  auto smi = Image(table, 0, "smithe", 0);  // "Smithers" alone starts with these
  EXPECT_TRUE(table.FindKey(false, smi.data(), found.data(), 0, false, 6));
  EXPECT_EQ(IdOf(table, found.data()), 4);
  auto sn = Image(table, 0, "SN", 0);
  EXPECT_FALSE(table.FindKey(false, sn.data(), found.data(), 0, false, 2));
  // A partial length past the key is cut to the key, unique id and all (0 in the search image).
  EXPECT_FALSE(table.FindKey(false, search.data(), found.data(), 0, false, 255));
  auto missing = Image(table, 0, "Zz", 0);
  EXPECT_FALSE(table.FindKey(false, missing.data(), found.data(), 0, true, 0));
  EXPECT_EQ(IdOf(table, found.data()), 4);  // past the last key: on the last record, not after it
  EXPECT_FALSE(table.AtEOF());
}

TEST_F(RecordOpsTest, CaseDecidesKeyEqualityOnlyInACaseSensitiveIndex) {
  testing::CreateTableAt(dir.PathOf("CASE.DAT"), {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10)},
                         {Index("", {1}, true), Index("Exact", {2}), Index("NoCase", {2}, false, true)});
  TDataFile table;
  table.SetFileName(dir.PathOf("CASE.DAT"));
  table.Open();
  struct Case {
    const char* first;
    const char* second;
    bool equalExact;
    bool equalNoCase;
  };
  const Case cases[] = {
      {"smith", "SMITH", false, true},
      {"Smith", "sMITH", false, true},
      {"smith", "smith", true, true},
      {"smith", "smyth", false, false},
  };
  std::vector<std::uint8_t> a(table.RecordSize()), b(table.RecordSize());
  for (const Case& c : cases) {
    table.InitRecord(a.data());
    table.InitRecord(b.data());
    table.SetField(2, a.data(), c.first);
    table.SetField(2, b.data(), c.second);
    for (std::uint8_t index : {1, 2}) {
      std::array<std::uint8_t, PageEntryArea> ka{}, kb{};
      table.BuildKey(index, a.data(), a.data(), ka.data());
      table.BuildKey(index, b.data(), b.data(), kb.data());
      const bool equal = std::memcmp(ka.data(), kb.data(), 12) == 0;  // the name part
      EXPECT_EQ(equal, index == 1 ? c.equalExact : c.equalNoCase) << c.first << " " << c.second << " " << int(index);
    }
  }
}

TEST_F(RecordOpsTest, NullsSortFirstAscendingAndLastDescending) {
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(2, "V", ftInteger)};
  testing::CreateTableAt(dir.PathOf("NULLS.DAT"), fields,
                         {Index("", {1}, true), Index("Up", {2}), Index("Down", {2}, false, false, true)});
  TDataFile table;
  table.SetFileName(dir.PathOf("NULLS.DAT"));
  table.Open();
  for (std::int32_t id : {1, 2, 3}) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    const std::int32_t v = id * 10 - 25;  // -15, -5, 5
    if (id != 2) table.SetField(2, image.data(), &v);
    table.InsertRecord(image.data());
  }
  table.SelectIndexByName("Up");
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{2, 1, 3}));
  table.SelectIndexByName("Down");
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{3, 1, 2}));

  // Bookmarks compare in the order of the active index.
  std::vector<std::uint8_t> b1(table.KeyLength()), b3(table.KeyLength());
  std::vector<std::uint8_t> image(table.RecordSize());
  table.GotoBOF();
  table.Next(image.data());
  table.GetBookmark(b3.data());
  table.Next(image.data());
  table.GetBookmark(b1.data());
  EXPECT_EQ(table.CompareBookmarks(b1.data(), b3.data()), 1);
  table.SelectIndexByName("Up");
  std::vector<std::uint8_t> up1(table.KeyLength()), up3(table.KeyLength());
  table.GotoBookmark(b1.data());  // a bookmark of another index finds nothing useful; take fresh ones
  table.GotoBOF();
  table.Next(image.data());
  table.Next(image.data());
  table.GetBookmark(up1.data());
  table.Next(image.data());
  table.GetBookmark(up3.data());
  EXPECT_EQ(table.CompareBookmarks(up3.data(), up1.data()), 1);
  table.SelectIndexByName("Down");  // the same two keys compare the other way round
  EXPECT_EQ(table.CompareBookmarks(up3.data(), up1.data()), -1);
  EXPECT_EQ(table.CompareBookmarks(up1.data(), up1.data()), 0);
  table.SelectIndexByName("Up");
  table.GotoBookmark(up1.data());
  table.GetCurrent(image.data(), false);
  EXPECT_EQ(IdOf(table, image.data()), 1);
}

TEST_F(RecordOpsTest, RangesWithOpenBoundsAndIndexSelection) {
  TDataFile table;
  OpenShared(table);
  for (int id = 1; id <= 9; ++id) Insert(table, id, "n", id * 10);
  auto low = Image(table, 3, "", 0);
  auto high = Image(table, 6, "", 0);
  table.SetRange(false, low.data(), 0, high.data(), 0);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{3, 4, 5, 6}));
  EXPECT_EQ(table.RecordCount(), 4);
  table.SetRange(false, nullptr, 0, high.data(), 0);  // an unset start is the lowest key
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  table.SetRange(false, low.data(), 0, nullptr, 0);  // an unset end the highest
  EXPECT_EQ(Walk(table).size(), 7u);

  // A failed selection keeps the index and its range.
  EXPECT_EQ(CodeOf([&] { table.SelectIndexByName("NoSuchIndex"); }), ec::InvalidIndexName);
  EXPECT_EQ(CodeOf([&] { table.SelectIndex(7); }), ec::InvalidIndexName);
  EXPECT_TRUE(table.RangeActive());
  EXPECT_EQ(table.ActiveIndex(), 0);
  table.SelectIndex(2);  // changing the index drops the range
  EXPECT_FALSE(table.RangeActive());
  EXPECT_EQ(Walk(table).size(), 9u);
  table.CancelRange();
  table.SelectIndexByName("");
  EXPECT_EQ(table.ActiveIndex(), 0);
}

TEST_F(RecordOpsTest, DescendingRangeWithOpenBounds) {
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger)};
  testing::CreateTableAt(dir.PathOf("DESC.DAT"), fields, {Index("", {1}, true, false, true)});
  TDataFile table;
  table.SetFileName(dir.PathOf("DESC.DAT"));
  table.Open();
  for (std::int32_t id = 1; id <= 6; ++id) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.InsertRecord(image.data());
  }
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{6, 5, 4, 3, 2, 1}));
  std::vector<std::uint8_t> bound(table.RecordSize());
  table.InitRecord(bound.data());
  const std::int32_t four = 4;
  table.SetField(1, bound.data(), &four);
  table.SetRange(false, bound.data(), 0, nullptr, 0);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{4, 3, 2, 1}));
  table.SetRange(false, nullptr, 0, bound.data(), 0);
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{6, 5, 4}));
}

TEST_F(RecordOpsTest, RecordLocksBetweenCursors) {
  TDataFile a, b;
  OpenShared(a);
  OpenShared(b);
  Insert(a, 1, "Ann", 1);
  ASSERT_TRUE(FindId(a, 1));
  ASSERT_TRUE(FindId(b, 1));
  std::vector<std::uint8_t> buffer(a.RecordSize());
  ASSERT_EQ(a.GetCurrent(buffer.data(), true), ec::Success);
  ASSERT_EQ(a.GetCurrent(buffer.data(), true), ec::Success);  // a second lock by the holder succeeds
  EXPECT_EQ(a.LockedRecords().size(), 1u);
  b.SetRetryCount(0);
  EXPECT_EQ(CodeOf([&] { b.GetCurrent(buffer.data(), true); }), ec::RecordLocked);
  b.SetRetryCount(2);
  b.SetRetryWait(1);
  EXPECT_EQ(CodeOf([&] { b.DeleteRecord(); }), ec::RecordLocked);
  a.SetRetryCount(0);
  EXPECT_EQ(CodeOf([&] { a.LockTable(); }), ec::TableLocked);  // its own record locks exclude it too
  a.UnlockRecord(0);
  EXPECT_EQ(b.GetCurrent(buffer.data(), true), ec::Success);
  EXPECT_EQ(CodeOf([&] { a.UnlockRecord(1); }), ec::CannotUnlock);
}

int messageCalls = 0;

TEST_F(RecordOpsTest, LockRetriesAreTheRetryCountWithAWaitBetweenTries) {
  TDataFile holder, table;
  OpenShared(holder);
  OpenShared(table);
  Insert(holder, 1, "Ann", 1);
  ASSERT_TRUE(FindId(holder, 1));
  std::vector<std::uint8_t> buffer(holder.RecordSize());
  ASSERT_EQ(holder.GetCurrent(buffer.data(), true), ec::Success);
  const std::int32_t record = holder.CurrentRecord()->RecordNumber();
  struct Case {
    bool tableLock;
    std::uint8_t retries;
    std::uint16_t wait;
  };
  const Case cases[] = {{false, 0, 50}, {false, 3, 10}, {true, 0, 50}, {true, 3, 10}};
  platform::SetMessageHook([] { ++messageCalls; });
  for (const Case& c : cases) {
    table.SetRetryCount(c.retries);
    table.SetRetryWait(c.wait);
    messageCalls = 0;
    const auto start = std::chrono::steady_clock::now();
    const TErrorCode code = CodeOf([&] { c.tableLock ? table.LockTable() : table.LockRecord(record); });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, c.tableLock ? ec::TableLocked : ec::RecordLocked);
    if (c.retries == 0) {
      EXPECT_EQ(messageCalls, 0) << "one try, no wait";
    } else {
      EXPECT_GE(messageCalls, c.retries);  // every wait keeps the messages flowing
      EXPECT_GE(waited, std::chrono::milliseconds(c.retries * c.wait));
    }
    EXPECT_TRUE(table.LockedRecords().empty());
    EXPECT_FALSE(table.TableLocked());
  }
}

// A cursor waiting for a record holds no index, header or blob lock meanwhile: the holder of the record
// may need them to finish. A third cursor takes them from the message hook during the wait.
TDataFile* probe = nullptr;
int probeRefused = 0;
int probeTaken = 0;

void ProbeTheChangeLocks() {
  static bool running = false;
  if (running) return;
  running = true;
  try {
    probe->IndexFile().WriteLock();
    probe->IndexFile().WriteUnlock();
    probe->BlobFile().WriteLock();
    probe->BlobFile().WriteUnlock();
    probe->LockHeader();
    probe->UnlockHeader();
    ++probeTaken;
  } catch (const EDBEngineError&) {
    ++probeRefused;
  }
  running = false;
}

TEST_F(RecordOpsTest, RecordLockWaitsHoldNoOtherLock) {
  TDataFile holder, table, third;
  OpenShared(holder);
  OpenShared(table);
  OpenShared(third);
  third.IndexFile().SetLockRetry({1, 1});
  third.BlobFile().SetLockWait({1, 1});
  third.SetHeaderLockTiming(1, 1);
  probe = &third;
  Insert(holder, 1, "Ann", 1);
  ASSERT_TRUE(FindId(holder, 1));
  std::vector<std::uint8_t> held(holder.RecordSize());
  ASSERT_EQ(holder.GetCurrent(held.data(), true), ec::Success);
  table.SetRetryCount(2);
  table.SetRetryWait(2);
  std::vector<std::uint8_t> buffer(table.RecordSize());
  struct Case {
    const char* what;
    std::function<void()> action;
  };
  const Case cases[] = {
      {"locked read", [&] { table.GetCurrent(buffer.data(), true); }},
      {"update", [&] { table.UpdateRecord(buffer.data(), true); }},
      {"delete", [&] { table.DeleteRecord(); }},
  };
  platform::SetMessageHook(ProbeTheChangeLocks);
  for (const Case& c : cases) {
    ASSERT_TRUE(FindId(table, 1));
    ASSERT_EQ(table.GetCurrent(buffer.data(), false), ec::Success);
    probeRefused = probeTaken = 0;
    EXPECT_EQ(CodeOf(c.action), ec::RecordLocked) << c.what;
    EXPECT_GT(probeTaken, 0) << c.what;
    EXPECT_EQ(probeRefused, 0) << c.what;
  }
  platform::SetMessageHook(nullptr);
  EXPECT_EQ(Walk(table), std::vector<std::int32_t>{1});
}

TEST_F(RecordOpsTest, GetCurrentWithoutACurrentRecordLocksNothing) {
  TDataFile a, b;
  OpenShared(a);
  OpenShared(b);
  std::vector<std::uint8_t> buffer(a.RecordSize());
  a.GotoBOF();
  EXPECT_EQ(a.GetCurrent(buffer.data(), true), ec::BeginningOfFile);
  EXPECT_TRUE(a.LockedRecords().empty());
  b.SetHeaderLockTiming(1, 1);
  b.LockHeader();  // the header byte is free
  b.UnlockHeader();
}

TEST_F(RecordOpsTest, TableLockAgainstRecordLocksOfAnotherProcess) {
  TDataFile table;
  OpenShared(table);
  Insert(table, 1, "Ann", 1);
  table.LockTable();
  EXPECT_TRUE(table.TableLocked());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failures = 0;
    try {
      TDataFile other;
      other.SetFileName(path);
      other.SetRetryCount(0);
      other.Open();
      for (std::int32_t n : {1, 1999999, 2000000, 2500000}) {
        try {
          other.LockRecord(n);
        } catch (const EDBEngineError& e) {
          if (e.Code() == ec::RecordLocked) ++failures;
        }
      }
    } catch (...) {
    }
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 4);  // every record, also past 2,000,000
  table.UnlockTable();
  EXPECT_FALSE(table.TableLocked());
  EXPECT_EQ(CodeOf([&] { table.UnlockTable(); }), ec::CannotUnlock);

  // Now the other way round: a record lock in this process keeps the child's table lock out.
  ASSERT_TRUE(FindId(table, 1));
  std::vector<std::uint8_t> buffer(table.RecordSize());
  table.GetCurrent(buffer.data(), true);
  const pid_t second = fork();
  ASSERT_GE(second, 0);
  if (second == 0) {
    int code = 0;
    try {
      TDataFile other;
      other.SetFileName(path);
      other.SetRetryCount(1);
      other.SetRetryWait(1);
      other.Open();
      try {
        other.LockTable();
      } catch (const EDBEngineError& e) {
        if (e.Code() == ec::TableLocked) code |= 1;
      }
      try {
        other.LockRecord(1);
      } catch (const EDBEngineError& e) {
        if (e.Code() == ec::RecordLocked) code |= 2;
      }
      other.LockRecord(2);  // another record is free
      other.UnlockRecord(2);
      code |= 4;
    } catch (...) {
    }
    _exit(code);
  }
  ASSERT_EQ(waitpid(second, &status, 0), second);
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(RecordOpsTest, ChangesUnderATableLockReachOtherProcesses) {
  TDataFile table;
  OpenShared(table);
  table.LockTable();
  Insert(table, 5, "Eve", 5);
  TDataFile reader;
  OpenShared(reader);  // another cursor reads the file, not this one's cache
  EXPECT_EQ(Walk(reader), std::vector<std::int32_t>{5});
  table.UnlockTable();
}

TDataFile* reentered = nullptr;
TErrorCode reentryCode = 0;

TErrorCode blobReentryCode = 0;

std::int32_t ReenteringCallback(std::uint32_t, std::uint8_t* image, std::int32_t) {
  reentryCode = CodeOf([] { reentered->GotoBOF(); });
  blobReentryCode = reentered->OpenBlob(4, image);
  return 1;
}

TEST_F(RecordOpsTest, ReentryIntoABusyCursorIsRefused) {
  TDataFile table, holder;
  OpenShared(table);
  OpenShared(holder);
  Insert(table, 1, "Ann", 1);
  reentered = &table;
  table.SetRecordCallback(ReenteringCallback, 0);
  reentryCode = 0;
  table.ActivateRecordCallback(true);
  table.GotoBOF();
  EXPECT_EQ(reentryCode, ec::FileInUse);
  EXPECT_EQ(blobReentryCode, ec::FileInUse);
  EXPECT_EQ(table.BlobFile().OpenBlobCount(), 0);
  table.ActivateRecordCallback(false);

  // From the message hook while the cursor waits for a record lock.
  ASSERT_TRUE(FindId(holder, 1));
  std::vector<std::uint8_t> buffer(table.RecordSize());
  holder.GetCurrent(buffer.data(), true);
  ASSERT_TRUE(FindId(table, 1));
  table.SetRetryCount(1);
  table.SetRetryWait(3);
  reentryCode = 0;
  platform::SetMessageHook([] { reentryCode = CodeOf([] { reentered->GotoEOF(); }); });
  EXPECT_EQ(CodeOf([&] { table.GetCurrent(buffer.data(), true); }), ec::RecordLocked);
  platform::SetMessageHook(nullptr);
  EXPECT_EQ(reentryCode, ec::FileInUse);
}

TEST_F(RecordOpsTest, BlobFieldsOpenReadWriteClose) {
  TDataFile table;
  OpenShared(table);
  auto image = Image(table, 1, "Ann", 1);
  EXPECT_EQ(table.OpenBlob(4, image.data()), ec::Success);
  EXPECT_EQ(table.OpenBlob(4, image.data()), ec::Success);  // already open: one handle
  EXPECT_EQ(table.BlobFile().OpenBlobCount(), 1);
  const std::string text = "a memo of some length";
  EXPECT_EQ(table.WriteBlob(4, image.data(), 0, static_cast<std::int32_t>(text.size()), text.data()), ec::Success);
  table.InsertRecord(image.data());
  EXPECT_EQ(table.CloseBlob(4, image.data()), ec::Success);
  EXPECT_EQ(table.BlobFile().OpenBlobCount(), 0);

  ASSERT_TRUE(FindId(table, 1));
  std::vector<std::uint8_t> current(table.RecordSize());
  table.GetCurrent(current.data(), false);
  std::int32_t size = 0;
  EXPECT_EQ(table.BlobSize(4, current.data(), size), ec::InvalidBlobHandle);  // not opened
  EXPECT_EQ(table.BlobSize(3, current.data(), size), ec::InvalidBlobField);   // an integer field
  EXPECT_EQ(table.BlobSize(9, current.data(), size), ec::InvalidFieldNumber);
  const std::int32_t stored = table.GetBlobReference(4, current.data());
  ASSERT_GT(stored, 0);
  ASSERT_EQ(table.OpenBlob(4, current.data()), ec::Success);
  EXPECT_TRUE(table.BlobIsOpen(4, current.data()));
  EXPECT_EQ(table.BlobSize(4, current.data(), size), ec::Success);
  EXPECT_EQ(size, static_cast<std::int32_t>(text.size()));
  std::string back(text.size() + 5, '\0');
  std::int32_t read = 0;
  EXPECT_EQ(table.ReadBlob(4, current.data(), 0, static_cast<std::int32_t>(back.size()), back.data(), read),
            ec::EndOfBlob);
  EXPECT_EQ(std::string(back.data(), static_cast<std::size_t>(read)), text);
  EXPECT_EQ(table.CloseBlob(4, current.data()), ec::Success);
  EXPECT_EQ(table.GetBlobReference(4, current.data()), stored);  // unchanged: the same offset

  // Copies need blob fields on both sides.
  testing::CreateTableAt(dir.PathOf("PLAIN.DAT"), {Field(1, "ID", ftInteger), Field(4, "N", ftInteger)},
                         {Index("", {1}, true)});
  TDataFile plain;
  plain.SetFileName(dir.PathOf("PLAIN.DAT"));
  plain.Open();
  std::vector<std::uint8_t> plainImage(plain.RecordSize());
  plain.InitRecord(plainImage.data());
  std::vector<std::uint8_t> copy = current;
  EXPECT_EQ(TDataFile::CopyBlob(plain, table, 4, plainImage.data(), copy.data()), ec::InvalidBlobField);
  EXPECT_EQ(TDataFile::CopyBlob(table, plain, 4, copy.data(), plainImage.data()), ec::InvalidBlobField);
  EXPECT_EQ(TDataFile::CloseCopiedBlob(plain, table, 4, plainImage.data(), copy.data(), current.data()),
            ec::InvalidBlobField);
  EXPECT_EQ(table.GetBlobReference(4, copy.data()), stored);  // nothing was opened

  // Emptied and closed, the field is null with reference 0.
  auto fresh = Image(table, 2, "Bob", 2);
  table.OpenBlob(4, fresh.data());
  EXPECT_EQ(table.CloseBlob(4, fresh.data()), ec::Success);
  bool isNull = false;
  table.GetField(4, fresh.data(), isNull, nullptr);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(table.GetBlobReference(4, fresh.data()), 0);
}

TEST_F(RecordOpsTest, StaleBlobHandleNeverReachesTheDisk) {
  TDataFile table, other;
  OpenShared(table);
  OpenShared(other);
  Insert(table, 1, "Ann", 1);
  // A blob open in another cursor of this process: its handle means nothing to this cursor.
  auto foreign = Image(other, 9, "x", 9);
  ASSERT_EQ(other.OpenBlob(4, foreign.data()), ec::Success);
  const std::int32_t foreignHandle = other.GetBlobReference(4, foreign.data());
  ASSERT_LT(foreignHandle, 0);
  for (const std::int32_t reference : {-12345, std::numeric_limits<std::int32_t>::min(), foreignHandle}) {
    auto image = Image(table, 2, "Bob", 2);
    table.SetField(4, image.data(), &reference);
    EXPECT_EQ(CodeOf([&] { table.InsertRecord(image.data()); }), ec::InvalidBlobHandle) << reference;
    ASSERT_TRUE(FindId(table, 1));
    std::vector<std::uint8_t> current(table.RecordSize());
    table.GetCurrent(current.data(), true);
    table.SetField(4, current.data(), &reference);
    EXPECT_EQ(CodeOf([&] { table.UpdateRecord(current.data(), true); }), ec::InvalidBlobHandle) << reference;
    table.UnlockAllRecords();
  }
  EXPECT_EQ(table.PhysicalRecordCount(), 1);
  TDataFile reader;
  OpenShared(reader);
  ASSERT_TRUE(FindId(reader, 1));
  EXPECT_EQ(reader.GetBlobReference(4, reader.CurrentRecordBuffer()), 0);
  EXPECT_EQ(other.CloseBlob(4, foreign.data()), ec::Success);
}

TEST_F(RecordOpsTest, DeletingARecordFreesItsBlobChain) {
  TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.Open();
  auto image = Image(table, 1, "Ann", 1);
  table.OpenBlob(4, image.data());
  const std::string text(2000, 'm');
  table.WriteBlob(4, image.data(), 0, static_cast<std::int32_t>(text.size()), text.data());
  table.InsertRecord(image.data());
  table.CloseBlob(4, image.data());
  const std::int32_t first = table.GetBlobReference(4, table.CurrentRecordBuffer());
  ASSERT_TRUE(FindId(table, 1));
  table.DeleteRecord();
  EXPECT_NE(table.BlobFile().Header().FreeBlockHead, 0u);
  EXPECT_EQ(table.GetBlobReference(4, table.FetchRecord(1)->Buffer()), 0);
  // The next blob reuses the freed blocks instead of growing the file.
  const std::int32_t end = table.BlobFile().Header().EndOffset;
  auto again = Image(table, 2, "Bob", 2);
  table.OpenBlob(4, again.data());
  table.WriteBlob(4, again.data(), 0, 10, text.data());
  table.InsertRecord(again.data());
  EXPECT_EQ(table.BlobFile().Header().EndOffset, end);
  (void)first;
}

}  // namespace
}  // namespace kavrin::engine

namespace kavrin::engine {
namespace {

// Updates on a walk through a range of a secondary index, most changing no key: an exclusive cursor
// must go on exactly as a shared one, which always finds its place again after a change.
std::vector<std::int64_t> UpdateWalk(const std::string& path, bool exclusive) {
  const std::vector<TFieldDescriptor> fields{testing::Field(1, "ID", ftInteger),
                                             testing::Field(2, "Name", ftString, 20),
                                             testing::Field(3, "Note", ftString, 12)};
  testing::CreateTableAt(path, fields, {testing::Index("", {1}, true), testing::Index("Name", {2}, false)});
  TDataFile table;
  table.SetExclusive(exclusive);
  table.SetFileName(path);
  table.Open();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  auto name = [](std::int32_t n) {
    std::array<char, 20> text{};
    std::snprintf(text.data(), text.size(), "N%03d", n);
    return text;
  };
  for (std::int32_t id = 1; id <= 300; ++id) {
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), name(id * 37 % 50).data());
    table.InsertRecord(image.data());
  }
  table.SelectIndex(1);
  std::vector<std::uint8_t> low(image.size()), high(image.size());
  table.InitRecord(low.data());
  table.InitRecord(high.data());
  table.SetField(2, low.data(), name(10).data());
  table.SetField(2, high.data(), name(30).data());
  table.SetRange(false, low.data(), 1, high.data(), 1);
  std::vector<std::int64_t> seen;
  table.GotoBOF();
  for (int step = 0; table.Next(image.data()) == 0 && step < 1000; ++step) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, image.data(), isNull, &id);
    seen.push_back(id);
    table.GetCurrent(image.data(), true);
    std::array<char, 12> note{};
    std::snprintf(note.data(), note.size(), "S%d", step);
    table.SetField(3, image.data(), note.data());
    // Every seventh update moves the record within the range, or out of it.
    if (step % 7 == 3) table.SetField(2, image.data(), name(10 + step % 25).data());
    table.UpdateRecord(image.data(), true);
    seen.push_back(table.IndexFile().PositionInRange());
    table.GetCurrent(image.data(), false);
    table.GetField(1, image.data(), isNull, &id);
    seen.push_back(id);
  }
  table.Close();
  return seen;
}

TEST(UpdateCursorTest, AnExclusiveCursorWalksOnAfterUpdatesAsASharedOneDoes) {
  kavrin::testing::TempDir dir;
  const std::vector<std::int64_t> shared = UpdateWalk(dir.PathOf("S.DAT"), false);
  const std::vector<std::int64_t> exclusive = UpdateWalk(dir.PathOf("E.DAT"), true);
  EXPECT_GT(shared.size(), 60u);
  EXPECT_EQ(exclusive, shared);
}

}  // namespace
}  // namespace kavrin::engine
