#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using kavrin::testing::WriteWholeFile;
using testing::ErrorCodeOf;
using testing::Field;
using testing::Index;

// Data file header fields this test damages.
constexpr std::size_t kRecordSizeAt = 21;
constexpr std::size_t kBlobCountAt = 25;
constexpr std::size_t kSlotOffsetAt = 88;  // within a field descriptor
// Blob block header fields.
constexpr std::size_t kNextAt = 4;

// A value as the test gives and reads it: integers and strings; blobs as their text.
using Values = std::map<std::int16_t, std::string>;

class RepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
    path = dir.PathOf("STOCK.DAT");
  }
  void TearDown() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
  }

  std::string FileOf(const char* extension) const { return dir.PathOf(std::string("STOCK") + extension); }

  void Create(std::vector<TFieldDescriptor> fields, std::vector<TIndexDescriptor> indexes,
              std::uint16_t blockSize = 512, const std::string& password = "") {
    testing::CreateTableAt(path, std::move(fields), std::move(indexes), false, password, blockSize);
  }

  void ClearDirectory() {
    std::vector<std::filesystem::path> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) entries.push_back(entry.path());
    for (const auto& entry : entries) std::filesystem::remove(entry);
  }

  void Open(TDataFile& table) {
    table.SetExclusive(true);
    table.SetFileName(path);
    table.Open();
  }

  // Inserts records with the values given by field number: text for strings and blobs, numbers else.
  void Insert(const std::vector<Values>& records) {
    TDataFile table;
    Open(table);
    for (const Values& values : records) {
      std::vector<std::uint8_t> image(table.RecordSize());
      table.InitRecord(image.data());
      for (const auto& [number, text] : values) {
        const TFieldDescriptor* field = table.FindField(number);
        ASSERT_NE(field, nullptr);
        if (field->Type == ftString) {
          table.SetField(number, image.data(), text.c_str());
        } else if (field->Type == ftBlob) {
          ASSERT_EQ(table.OpenBlob(number, image.data()), 0);
          ASSERT_EQ(table.WriteBlob(number, image.data(), 0, static_cast<std::int32_t>(text.size()), text.data()), 0);
        } else {
          const std::int32_t v = std::stoi(text);
          table.SetField(number, image.data(), &v);
        }
      }
      table.InsertRecord(image.data());
    }
  }

  static std::string Text(TDataFile& table, std::int16_t number, std::uint8_t* image) {
    const TFieldDescriptor* field = table.FindField(number);
    if (field->Type == ftBlob) {
      // A damaged chain raises as it is loaded.
      try {
        if (table.OpenBlob(number, image) != 0) return "<blob error>";
      } catch (const EDBEngineError&) {
        return "<blob error>";
      }
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
    if (field->Type == ftString) return reinterpret_cast<const char*>(value.data());
    if (field->Type == ftSmallInt) return std::to_string(LoadI16(value.data()));
    return std::to_string(LoadI32(value.data()));
  }

  // The live records in primary key order, each with its unique id under field number 0.
  std::vector<Values> Records() {
    TDataFile table;
    Open(table);
    std::vector<Values> records;
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GotoBOF();
    while (table.Next(image.data()) == ec::Success) {
      Values values{{0, std::to_string(TDataFile::GetUniqueID(image.data()))}};
      for (std::uint16_t i = 1; i <= table.FieldCount(); ++i) {
        TFieldDescriptor field;
        table.FieldDefByIndex(i, field);
        values[field.FieldNumber] = Text(table, field.FieldNumber, image.data());
      }
      records.push_back(values);
    }
    return records;
  }

  // Where record n begins in the data file.
  std::size_t RecordAt(std::int32_t n) {
    TDataFile table;
    Open(table);
    return static_cast<std::size_t>(table.RecordPosition(n));
  }
  std::uint16_t SlotOf(std::int16_t number) {
    TDataFile table;
    Open(table);
    return table.FindField(number)->SlotOffset;
  }

  static void Patch(const std::string& file, std::size_t offset, const std::vector<std::uint8_t>& bytes) {
    std::string content = ReadWholeFile(file);
    ASSERT_LE(offset + bytes.size(), content.size());
    std::memcpy(content.data() + offset, bytes.data(), bytes.size());
    WriteWholeFile(file, content);
  }
  static void PatchI32(const std::string& file, std::size_t offset, std::int32_t v) {
    std::vector<std::uint8_t> bytes(4);
    StoreI32(bytes.data(), v);
    Patch(file, offset, bytes);
  }
  static void PatchU16(const std::string& file, std::size_t offset, std::uint16_t v) {
    std::vector<std::uint8_t> bytes(2);
    StoreU16(bytes.data(), v);
    Patch(file, offset, bytes);
  }
  static std::int32_t ReadI32(const std::string& file, std::size_t offset) {
    const std::string content = ReadWholeFile(file);
    return LoadI32(reinterpret_cast<const std::uint8_t*>(content.data()) + offset);
  }

  void Repair() {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    table.RepairTable();
    EXPECT_FALSE(table.Opened());
  }

  // The table's files without what every repair sets anew: change counters and the last update time.
  std::string Snapshot() const {
    std::string data = ReadWholeFile(path);
    std::fill_n(data.begin(), 4, '\0');
    std::fill_n(data.begin() + 27, 8, '\0');
    std::string result = data;
    for (const char* extension : {".IDX", ".BLB"}) {
      if (!std::filesystem::exists(FileOf(extension))) continue;
      std::string bytes = ReadWholeFile(FileOf(extension));
      std::fill_n(bytes.begin(), 4, '\0');
      result += bytes;
    }
    return result;
  }

  // Every index holds exactly the live records of a scan of the record slots.
  void ExpectIndexesMatchScan() {
    TDataFile table;
    Open(table);
    std::vector<std::int32_t> scanned;
    for (std::int32_t n = 1; n <= table.PhysicalRecordCount(); ++n) {
      const TRecord* record = table.FetchRecord(n);
      if (!record->Deleted()) scanned.push_back(record->UniqueID());
    }
    std::sort(scanned.begin(), scanned.end());
    for (std::uint8_t index = 0; index <= table.IndexCount(); ++index) {
      table.SelectIndex(index);
      std::vector<std::int32_t> walked;
      std::vector<std::uint8_t> image(table.RecordSize());
      table.GotoBOF();
      while (table.Next(image.data()) == ec::Success) walked.push_back(TDataFile::GetUniqueID(image.data()));
      std::sort(walked.begin(), walked.end());
      EXPECT_EQ(walked, scanned) << "index " << int(index);
    }
  }

  // Repair ends, the indexes agree with the records, and a second repair changes nothing.
  void RepairTwice() {
    Repair();
    const std::string once = Snapshot();
    ExpectIndexesMatchScan();
    Repair();
    EXPECT_TRUE(Snapshot() == once) << "a second repair changed the files";
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

// ID integer, Name string 31, Qty smallint: 9 + 5 + 33 + 3 = 50 bytes a record.
std::vector<TFieldDescriptor> FiftyByteFields() {
  return {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 31), Field(3, "Qty", ftSmallInt)};
}

TEST_F(RepairTest, HalfRecordAtTheEndIsCutOff) {
  for (const std::string password : {"", "secret"}) {
    SCOPED_TRACE(password.empty() ? "plain" : "with a password");
    ClearDirectory();
    if (!password.empty()) TablePasswords().Add(password);
    Create(FiftyByteFields(), {Index("", {1}, true), Index("ByName", {2})}, 512, password);
    Insert({{{1, "1"}, {2, "one"}}, {{1, "2"}, {2, "two"}}, {{1, "3"}, {2, "three"}}, {{1, "4"}, {2, "four"}}});
    WriteWholeFile(path, ReadWholeFile(path) + std::string(10, '\x5A'));
    RepairTwice();
    EXPECT_EQ(ReadWholeFile(path).size(), 127u + 3 * 265 + 4 * 50);
    TDataFile table;
    Open(table);
    EXPECT_EQ(table.PhysicalRecordCount(), 4);
    table.Close();
    const auto records = Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3].at(2), "four");
  }
}

