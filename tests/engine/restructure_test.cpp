#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "platform/win_file.h"
#include "runtime/format_settings.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using testing::ErrorCodeOf;
using testing::Field;
using testing::Index;

// ID integer (primary), Name string 20 (index ByName), Qty integer, Notes memo.
std::vector<TFieldDescriptor> ItemFields() {
  return {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 20), Field(3, "Qty", ftInteger),
          Field(4, "Notes", ftBlob, 0, fstMemo)};
}
std::vector<TIndexDescriptor> ItemIndexes() { return {Index("", {1}, true), Index("ByName", {2})}; }

struct Item {
  std::int32_t id = 0;
  std::string name;
  std::int32_t qty = 0;
  std::string notes;
  bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Item& item) {
  return out << "{" << item.id << "," << item.name << "," << item.qty << "," << item.notes << "}";
}

// The OnDataLost answers of a caller: each cause noted; the answer to go on or stop, and the moment from
// which the handler stops being asked.
struct LossHandler {
  std::vector<TDataLossCause> causes;
  bool goOn = true;
  std::size_t stopAskingAfter = 0;  // 0: never

  TDataLostEvent Event() {
    return [this](void*, TDataLossCause cause, bool& continueRestructure, bool& stopAsking) {
      causes.push_back(cause);
      continueRestructure = goOn;
      if (stopAskingAfter != 0 && causes.size() >= stopAskingAfter) stopAsking = true;
    };
  }
};

class RestructureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
    runtime::ResetFormatSettings();
    path = dir.PathOf("ITEMS.DAT");
  }
  void TearDown() override {
    platform::SetFileFaultHook(nullptr);
    MemoryFiles().Clear();
    TablePasswords().Clear();
  }

  void Create(std::vector<TFieldDescriptor> fields = ItemFields(),
              std::vector<TIndexDescriptor> indexes = ItemIndexes(), bool inMemory = false) {
    testing::CreateTableAt(path, std::move(fields), std::move(indexes), inMemory);
  }

  void ClearDirectory() {
    std::vector<std::filesystem::path> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) entries.push_back(entry.path());
    for (const auto& entry : entries) std::filesystem::remove(entry);
  }

  void Open(TDataFile& table, bool inMemory = false) {
    table.SetInMemory(inMemory);
    table.SetExclusive(true);
    table.SetFileName(path);
    table.Open();
  }

  // Inserts through the old layout of ItemFields.
  void InsertItems(const std::vector<Item>& items, bool inMemory = false) {
    TDataFile table;
    Open(table, inMemory);
    for (const Item& item : items) {
      std::vector<std::uint8_t> image(table.RecordSize());
      table.InitRecord(image.data());
      table.SetField(1, image.data(), &item.id);
      table.SetField(2, image.data(), item.name.c_str());
      table.SetField(3, image.data(), &item.qty);
      if (!item.notes.empty()) {
        ASSERT_EQ(table.OpenBlob(4, image.data()), 0);
        ASSERT_EQ(table.WriteBlob(4, image.data(), 0, static_cast<std::int32_t>(item.notes.size()), item.notes.data()),
                  0);
      }
      table.InsertRecord(image.data());
      if (!item.notes.empty()) table.CloseBlob(4, image.data());
    }
    table.Close();
  }

  void Restructure(std::vector<TFieldDescriptor> fields, std::vector<TIndexDescriptor> indexes,
                   LossHandler* handler = nullptr, bool inMemory = false, std::uint16_t blockSize = 512,
                   bool encrypted = false, const std::string& password = "") {
    TDataFile table;
    table.SetInMemory(inMemory);
    table.SetExclusive(true);
    table.SetFileName(path);
    if (handler) table.OnDataLost = handler->Event();
    table.RestructureTable(encrypted, password, std::move(indexes), std::move(fields), blockSize, "items");
    EXPECT_FALSE(table.Opened());
  }

  // A field's value as text, "" when null; blobs read whole.
  static std::string Value(TDataFile& table, std::int16_t number, std::uint8_t* image) {
    const TFieldDescriptor* field = table.FindField(number);
    if (!field) return "<none>";
    if (field->Type == ftBlob) {
      if (table.OpenBlob(number, image) != 0) return "<blob error>";
      std::int32_t size = 0;
      table.BlobSize(number, image, size);
      std::string data(static_cast<std::size_t>(size), '\0');
      std::int32_t read = 0;
      table.ReadBlob(number, image, 0, size, data.data(), read);
      table.CloseBlob(number, image);
      return data;
    }
    std::array<std::uint8_t, 256> value{};
    bool isNull = true;
    table.GetField(number, image, isNull, value.data());
    if (isNull) return "";
    switch (field->Type) {
      case ftString: return reinterpret_cast<const char*>(value.data());
      case ftSmallInt:
      case ftBoolean: return std::to_string(LoadI16(value.data()));
      case ftWord: return std::to_string(LoadU16(value.data()));
      case ftBCD: return std::to_string(LoadI64(value.data()));
      case ftFloat: return std::to_string(LoadF64(value.data()));
      default: return std::to_string(LoadI32(value.data()));
    }
  }

  // The records in primary key order, each as its field values by field number.
  std::vector<std::map<std::int16_t, std::string>> Records(bool inMemory = false) {
    TDataFile table;
    Open(table, inMemory);
    std::vector<std::map<std::int16_t, std::string>> records;
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GotoBOF();
    while (table.Next(image.data()) == ec::Success) {
      std::map<std::int16_t, std::string> record;
      for (std::uint16_t i = 1; i <= table.FieldCount(); ++i) {
        TFieldDescriptor field;
        table.FieldDefByIndex(i, field);
        record[field.FieldNumber] = Value(table, field.FieldNumber, image.data());
      }
      record[0] = std::to_string(TDataFile::GetUniqueID(image.data()));
      records.push_back(record);
    }
    return records;
  }

  std::vector<Item> Items(bool inMemory = false) {
    std::vector<Item> items;
    for (auto& record : Records(inMemory)) {
      items.push_back({std::stoi(record[1]), record[2], record[3].empty() ? 0 : std::stoi(record[3]), record[4]});
    }
    return items;
  }

  // Every file of the directory with its size and a hash of its bytes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
      const std::string bytes = ReadWholeFile(entry.path().string());
      files[entry.path().filename().string()] =
          std::to_string(bytes.size()) + "/" + std::to_string(std::hash<std::string>{}(bytes));
    }
    return files;
  }

  std::set<std::string> FileNames() const {
    std::set<std::string> names;
    for (const auto& [name, bytes] : Files()) names.insert(name);
    return names;
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

const std::vector<Item> kThreeItems = {{1, "apple", 10, "red and round"}, {2, "pear", 20, ""}, {3, "plum", 30, "dark"}};

TEST_F(RestructureTest, NamesAndDescriptionsChangeInPlace) {
  Create();
  InsertItems(kThreeItems);
  const std::string before = ReadWholeFile(path);
  auto fields = ItemFields();
  fields[1].Name = "Title";
  fields[2].Description = "how many";
  auto indexes = ItemIndexes();
  indexes[1].Name = "ByTitle";
  Restructure(fields, indexes);

  EXPECT_EQ(FileNames(), (std::set<std::string>{"ITEMS.BLB", "ITEMS.DAT", "ITEMS.IDX"}));
  const std::string after = ReadWholeFile(path);
  const std::size_t records = DataFileHeaderSize + 4 * FieldDescriptorSize;
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(records), before.substr(records)) << "the records are untouched";
  TDataFile table;
  Open(table);
  TFieldDescriptor field;
  table.FieldDefByNumber(2, field);
  EXPECT_EQ(field.Name, "Title");
  table.FieldDefByNumber(3, field);
  EXPECT_EQ(field.Description, "how many");
  EXPECT_EQ(table.GetIndexDef(1).Name, "ByTitle");
  EXPECT_EQ(table.GetDescription(), "items");
  table.SelectIndexByName("ByTitle");
  table.Close();
  EXPECT_EQ(Items(), kThreeItems);
}

