// Tables damaged by hand: a change that meets the damage fails with an engine error, and neither the
// failure nor the damage costs the data that is still sound.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
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

std::uint32_t GetLE(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(at + i))) << (8 * i);
  }
  return value;
}
void PutLE(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Index file header: descriptor n at 14 + 76 n, its root at +68 and free-chain head at +72; the record
// count at 2522. Blob file header: free-list head at 9; a block's next link at +4.
std::size_t RootAt(int index) { return 14 + 76 * static_cast<std::size_t>(index) + 68; }
std::size_t FreeChainAt(int index) { return 14 + 76 * static_cast<std::size_t>(index) + 72; }
constexpr std::size_t kRecordCountAt = 2522;
constexpr std::size_t kFreeBlockHeadAt = 9;

// ID integer (primary), Name string 200 (the unique secondary index ByName, five keys to a leaf),
// Memo blob of 512-byte blocks.
class DamagedTablesTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    path = dir.PathOf("T.DAT");
    testing::CreateTableAt(
        path, {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 200), Field(3, "Memo", ftBlob, 0, fstMemo)},
        {Index("", {1}, true), Index("ByName", {2}, true)});
  }
  bool Exclusive() const { return GetParam(); }
  std::string Idx() const { return dir.PathOf("T.IDX"); }
  std::string Blb() const { return dir.PathOf("T.BLB"); }

  void Open(TDataFile& table) {
    table.SetExclusive(Exclusive());
    table.SetFileName(path);
    table.Open();
  }
  static std::string NameFor(std::int32_t id) {
    return std::string(1, static_cast<char>('A' + id % 26)) + std::to_string(id);
  }
  static std::string MemoFor(std::int32_t id, std::size_t length) {
    return std::string(length, static_cast<char>('a' + id % 26));
  }

  static void Insert(TDataFile& table, std::int32_t id, std::size_t memoLength) {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), NameFor(id).c_str());
    if (memoLength > 0) {
      const std::string memo = MemoFor(id, memoLength);
      ASSERT_EQ(table.OpenBlob(3, image.data()), ec::Success);
      ASSERT_EQ(table.WriteBlob(3, image.data(), 0, static_cast<std::int32_t>(memo.size()), memo.data()), ec::Success);
    }
    table.InsertRecord(image.data());
    if (memoLength > 0) table.CloseBlob(3, image.data());
  }
  static bool Find(TDataFile& table, std::int32_t id) {
    table.SelectIndex(0);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    return table.FindKey(false, image.data(), nullptr, 0, false, 0);
  }
  // The current record's memo, read whole.
  static std::string Memo(TDataFile& table) {
    std::vector<std::uint8_t> image(table.RecordSize());
    if (table.GetCurrent(image.data(), false) != ec::Success) return "<no record>";
    if (table.OpenBlob(3, image.data()) != ec::Success) return "<no blob>";
    std::int32_t size = 0;
    table.BlobSize(3, image.data(), size);
    std::string memo(static_cast<std::size_t>(size), '\0');
    std::int32_t read = 0;
    table.ReadBlob(3, image.data(), 0, size, memo.data(), read);
    table.CloseBlob(3, image.data());
    return memo;
  }
  // The ids in the order of an index (ByName sorts them as the primary index does).
  static std::vector<std::int32_t> Ids(TDataFile& table, std::uint8_t index = 0) {
    std::vector<std::int32_t> ids;
    std::vector<std::uint8_t> image(table.RecordSize());
    table.SelectIndex(index);
    table.GotoBOF();
    while (table.Next(image.data()) == ec::Success) {
      std::int32_t id = 0;
      bool isNull = true;
      table.GetField(1, image.data(), isNull, &id);
      ids.push_back(id);
    }
    return ids;
  }
  // The first block of the record's memo, from the data file.
  static std::int32_t FirstBlockOf(TDataFile& table, std::int32_t id) {
    if (!Find(table, id)) return 0;
    return table.GetBlobReference(3, table.CurrentRecordBuffer());
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

TEST_P(DamagedTablesTest, AFailedDeleteLeavesTheRecordCount) {
  std::int32_t first = 0;
  {
    TDataFile table;
    Open(table);
    Insert(table, 1, 1000);  // three blocks
    Insert(table, 2, 10);
    first = FirstBlockOf(table, 1);
  }
  std::string blobs = ReadWholeFile(Blb());
  PutLE(blobs, static_cast<std::size_t>(first) + 4, 100);  // a next link that is no block
  WriteWholeFile(Blb(), blobs);

  TDataFile table;
  Open(table);
  ASSERT_TRUE(Find(table, 1));
  EXPECT_EQ(ErrorCodeOf([&] { table.DeleteRecord(); }), ec::InvalidBlobOffset);
  EXPECT_EQ(table.IndexFile().RecordCount(), 2);
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(Ids(table), (std::vector<std::int32_t>{1, 2}));
  ASSERT_TRUE(Find(table, 2));
  table.DeleteRecord();  // a sound record still goes, and counts
  EXPECT_EQ(table.IndexFile().RecordCount(), 1);
  table.Close();
  EXPECT_EQ(GetLE(ReadWholeFile(Idx()), kRecordCountAt), 1u);
  table.Open();
  EXPECT_EQ(Ids(table), (std::vector<std::int32_t>{1}));
}

TEST_P(DamagedTablesTest, ABlobFreeListNamingALiveBlockIsRefused) {
  std::int32_t live = 0;
  {
    TDataFile table;
    Open(table);
    Insert(table, 1, 1000);
    Insert(table, 2, 10);
    Insert(table, 3, 10);
    live = FirstBlockOf(table, 1);
    ASSERT_TRUE(Find(table, 3));
    table.DeleteRecord();  // frees one block: the list is sound, and a real one
  }
  const std::string sound = ReadWholeFile(Blb());
  ASSERT_NE(GetLE(sound, kFreeBlockHeadAt), 0u);

  const std::uint32_t soundHead = GetLE(sound, kFreeBlockHeadAt);
  const std::uint32_t liveSecond = GetLE(sound, static_cast<std::size_t>(live) + 4);
  ASSERT_NE(liveSecond, 0u);
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
  };
  const std::vector<Case> cases{
      {"the head is a live block",
       [&](std::string& b) { PutLE(b, kFreeBlockHeadAt, static_cast<std::uint32_t>(live)); }},
      {"a free block links to a live one", [&](std::string& b) { PutLE(b, soundHead + 4, liveSecond); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = sound;
    c.damage(damaged);
    WriteWholeFile(Blb(), damaged);

    TDataFile table;
    Open(table);
    // A memo of two blocks takes the first two blocks of the list; so does a memo that grows by two.
    EXPECT_EQ(ErrorCodeOf([&] { Insert(table, 4, 600); }), ec::InvalidBlobOffset);
    EXPECT_FALSE(Find(table, 4));
    ASSERT_TRUE(Find(table, 2));
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GetCurrent(image.data(), true);
    const std::string longer(1200, 'z');
    ASSERT_EQ(table.OpenBlob(3, image.data()), ec::Success);
    table.WriteBlob(3, image.data(), 0, static_cast<std::int32_t>(longer.size()), longer.data());
    EXPECT_EQ(ErrorCodeOf([&] { table.UpdateRecord(image.data(), true); }), ec::InvalidBlobOffset);
    table.CloseBlob(3, image.data());
    table.UnlockAllRecords();
    ASSERT_TRUE(Find(table, 1));
    EXPECT_EQ(Memo(table), MemoFor(1, 1000));
    ASSERT_TRUE(Find(table, 2));
    EXPECT_EQ(Memo(table), MemoFor(2, 10));
    table.Close();
    // No block was written: the live memo and every other block are as the damage left them.
    EXPECT_TRUE(ReadWholeFile(Blb()).substr(512) == damaged.substr(512));
  }

  // A sound list is used as it stands.
  WriteWholeFile(Blb(), sound);
  TDataFile table;
  Open(table);
  Insert(table, 4, 10);
  ASSERT_TRUE(Find(table, 4));
  EXPECT_EQ(Memo(table), MemoFor(4, 10));
  EXPECT_EQ(GetLE(ReadWholeFile(Blb()), 13), GetLE(sound, 13));  // no block added at the end
}

TEST_P(DamagedTablesTest, AnIndexFreeChainNamingALivePageIsRefused) {
  {
    TDataFile table;
    Open(table);
    for (std::int32_t id = 1; id <= 5; ++id) Insert(table, id, 0);  // ByName: two leaves under a root
  }
  // The free chain of ByName names its own left leaf, in use. An interior entry is the child's first
  // key (202 bytes), the child's offset and the keys below it.
  std::string index = ReadWholeFile(Idx());
  const std::uint32_t root = GetLE(index, RootAt(1));
  ASSERT_EQ(index.at(root), 0);  // a root interior page
  const std::uint32_t leftLeaf = GetLE(index, root + 13 + 202);
  PutLE(index, FreeChainAt(1), leftLeaf);
  WriteWholeFile(Idx(), index);

  TDataFile table;
  Open(table);
  // The right leaf splits within a few keys and needs a page: the chain's is refused.
  TErrorCode failed = 0;
  std::int32_t id = 6;
  std::string before;
  for (; id <= 12 && failed == 0; ++id) {
    before = ReadWholeFile(Idx());
    failed = ErrorCodeOf([&] { Insert(table, id, 0); });
  }
  EXPECT_EQ(failed, ec::PageBuffersCorrupt);
  const std::int32_t refused = id - 1;
  EXPECT_FALSE(Find(table, refused));
  std::vector<std::int32_t> expected;
  for (std::int32_t n = 1; n < refused; ++n) expected.push_back(n);
  EXPECT_EQ(Ids(table), expected);
  EXPECT_EQ(Ids(table, 1), expected);
  if (!Exclusive()) {
    EXPECT_TRUE(ReadWholeFile(Idx()) == before);  // nothing of the failed insert written
  }
  table.Close();
  table.Open();
  EXPECT_EQ(Ids(table), expected);
  EXPECT_EQ(Ids(table, 1), expected);
}

TEST_P(DamagedTablesTest, AnIndexFreeChainAsTheOriginalSystemLeavesItIsUsed) {
  {
    TDataFile table;
    Open(table);
    for (std::int32_t id = 1; id <= 5; ++id) Insert(table, id, 0);
  }
  // The original system frees a root it replaces by its only child without emptying it: type 0, one
  // entry. Such a page, appended, heads the free chain of ByName.
  std::string index = ReadWholeFile(Idx());
  const std::uint32_t freed = GetLE(index, 9);  // the end of file
  const std::uint32_t leftLeaf = GetLE(index, GetLE(index, RootAt(1)) + 13 + 202);
  std::string page(1024, '\0');
  page[1] = 1;  // type 0 (root interior), one entry
  page[13] = 1;
  page[14] = 'B';
  PutLE(page, 13 + 202, leftLeaf);
  PutLE(page, 13 + 202 + 4, 3);
  index += page;
  PutLE(index, 9, freed + 1024);
  PutLE(index, FreeChainAt(1), freed);
  WriteWholeFile(Idx(), index);

  TDataFile table;
  Open(table);
  std::vector<std::int32_t> expected{1, 2, 3, 4, 5};
  for (std::int32_t id = 6; id <= 12; ++id) {
    Insert(table, id, 0);
    expected.push_back(id);
  }
  table.Close();
  index = ReadWholeFile(Idx());
  EXPECT_EQ(GetLE(index, FreeChainAt(1)), 0u);  // taken
  EXPECT_NE(index.at(freed), 0);                // and now a page of the tree
  table.Open();
  EXPECT_EQ(Ids(table), expected);
  EXPECT_EQ(Ids(table, 1), expected);
}

INSTANTIATE_TEST_SUITE_P(SharedAndExclusive, DamagedTablesTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Exclusive" : "Shared";
                         });

}  // namespace
}  // namespace kavrin::engine