TEST_F(RepairTest, LaterDuplicateKeysAreGivenUpWithoutLeavingKeys) {
  Create({Field(1, "ID", ftInteger), Field(2, "Code", ftInteger), Field(3, "Name", ftString, 10)},
         {Index("", {1}, true), Index("ByCode", {2}, true), Index("ByName", {3})});
  Insert({{{1, "1"}, {2, "100"}, {3, "a"}},
          {{1, "2"}, {2, "200"}, {3, "b"}},
          {{1, "3"}, {2, "300"}, {3, "c"}},
          {{1, "4"}, {2, "400"}, {3, "d"}}});
  const std::uint16_t id = SlotOf(1);
  const std::uint16_t code = SlotOf(2);
  PatchI32(path, RecordAt(3) + id + 1, 1);      // the primary key of record 1
  PatchI32(path, RecordAt(4) + code + 1, 200);  // the unique code of record 2
  RepairTwice();
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].at(3), "a");
  EXPECT_EQ(records[1].at(3), "b");
  {
    TDataFile table;
    Open(table);
    EXPECT_TRUE(table.FetchRecord(3)->Deleted());
    EXPECT_TRUE(table.FetchRecord(4)->Deleted());
  }
  // The deleted chain holds the given-up slots: new records take them, the file does not grow.
  Insert({{{1, "5"}, {2, "500"}, {3, "e"}}, {{1, "6"}, {2, "600"}, {3, "f"}}});
  TDataFile table;
  Open(table);
  EXPECT_EQ(table.PhysicalRecordCount(), 4);
  table.Close();
  ExpectIndexesMatchScan();
}