TEST_F(RestructureTest, ChecksAndDefaultsTakeTheRebuild) {
  const std::vector<std::pair<const char*, std::function<void(TFieldDescriptor&)>>> changes = {
      {"default", [](TFieldDescriptor& f) { f.Default = "5"; }},
      {"minimum", [](TFieldDescriptor& f) { f.Minimum = "1"; }},
      {"maximum", [](TFieldDescriptor& f) { f.Maximum = "100"; }},
      {"required", [](TFieldDescriptor& f) { f.Required = true; }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    MemoryFiles().Clear();
    ClearDirectory();
    Create();
    InsertItems(kThreeItems);
    auto fields = ItemFields();
    change(fields[2]);
    Restructure(fields, ItemIndexes());
    EXPECT_EQ(FileNames(),
              (std::set<std::string>{"ITEMS.BBK", "ITEMS.BLB", "ITEMS.DAT", "ITEMS.DBK", "ITEMS.IBK", "ITEMS.IDX"}));
    EXPECT_EQ(Items(), kThreeItems);
  }
}

TEST_F(RestructureTest, DroppedFieldAsksOncePerRecordUntilStopAsking) {
  Create();
  std::vector<Item> items;
  for (int i = 1; i <= 5; ++i) items.push_back({i, "n" + std::to_string(i), i * 10, ""});
  InsertItems(items);
  auto fields = ItemFields();
  fields.erase(fields.begin() + 2);  // Qty
  LossHandler handler;
  handler.stopAskingAfter = 3;
  Restructure(fields, ItemIndexes(), &handler);
  EXPECT_EQ(handler.causes, std::vector<TDataLossCause>(3, TDataLossCause::FieldDropped));
  const auto records = Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[4], (std::map<std::int16_t, std::string>{{0, "5"}, {1, "5"}, {2, "n5"}, {3, ""}}));
}

TEST_F(RestructureTest, NewUniqueIndexLeavesLaterDuplicatesOut) {
  Create();
  InsertItems({{1, "a", 7, ""}, {2, "b", 8, ""}, {3, "c", 7, ""}, {4, "d", 9, ""}, {5, "e", 8, ""}});
  auto indexes = ItemIndexes();
  indexes.push_back(Index("ByQty", {3}, true));
  LossHandler handler;
  Restructure(ItemFields(), indexes, &handler);
  EXPECT_EQ(handler.causes, std::vector<TDataLossCause>(2, TDataLossCause::KeyViolation));
  std::vector<std::int32_t> ids;
  for (const Item& item : Items()) ids.push_back(item.id);
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 4}));
}

TEST_F(RestructureTest, RecordsFailingTheNewChecksAreLeftOut) {
  const std::vector<
      std::tuple<const char*, std::function<void(std::vector<TFieldDescriptor>&)>, std::vector<std::int32_t>>>
      cases = {
          {"required name", [](auto& f) { f[1].Required = true; }, {1, 2}},
          {"minimum quantity", [](auto& f) { f[2].Minimum = "15"; }, {2, 3}},
          {"maximum quantity", [](auto& f) { f[2].Maximum = "25"; }, {1, 2}},
      };
  for (const auto& [what, change, kept] : cases) {
    SCOPED_TRACE(what);
    ClearDirectory();
    Create();
    InsertItems({{1, "apple", 10, "x"}, {2, "pear", 20, ""}, {3, "", 30, "z"}});
    auto fields = ItemFields();
    change(fields);
    LossHandler handler;
    Restructure(fields, ItemIndexes(), &handler);
    EXPECT_EQ(handler.causes, std::vector<TDataLossCause>{TDataLossCause::ValidityCheck});
    std::vector<std::int32_t> ids;
    for (const Item& item : Items()) ids.push_back(item.id);
    EXPECT_EQ(ids, kept);
  }
}

TEST_F(RestructureTest, StoppingLeavesTheTableExactlyAsItWas) {
  for (const bool atInsert : {false, true}) {
    SCOPED_TRACE(atInsert ? "key violation" : "dropped field");
    ClearDirectory();
    Create();
    InsertItems({{1, "a", 7, "x"}, {2, "b", 7, "y"}});
    const auto before = Files();
    auto fields = ItemFields();
    auto indexes = ItemIndexes();
    if (atInsert) {
      indexes.push_back(Index("ByQty", {3}, true));
    } else {
      fields.erase(fields.begin() + 2);
    }
    LossHandler handler;
    handler.goOn = false;
    Restructure(fields, indexes, &handler);
    EXPECT_EQ(handler.causes.size(), 1u);
    EXPECT_EQ(Files(), before) << "no temporary table, no backups, not a byte changed";
  }
}