TEST_F(RepairTest, MissingAndDuplicateUniqueIdsGetFreshOnes) {
  Create({Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10)}, {Index("", {1}, true), Index("ByName", {2})});
  Insert({{{1, "1"}, {2, "a"}}, {{1, "2"}, {2, "a"}}, {{1, "3"}, {2, "a"}}, {{1, "4"}, {2, "a"}}});
  PatchI32(path, RecordAt(2) + 5, 0);
  PatchI32(path, RecordAt(3) + 5, 0);
  PatchI32(path, RecordAt(4) + 5, 1);  // a live record with another's id
  RepairTwice();
  std::vector<std::string> ids;
  for (const Values& record : Records()) ids.push_back(record.at(0));
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "5", "6", "7"}));
  TDataFile table;
  Open(table);
  EXPECT_EQ(table.Header().LastUniqueID, 7);
}

class RepairBlobTest : public RepairTest {
 protected:
  // ID integer, Notes memo, blocks of 64 bytes (46 of payload).
  void CreateWithMemos(const std::vector<std::string>& memos) {
    Create({Field(1, "ID", ftInteger), Field(2, "Notes", ftBlob, 0, fstMemo)}, {Index("", {1}, true)}, 64);
    std::vector<Values> records;
    for (std::size_t i = 0; i < memos.size(); ++i) records.push_back({{1, std::to_string(i + 1)}, {2, memos[i]}});
    Insert(records);
  }
  std::int32_t FirstBlockOf(std::int32_t record) { return ReadI32(path, RecordAt(record) + SlotOf(2) + 1); }
  std::string Blob() const { return FileOf(".BLB"); }
};

TEST_F(RepairBlobTest, CyclicChainIsCutWhereItTurnsBack) {
  const std::string memo(120, 'm');  // three blocks: 46 + 46 + 28
  CreateWithMemos({memo, "other"});
  const std::int32_t first = FirstBlockOf(1);
  const std::int32_t second = ReadI32(Blob(), static_cast<std::size_t>(first) + kNextAt);
  PatchI32(Blob(), static_cast<std::size_t>(second) + kNextAt, first);
  ASSERT_EQ(Records()[0].at(2), "<blob error>") << "the fixture must be damaged";
  RepairTwice();
  const auto records = Records();
  EXPECT_EQ(records[0].at(2), memo.substr(0, 92)) << "what the chain still holds";
  EXPECT_EQ(records[1].at(2), "other");
  // The block cut off is free again: a new memo of one block takes it and leaves the others alone.
  const std::size_t size = ReadWholeFile(Blob()).size();
  Insert({{{1, "3"}, {2, "new"}}});
  EXPECT_EQ(ReadWholeFile(Blob()).size(), size);
  const auto after = Records();
  EXPECT_EQ(after[0].at(2), memo.substr(0, 92));
  EXPECT_EQ(after[1].at(2), "other");
  EXPECT_EQ(after[2].at(2), "new");
}

TEST_F(RepairBlobTest, ForeignChainIsDroppedAndTheOwnerKeepsIt) {
  CreateWithMemos({std::string(100, 'a'), std::string(100, 'b'), "c"});
  PatchI32(path, RecordAt(2) + SlotOf(2) + 1, FirstBlockOf(1));
  RepairTwice();
  auto records = Records();
  EXPECT_EQ(records[0].at(2), std::string(100, 'a'));
  EXPECT_EQ(records[1].at(2), "");
  EXPECT_EQ(records[2].at(2), "c");
  // Record 2's own chain was claimed by no live record, so its three blocks are reused.
  const std::size_t size = ReadWholeFile(Blob()).size();
  Insert({{{1, "4"}, {2, std::string(100, 'd')}}});
  EXPECT_EQ(ReadWholeFile(Blob()).size(), size);
  records = Records();
  EXPECT_EQ(records[0].at(2), std::string(100, 'a'));
  EXPECT_EQ(records[3].at(2), std::string(100, 'd'));
}

TEST_F(RepairBlobTest, ARetiredSlotNamingALiveChainNeverFreesIt) {
  struct Case {
    const char* what;
    std::function<void()> damage;
  };
  const Case cases[] = {
      {"a byte copy of record 1 in slot 3: same key, same id, same chain",
       [this] {
         const std::string bytes = ReadWholeFile(path);
         const auto from = static_cast<std::ptrdiff_t>(RecordAt(1));
         const std::vector<std::uint8_t> copy(bytes.begin() + from,
                                              bytes.begin() + static_cast<std::ptrdiff_t>(RecordAt(2)));
         Patch(path, RecordAt(3), copy);
       }},
      {"deleted record 2 naming record 1's chain",
       [this] {
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
         PatchI32(path, RecordAt(2) + SlotOf(2) + 1, FirstBlockOf(1));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearDirectory();
    CreateWithMemos({std::string(100, 'a'), std::string(100, 'b'), "c"});
    c.damage();
    RepairTwice();
    EXPECT_EQ(Records()[0].at(2), std::string(100, 'a'));
    // Were its blocks on the free list, new memos would take them and overwrite it.
    Insert({{{1, "7"}, {2, std::string(100, 'x')}}, {{1, "8"}, {2, std::string(100, 'y')}}});
    const auto records = Records();
    EXPECT_EQ(records[0].at(2), std::string(100, 'a'));
    EXPECT_EQ(records[records.size() - 1].at(2), std::string(100, 'y'));
  }
}

TEST_F(RepairBlobTest, ChainOfADeletedRecordAndDanglingLinksAreFreed) {
  CreateWithMemos({std::string(60, 'a'), std::string(60, 'b')});
  {
    TDataFile table;
    Open(table);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    const std::int32_t id = 1;
    table.SetField(1, image.data(), &id);
    ASSERT_TRUE(table.FindKey(false, image.data(), nullptr, 0, false, 0));
    table.DeleteRecord();
  }
  // Record 2's chain points past the end of the file after its first block.
  const std::int32_t first = FirstBlockOf(2);
  PatchI32(Blob(), static_cast<std::size_t>(first) + kNextAt, 1 << 20);
  RepairTwice();
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].at(2), std::string(46, 'b'));
}

TEST_F(RepairBlobTest, ABlockNotFilledEndsTheChain) {
  const std::string memo(120, 'm');
  CreateWithMemos({memo});
  const std::int32_t second = ReadI32(Blob(), static_cast<std::size_t>(FirstBlockOf(1)) + kNextAt);
  PatchU16(Blob(), static_cast<std::size_t>(second) + 8, 10);  // bytes used
  ASSERT_EQ(Records()[0].at(2), "<blob error>") << "the fixture must be damaged";
  RepairTwice();
  EXPECT_EQ(Records()[0].at(2), memo.substr(0, 56));
}

TEST_F(RepairBlobTest, TwoFieldsNeverShareAChain) {
  Create({Field(1, "ID", ftInteger), Field(2, "Notes", ftBlob, 0, fstMemo), Field(3, "More", ftBlob, 0, fstMemo)},
         {Index("", {1}, true)}, 64);
  Insert({{{1, "1"}, {2, std::string(100, 'n')}, {3, "m"}}});
  PatchI32(path, RecordAt(1) + SlotOf(3) + 1, FirstBlockOf(1));
  RepairTwice();
  EXPECT_EQ(Records()[0].at(2), std::string(100, 'n'));
  EXPECT_EQ(Records()[0].at(3), "");
  // Writing the second field must not touch the chain of the first.
  {
    TDataFile table;
    Open(table);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GotoBOF();
    ASSERT_EQ(table.Next(image.data()), ec::Success);
    ASSERT_EQ(table.GetCurrent(image.data(), true), ec::Success);
    ASSERT_EQ(table.OpenBlob(3, image.data()), 0);
    const std::string text(200, 'z');
    ASSERT_EQ(table.WriteBlob(3, image.data(), 0, static_cast<std::int32_t>(text.size()), text.data()), 0);
    table.UpdateRecord(image.data(), true);
  }
  EXPECT_EQ(Records()[0].at(2), std::string(100, 'n'));
  EXPECT_EQ(Records()[0].at(3), std::string(200, 'z'));
}