TEST_F(RestructureTest, UniqueIdsAndAutoIncValuesSurviveAndNewRecordsContinue) {
  std::vector<TFieldDescriptor> fields{Field(1, "Key", ftInteger, 0, fstAutoInc), Field(2, "Name", ftString, 10)};
  Create(fields, {Index("", {1}, true)});
  {
    TDataFile table;
    Open(table);
    std::vector<std::uint8_t> image(table.RecordSize());
    for (const char* name : {"a", "b", "c", "d", "e"}) {
      table.InitRecord(image.data());
      table.SetField(2, image.data(), name);
      table.InsertRecord(image.data());
    }
    // Records 2 and 5 go: the last id stays 5 with no record holding it.
    for (std::int32_t key : {2, 5}) {
      table.InitRecord(image.data());
      table.SetField(1, image.data(), &key);
      ASSERT_TRUE(table.FindKey(false, image.data(), nullptr, 0, false, 0));
      table.DeleteRecord();
    }
  }
  fields.push_back(Field(3, "Extra", ftSmallInt));
  Restructure(fields, {Index("", {1}, true)});
  {
    TDataFile table;
    Open(table);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(2, image.data(), "f");
    table.InsertRecord(image.data());
    EXPECT_EQ(table.Header().LastUniqueID, 6);
  }
  std::vector<std::pair<std::string, std::string>> keys;
  for (auto& record : Records()) {
    EXPECT_EQ(record[0], record[1]) << "the AutoInc value is the unique id";
    keys.emplace_back(record[1], record[2]);
  }
  EXPECT_EQ(keys, (std::vector<std::pair<std::string, std::string>>{{"1", "a"}, {"3", "c"}, {"4", "d"}, {"6", "f"}}));
}

TEST_F(RestructureTest, FieldsAreNumberedByPositionAndKeysFollow) {
  Create();
  InsertItems(kThreeItems);
  // Name goes, a field numbered 7 comes in before Qty, and Qty gets an index.
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(7, "Added", ftString, 5),
                                       Field(3, "Qty", ftInteger), Field(4, "Notes", ftBlob, 0, fstMemo)};
  fields[1].Default = "new";
  LossHandler handler;
  Restructure(fields, {Index("", {1}, true), Index("ByQty", {3})}, &handler);
  EXPECT_EQ(handler.causes, std::vector<TDataLossCause>(3, TDataLossCause::FieldDropped));

  TDataFile table;
  Open(table);
  std::vector<std::string> names;
  for (std::uint16_t i = 1; i <= table.FieldCount(); ++i) {
    TFieldDescriptor field;
    table.FieldDefByIndex(i, field);
    EXPECT_EQ(field.FieldNumber, i);
    names.push_back(field.Name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ID", "Added", "Qty", "Notes"}));
  EXPECT_EQ(table.GetKeyFields(0)[0], 1);
  EXPECT_EQ(table.GetKeyFields(1)[0], 3);
  table.Close();
  const auto records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].at(2), "new");
  EXPECT_EQ(records[0].at(3), "10");
  EXPECT_EQ(records[0].at(4), "red and round");
  EXPECT_EQ(records[2].at(3), "30");
}