TEST_F(RepairTest, FieldNumbersBecomePositionsWithTheirKeys) {
  Create({Field(10, "A", ftInteger), Field(20, "B", ftString, 8), Field(30, "C", ftInteger)},
         {Index("", {10}, true), Index("ByC", {30})});
  Insert({{{10, "3"}, {20, "x"}, {30, "7"}}, {{10, "1"}, {20, "y"}, {30, "9"}}, {{10, "2"}, {20, "z"}, {30, "8"}}});
  RepairTwice();
  TDataFile table;
  Open(table);
  for (std::uint16_t i = 1; i <= 3; ++i) {
    TFieldDescriptor field;
    table.FieldDefByIndex(i, field);
    EXPECT_EQ(field.FieldNumber, i);
  }
  EXPECT_EQ(table.GetKeyFields(0)[0], 1);
  EXPECT_EQ(table.GetKeyFields(1)[0], 3);
  table.SelectIndexByName("ByC");
  std::vector<std::uint8_t> image(table.RecordSize());
  std::string order;
  table.GotoBOF();
  while (table.Next(image.data()) == ec::Success) order += Text(table, 2, image.data());
  EXPECT_EQ(order, "xzy");
  table.Close();
  EXPECT_EQ(Records().size(), 3u);
}

TEST_F(RepairTest, LayoutTheOpenRefusesIsDerivedAgain) {
  Create({Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10), Field(3, "Notes", ftBlob, 0, fstMemo)},
         {Index("", {1}, true)});
  Insert({{{1, "1"}, {2, "a"}, {3, "first"}}, {{1, "2"}, {2, "b"}, {3, "second"}}});
  PatchU16(path, 127 + 265 + kSlotOffsetAt, 200);  // Name's slot
  PatchU16(path, kRecordSizeAt, 999);
  PatchU16(path, kBlobCountAt, 0);
  {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    ASSERT_NE(ErrorCodeOf([&] { table.Open(); }), 0) << "the fixture must be damaged";
  }
  RepairTwice();
  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1], (Values{{0, "2"}, {1, "2"}, {2, "b"}, {3, "second"}}));
}

TEST_F(RepairTest, ProgressForEverySlot) {
  Create(FiftyByteFields(), {Index("", {1}, true)});
  Insert({{{1, "1"}}, {{1, "2"}}, {{1, "3"}}, {{1, "4"}}});
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  std::vector<std::pair<std::int32_t, std::int32_t>> progress;
  table.OnRepairProgress = [&](void* sender, std::int32_t record, std::int32_t percent) {
    EXPECT_EQ(sender, &table);
    progress.emplace_back(record, percent);
  };
  table.RepairTable();
  EXPECT_EQ(progress, (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 25}, {2, 50}, {3, 75}, {4, 100}}));
}

TEST_F(RepairTest, InMemoryNothingHappens) {
  path = "/mem/STOCK.DAT";
  testing::CreateTableAt(path, FiftyByteFields(), {Index("", {1}, true)}, true);
  const std::vector<std::uint8_t> before = MemoryFiles().Find(path)->Data();
  TDataFile table;
  table.SetInMemory(true);
  table.SetExclusive(true);
  table.SetFileName(path);
  bool reported = false;
  table.OnRepairProgress = [&](void*, std::int32_t, std::int32_t) { reported = true; };
  table.RepairTable();
  EXPECT_FALSE(reported);
  EXPECT_EQ(MemoryFiles().Find(path)->Data(), before);
}

TEST_F(RepairTest, RefusedBeforeAnythingIsCut) {
  Create(FiftyByteFields(), {Index("", {1}, true)});
  Insert({{{1, "1"}}});
  WriteWholeFile(path, ReadWholeFile(path) + "half");
  const std::size_t size = ReadWholeFile(path).size();
  auto code = [&](const std::function<void(TDataFile&)>& prepare) {
    TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(path);
    prepare(table);
    return ErrorCodeOf([&] { table.RepairTable(); });
  };
  EXPECT_EQ(code([](TDataFile& t) { t.SetExclusive(false); }), ec::MustBeExclusive);
  EXPECT_EQ(code([](TDataFile& t) { t.SetReadOnly(true); }), ec::AccessDenied);
  for (const char* extension : {".IDX", ".DAT"}) {
    SCOPED_TRACE(extension);
    std::filesystem::permissions(FileOf(extension), std::filesystem::perms::owner_read);
    EXPECT_EQ(code([](TDataFile&) {}), ec::AccessDenied);
    std::filesystem::permissions(FileOf(extension),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  EXPECT_EQ(ReadWholeFile(path).size(), size);
  EXPECT_EQ(code([](TDataFile& t) { t.Open(); }), ec::FileInUse);
}

}  // namespace
}  // namespace kavrin::engine