TEST_F(RestructureTest, ConvertedValuesAndTheLossesTheyReport) {
  struct Case {
    const char* what;
    TFieldDescriptor oldField;
    std::function<void(TDataFile&, std::uint8_t*)> set;
    TFieldDescriptor newField;
    std::string stored;  // as Value() shows it
    std::size_t losses;
  };
  auto withSize = [](TFieldDescriptor f, std::uint8_t size) {
    f.Size = size;
    return f;
  };
  auto setInt = [](std::int32_t v) { return [v](TDataFile& t, std::uint8_t* image) { t.SetField(2, image, &v); }; };
  auto setText = [](std::string v) {
    return [v](TDataFile& t, std::uint8_t* image) { t.SetField(2, image, v.c_str()); };
  };
  auto setBlob = [](std::string v) {
    return [v](TDataFile& t, std::uint8_t* image) {
      t.OpenBlob(2, image);
      t.WriteBlob(2, image, 0, static_cast<std::int32_t>(v.size()), v.data());
    };
  };
  const Case cases[] = {
      {"integer 70000 to smallint", Field(2, "V", ftInteger), setInt(70000), Field(2, "V", ftSmallInt), "4464", 1},
      {"integer to smallint", Field(2, "V", ftInteger), setInt(-12), Field(2, "V", ftSmallInt), "-12", 0},
      {"date to integer", Field(2, "V", ftDate), setInt(737784), Field(2, "V", ftInteger), "0", 1},
      {"string cut", Field(2, "V", ftString, 20), setText("abcdefghijklmnopqrst"),
       withSize(Field(2, "V", ftString), 10), "abcdefghij", 1},
      {"string letters to integer", Field(2, "V", ftString, 20), setText("abc"), Field(2, "V", ftInteger), "0", 1},
      {"string number to float", Field(2, "V", ftString, 20), setText("2.5"), Field(2, "V", ftFloat), "2.500000", 0},
      {"memo to string", Field(2, "V", ftBlob, 0, fstMemo), setBlob("long text"), withSize(Field(2, "V", ftString), 10),
       "", 1},
      {"empty memo to string", Field(2, "V", ftBlob, 0, fstMemo), setBlob(""), withSize(Field(2, "V", ftString), 10),
       "", 0},
      {"memo to memo", Field(2, "V", ftBlob, 0, fstMemo), setBlob("kept"), Field(2, "V", ftBlob, 0, fstBinary), "kept",
       0},
      {"string to memo", Field(2, "V", ftString, 20), setText("text"), Field(2, "V", ftBlob, 0, fstMemo), "", 1},
      {"null is not converted", Field(2, "V", ftDate), [](TDataFile&, std::uint8_t*) {}, Field(2, "V", ftInteger), "",
       0},
      {"integer into an AutoInc field holding another value", Field(2, "V", ftInteger), setInt(77),
       Field(2, "V", ftInteger, 0, fstAutoInc), "1", 1},
      {"integer into an AutoInc field holding the id", Field(2, "V", ftInteger), setInt(1),
       Field(2, "V", ftInteger, 0, fstAutoInc), "1", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFiles().Clear();
    ClearDirectory();
    Create({Field(1, "ID", ftInteger), c.oldField}, {Index("", {1}, true)});
    {
      TDataFile table;
      Open(table);
      std::vector<std::uint8_t> image(table.RecordSize());
      table.InitRecord(image.data());
      const std::int32_t id = 1;
      table.SetField(1, image.data(), &id);
      c.set(table, image.data());
      table.InsertRecord(image.data());
    }
    LossHandler handler;
    Restructure({Field(1, "ID", ftInteger), c.newField}, {Index("", {1}, true)}, &handler);
    EXPECT_EQ(handler.causes, std::vector<TDataLossCause>(c.losses, TDataLossCause::Conversion));
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].at(2), c.stored);
  }
}

TEST_F(RestructureTest, BlobsAndIdsSurviveANewBlockSize) {
  Create();
  const std::string longNotes(3000, 'q');
  InsertItems({{1, "a", 1, longNotes}, {2, "b", 2, ""}, {3, "c", 3, "short"}});
  Restructure(ItemFields(), ItemIndexes(), nullptr, false, 128);
  TDataFile table;
  Open(table);
  EXPECT_EQ(table.BlobBlockSize(), 128);
  table.Close();
  EXPECT_EQ(Items(), (std::vector<Item>{{1, "a", 1, longNotes}, {2, "b", 2, ""}, {3, "c", 3, "short"}}));
}

TEST_F(RestructureTest, ProgressCountsEverySlot) {
  Create();
  InsertItems({{1, "a", 1, ""}, {2, "b", 2, ""}, {3, "c", 3, ""}, {4, "d", 4, ""}});
  {
    TDataFile table;
    Open(table);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    const std::int32_t id = 2;
    table.SetField(1, image.data(), &id);
    ASSERT_TRUE(table.FindKey(false, image.data(), nullptr, 0, false, 0));
    table.DeleteRecord();
  }
  int owner = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> progress;
  TDataFile table(&owner);
  table.SetExclusive(true);
  table.SetFileName(path);
  table.OnRestructureProgress = [&](void* sender, std::int32_t current, std::int32_t percent) {
    EXPECT_EQ(sender, &owner);
    progress.emplace_back(current, percent);
  };
  auto fields = ItemFields();
  fields[2].Required = true;
  table.RestructureTable(false, "", ItemIndexes(), fields, 512, "");
  EXPECT_EQ(progress, (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 25}, {2, 50}, {3, 75}, {4, 100}}));
}

TEST_F(RestructureTest, RefusesBeforeAnythingIsMade) {
  Create();
  InsertItems(kThreeItems);
  const auto before = Files();
  auto run = [&](const std::function<void(TDataFile&)>& prepare, std::vector<TFieldDescriptor> fields,
                 std::vector<TIndexDescriptor> indexes = ItemIndexes()) {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    prepare(table);
    return ErrorCodeOf([&] { table.RestructureTable(false, "", indexes, fields, 512, ""); });
  };
  auto bigger = ItemFields();
  bigger[1].Size = 30;
  auto clash = ItemFields();
  clash[2].Name = " name ";
  EXPECT_EQ(run([](TDataFile& t) { t.SetExclusive(false); }, bigger), ec::MustBeExclusive);
  EXPECT_EQ(run([](TDataFile& t) { t.SetReadOnly(true); }, bigger), ec::AccessDenied);
  EXPECT_EQ(run([](TDataFile&) {}, clash), ec::InvalidFieldName);
  // Renaming an index alone changes it in place, with the checks its creation makes.
  auto sameName = ItemIndexes();
  sameName.push_back(Index("byname", {3}));
  auto renamed = ItemIndexes();
  renamed[1].Name = " ";
  EXPECT_EQ(run([](TDataFile&) {}, ItemFields(), renamed), ec::IndexNameMissing);
  EXPECT_EQ(run([](TDataFile&) {}, bigger, sameName), ec::IndexExists) << "refused by the new table's creation";
  std::filesystem::permissions(dir.PathOf("ITEMS.IDX"), std::filesystem::perms::owner_read);
  EXPECT_EQ(run([](TDataFile&) {}, bigger), ec::AccessDenied) << "a file read-only on disk";
  std::filesystem::permissions(dir.PathOf("ITEMS.IDX"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(Files(), before);
  EXPECT_EQ(run([](TDataFile& t) { t.Open(); }, bigger), ec::FileInUse);
}

TEST_F(RestructureTest, AFailedRenameIsUndoneAndTheTemporaryTableGoes) {
  struct Case {
    const char* what;
    const char* failingMove;  // the end of the name whose move fails
  };
  // The new data file is the last to take its name: every earlier move must be undone.
  const Case cases[] = {
      {"the new data file", ".DAT"},
      {"the new index file", ".IDX"},
      {"the old data file to its backup", "ITEMS.DAT"},
      {"the old blob file, the first move", "ITEMS.BLB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearDirectory();
    Create();
    InsertItems(kThreeItems);
    const auto before = Files();
    auto fields = ItemFields();
    fields[1].Size = 30;
    const std::string failing = c.failingMove;
    platform::SetFileFaultHook([failing](platform::FileOp op, const std::string& name) -> platform::DWORD {
      const bool temporary = name.find("TMP") != std::string::npos;
      const bool hit =
          failing.starts_with("ITEMS") ? name.ends_with("/" + failing) : temporary && name.ends_with(failing);
      return op == platform::FileOp::Move && hit ? platform::ERROR_ACCESS_DENIED : 0;
    });
    EXPECT_EQ(ErrorCodeOf([&] { Restructure(fields, ItemIndexes()); }), ec::UnknownError);
    platform::SetFileFaultHook(nullptr);
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(Items(), kThreeItems);
  }
}

TEST_F(RestructureTest, AnEngineErrorEndsTheCopyAndTheTemporaryTableGoes) {
  Create();
  InsertItems({{1, "a", 1, std::string(600, 'x')}, {2, "b", 2, "y"}});
  // Record 1's blob now names a first block past the end of the blob file.
  std::string bytes = ReadWholeFile(path);
  TDataFile probe;
  Open(probe);
  const std::size_t slot = static_cast<std::size_t>(probe.RecordPosition(1)) + probe.FindField(4)->SlotOffset + 1;
  probe.Close();
  StoreI32(reinterpret_cast<std::uint8_t*>(bytes.data()) + slot, 1 << 20);
  kavrin::testing::WriteWholeFile(path, bytes);
  const auto before = Files();
  auto fields = ItemFields();
  fields[1].Size = 30;
  EXPECT_NE(ErrorCodeOf([&] { Restructure(fields, ItemIndexes()); }), 0);
  EXPECT_EQ(Files(), before);

  // In memory the temporary table goes as well.
  path = "/mem/ITEMS.DAT";
  Create(ItemFields(), ItemIndexes(), true);
  InsertItems({{1, "a", 1, std::string(600, 'x')}, {2, "b", 2, "y"}}, true);
  {
    TDataFile table;
    Open(table, true);
    const std::int64_t at = table.RecordPosition(1) + table.FindField(4)->SlotOffset + 1;
    table.Close();
    std::uint8_t far[4];
    StoreI32(far, 1 << 20);
    TMemoryFile* file = MemoryFiles().Find(path);
    file->Seek(at, 0);
    file->Write(far, 4);
  }
  const std::size_t files = MemoryFiles().Count();
  const std::vector<std::uint8_t> data = MemoryFiles().Find(path)->Data();
  EXPECT_NE(ErrorCodeOf([&] { Restructure(fields, ItemIndexes(), nullptr, true); }), 0);
  EXPECT_EQ(MemoryFiles().Count(), files);
  EXPECT_EQ(MemoryFiles().Find(path)->Data(), data);
}

TEST_F(RestructureTest, InMemoryTheRestructuredTableTakesTheName) {
  path = "/mem/ITEMS.DAT";
  Create(ItemFields(), ItemIndexes(), true);
  InsertItems(kThreeItems, true);
  const std::size_t files = MemoryFiles().Count();
  {
    // A stopped rebuild leaves no temporary table in memory either.
    auto dropped = ItemFields();
    dropped.erase(dropped.begin() + 2);
    LossHandler stop;
    stop.goOn = false;
    Restructure(dropped, ItemIndexes(), &stop, true);
    EXPECT_EQ(MemoryFiles().Count(), files);
    EXPECT_EQ(Items(true), kThreeItems);
  }
  auto fields = ItemFields();
  fields.push_back(Field(5, "Price", ftBCD));
  fields[4].Default = "1.5";
  fields[4].Decimals = 2;
  Restructure(fields, ItemIndexes(), nullptr, true);
  EXPECT_EQ(MemoryFiles().Count(), files) << "no old or temporary files remain";
  const auto records = Records(true);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].at(5), "1502");
  EXPECT_EQ(records[0].at(4), "red and round");
}

TEST_F(RestructureTest, EncryptedTableGetsItsNewPasswordForTheRebuildOnly) {
  TablePasswords().Add("old secret");
  testing::CreateTableAt(path, ItemFields(), ItemIndexes(), false, "old secret");
  InsertItems(kThreeItems);
  auto fields = ItemFields();
  fields[2].Type = ftSmallInt;
  Restructure(fields, ItemIndexes(), nullptr, false, 512, true, "new secret");
  EXPECT_FALSE(TablePasswords().Contains("new secret"));
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  EXPECT_EQ(ErrorCodeOf([&] { table.Open(); }), ec::PasswordRequired);
  TablePasswords().Add("new secret");
  EXPECT_EQ(Items(), kThreeItems);
}

TEST_F(RestructureTest, NewPasswordAloneChangesInPlace) {
  TablePasswords().Add("old secret");
  testing::CreateTableAt(path, ItemFields(), ItemIndexes(), false, "old secret");
  InsertItems(kThreeItems);
  const std::size_t records = DataFileHeaderSize + 4 * FieldDescriptorSize;
  const std::string before = ReadWholeFile(path).substr(records);
  Restructure(ItemFields(), ItemIndexes(), nullptr, false, 512, true, "new secret");
  EXPECT_EQ(FileNames(), (std::set<std::string>{"ITEMS.BLB", "ITEMS.DAT", "ITEMS.IDX"}));
  EXPECT_EQ(ReadWholeFile(path).substr(records), before);
  TablePasswords().Clear();
  TablePasswords().Add("new secret");
  EXPECT_EQ(Items(), kThreeItems);
  TDataFile table;
  Open(table);
  EXPECT_EQ(table.GetPassword(), "new secret");
}

TEST_F(RestructureTest, AnInterruptedSwitchIsUndone) {
  struct Case {
    const char* what;
    // Moves files of a table restructured once (old in the backups) into the state a crash leaves.
    std::function<void()> crash;
  };
  auto move = [this](const char* from, const char* to) { std::filesystem::rename(dir.PathOf(from), dir.PathOf(to)); };
  const Case cases[] = {
      {"old index and blob file gone to their backups, old data file not yet",
       [&] {
         move("ITEMS.DAT", "TMP5.DAT");
         move("ITEMS.IDX", "TMP5.IDX");
         move("ITEMS.BLB", "TMP5.BLB");
         move("ITEMS.DBK", "ITEMS.DAT");
       }},
      {"old files all backups, new index and blob file in place, new data file not yet",
       [&] { move("ITEMS.DAT", "TMP5.DAT"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearDirectory();
    Create();
    InsertItems(kThreeItems);
    auto fields = ItemFields();
    fields.push_back(Field(5, "Extra", ftInteger));
    Restructure(fields, ItemIndexes());
    c.crash();
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    table.UndoInterruptedRestructure();
    table.Open();
    EXPECT_EQ(table.FieldCount(), 4) << "the old table is back";
    table.Close();
    EXPECT_EQ(Items(), kThreeItems);
    table.UndoInterruptedRestructure();  // nothing left to undo
    EXPECT_EQ(Items(), kThreeItems);
  }
}

TEST(DefinitionChanges, WhatCountsAsAChange) {
  const TFieldDescriptor base = Field(3, "Qty", ftInteger);
  const std::vector<std::pair<const char*, std::function<void(TFieldDescriptor&)>>> fieldCases = {
      {"number", [](TFieldDescriptor& f) { f.FieldNumber = 4; }},
      {"type", [](TFieldDescriptor& f) { f.Type = ftSmallInt; }},
      {"subtype", [](TFieldDescriptor& f) { f.Subtype = fstAutoInc; }},
      {"decimals", [](TFieldDescriptor& f) { f.Decimals = 2; }},
      {"default", [](TFieldDescriptor& f) { f.Default = "1"; }},
      {"minimum", [](TFieldDescriptor& f) { f.Minimum = "1"; }},
      {"maximum", [](TFieldDescriptor& f) { f.Maximum = "1"; }},
      {"required", [](TFieldDescriptor& f) { f.Required = true; }},
  };
  for (const auto& [what, change] : fieldCases) {
    TFieldDescriptor changed = base;
    change(changed);
    EXPECT_TRUE(TDataFile::FieldDefChanged(base, changed)) << what;
  }
  TFieldDescriptor renamed = base;
  renamed.Name = "Count";
  renamed.Description = "pieces";
  EXPECT_FALSE(TDataFile::FieldDefChanged(base, renamed));
  EXPECT_TRUE(TDataFile::FieldDefChanged(Field(1, "S", ftString, 10), Field(1, "S", ftString, 11)));

  const std::vector<TFieldDescriptor> fields{Field(1, "A", ftInteger), Field(2, "B", ftString, 10)};
  std::vector<TFieldDescriptor> widened = fields;
  widened[1].Size = 12;
  TIndexDescriptor index = Index("ByB", {2});
  index.KeyLength = 16;
  index.KeyFieldCount = 1;
  TIndexDescriptor renamedIndex = index;
  renamedIndex.Name = "Other";
  EXPECT_FALSE(TDataFile::IndexDefChanged(index, renamedIndex, fields, fields));
  EXPECT_TRUE(TDataFile::IndexDefChanged(index, index, fields, widened)) << "a key field's definition changed";
  TIndexDescriptor unique = index;
  unique.Unique = 1;
  EXPECT_TRUE(TDataFile::IndexDefChanged(index, unique, fields, fields));
  TIndexDescriptor otherField = index;
  otherField.KeyFields[0] = 1;
  EXPECT_TRUE(TDataFile::IndexDefChanged(index, otherField, fields, fields));

  TFieldDescriptor found;
  TDataFile::FindFieldDef(2, fields, found);
  EXPECT_EQ(found.Name, "B");
  EXPECT_EQ(ErrorCodeOf([&] { TDataFile::FindFieldDef(9, fields, found); }), ec::InvalidFieldNumber);
  EXPECT_EQ(found.FieldNumber, 0);
}

}  // namespace
}  // namespace kavrin::engine
