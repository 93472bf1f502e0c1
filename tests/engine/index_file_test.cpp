// TIndexFile as a file: names, create, open, empty, the header and its change counter, index
// definitions, and the page caches.
#include "engine/index_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/byte_order.h"
#include "engine/memory_files.h"
#include "platform/win_file.h"
#include "tests/engine/index_test_support.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using index_testing::CheckTree;
using index_testing::CodeOf;
using index_testing::IndexFixture;
using index_testing::Key;
using index_testing::MakeKey;
using index_testing::Model;
using index_testing::TestOwner;

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles().Clear(); }
  void TearDown() override { MemoryFiles().Clear(); }
  testing::TempDir dir;
};

TEST_F(IndexFileTest, FixFileNameReplacesOnlyTheLastComponentsExtension) {
  TestOwner owner;
  TIndexFile file(owner);
  const struct {
    const char* given;
    const char* fixed;
  } cases[] = {
      {"ORDERS.DAT", "ORDERS.IDX"},
      {"  orders.dat ", "orders.IDX"},
      {"ORDERS", "ORDERS.IDX"},
      {"/data/v1.2/ORDERS", "/data/v1.2/ORDERS.IDX"},
      {"/data/v1.2/ORDERS.DAT", "/data/v1.2/ORDERS.IDX"},
      {"A.B.C", "A.B.IDX"},
  };
  for (const auto& c : cases) EXPECT_EQ(file.FixFileName(c.given), c.fixed) << c.given;
}

TEST_F(IndexFileTest, NewFileIsExactlyTheHeaderAndItsFirstPageLandsAfterIt) {
  const std::string path = dir.PathOf("NEW.DAT");
  {
    IndexFixture fixture(path, 9, false, /*inMemory=*/false);
    EXPECT_EQ(fixture.file.FileName(), dir.PathOf("NEW.IDX"));
    fixture.file.WriteHeader();
    EXPECT_EQ(testing::ReadWholeFile(dir.PathOf("NEW.IDX")).size(), 2560u);
    fixture.file.InsertKey(MakeKey(1, 9), 1);
    EXPECT_EQ(fixture.file.GetDescriptor(0).Root, 2560);
    fixture.file.FlushPages();
    fixture.file.WriteHeader();
  }
  const std::string bytes = testing::ReadWholeFile(dir.PathOf("NEW.IDX"));
  ASSERT_EQ(bytes.size(), 2560u + 1024u);
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  EXPECT_EQ(p[8], 2);
  EXPECT_EQ(LoadI32(p + 9), 2560 + 1024);
  EXPECT_EQ(LoadI32(p + 2522), 0);  // the record count waits for Recount
  const std::uint8_t* deleted = p + 14 + 31 * 76;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(deleted + 1), deleted[0]), "Sys Deleted");
  EXPECT_EQ(deleted[31], 5);
  EXPECT_EQ(LoadI32(p + 14 + 68), 2560);
  EXPECT_EQ(p[2560], RootLeafPage);
}

TEST_F(IndexFileTest, OpenReadsTheHeaderChecksTheVersionAndStandsOnTheFirstKey) {
  const std::string path = dir.PathOf("T.IDX");
  {
    IndexFixture fixture(path, 9, false, false);
    for (std::uint32_t v = 1; v <= 50; ++v) fixture.file.InsertKey(MakeKey(v, 9), static_cast<std::int32_t>(v));
    fixture.file.Recount();
    fixture.file.FlushPages();
    fixture.file.WriteHeader();
  }
  TestOwner owner;
  TIndexFile file(owner);
  file.SetFileName(path);
  file.OpenFile();
  EXPECT_FALSE(file.HeaderCurrent());  // shared: other processes may change it
  EXPECT_EQ(file.RecordCount(), 50);
  EXPECT_EQ(file.CurrentRecordNumber(), 1);
  EXPECT_EQ(file.Position(), 1);
  EXPECT_FALSE(file.Bof());
  file.CloseFile();

  owner.repairing = true;
  file.OpenFile();
  EXPECT_EQ(file.CurrentRecordNumber(), 0);  // no first key while repairing
  EXPECT_EQ(file.Position(), 1);
  file.CloseFile();

  std::string bytes = testing::ReadWholeFile(path);
  bytes[8] = 3;
  testing::WriteWholeFile(path, bytes);
  EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), ec::IncorrectVersion);
  EXPECT_FALSE(file.Opened());
}

TEST_F(IndexFileTest, NewFileOpensWithoutAKey) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 9, false, false);
  fixture.file.WriteHeader();
  fixture.file.CloseFile();
  fixture.file.SetExclusive(false);
  fixture.file.OpenFile();
  EXPECT_TRUE(fixture.file.Bof());
  EXPECT_TRUE(fixture.file.Eof());
  EXPECT_EQ(fixture.file.Position(), 0);
  EXPECT_TRUE(fixture.file.CurrentKey().empty());
}

TEST_F(IndexFileTest, EmptyFileDropsEveryKeyAndEveryCachedPage) {
  for (const bool inMemory : {true, false}) {
    SCOPED_TRACE(inMemory ? "in memory" : "on disk");
    IndexFixture fixture(dir.PathOf(inMemory ? "M.DAT" : "D.DAT"), 9, false, inMemory);
    TIndexFile& file = fixture.file;
    const std::int16_t fields[] = {2};
    file.AddSecondaryIndex("BYNAME", 9, fields, true, false, false, 1);
    for (std::uint8_t index : {0, 1, 31}) {
      file.SelectIndex(index);
      for (std::uint32_t v = 1; v <= 300; ++v) {
        file.InsertKey(MakeKey(v, file.KeyLength()), static_cast<std::int32_t>(v));
      }
    }
    file.SelectIndex(1);
    file.FirstKey();
    file.FlushPages();
    ASSERT_GT(file.Size(), 2560);
    file.EmptyFile();
    EXPECT_EQ(file.Header().EndOfFile, 2560);
    EXPECT_EQ(file.Size(), 2560);
    for (std::uint8_t index : {0, 1, 31}) {
      EXPECT_EQ(file.GetDescriptor(index).Root, 0);
      EXPECT_EQ(file.GetDescriptor(index).FreeChain, 0);
      EXPECT_EQ(file.CachedPageCount(index), 0u);
    }
    EXPECT_EQ(file.GetDescriptor(31).Name, "Sys Deleted");
    EXPECT_EQ(file.GetDescriptor(1).Name, "BYNAME");
    EXPECT_TRUE(file.Bof() && file.Eof());
    EXPECT_EQ(file.Position(), 0);
    // The first page after emptying lands at 2560 again, with nothing stale from the cache.
    file.InsertKey(MakeKey(7, 9), 7);
    Model model;
    model.emplace(MakeKey(7, 9), 7);
    CheckTree(file, model);
  }
}

TEST_F(IndexFileTest, DefinitionsRefuseWhatTheFileCannotHold) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 9);
  TIndexFile& file = fixture.file;
  fixture.owner.fieldTypes[7] = ftBlob;
  const std::int16_t one[] = {1};
  const std::int16_t blob[] = {7};
  const std::int16_t many[16] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  struct Case {
    const char* what;
    std::function<void()> action;
    TErrorCode code;
    const char* indexName;
  };
  const Case cases[] = {
      {"second primary", [&] { file.CreatePrimaryIndex(9, 1, one, true, false, false); }, ec::PrimaryIndexExists,
       "Primary"},
      {"no name", [&] { file.AddSecondaryIndex("  ", 9, one, true, false, false, 1); }, ec::IndexNameMissing, "  "},
      {"blob key field", [&] { file.AddSecondaryIndex("B", 9, blob, true, false, false, 1); },
       ec::InvalidIndexFieldType, "B"},
      {"key of 256 bytes", [&] { file.AddSecondaryIndex("K", 256, one, false, false, false, 1); }, ec::InvalidKeySize,
       "K"},
      {"16 fields with the primary's", [&] { file.AddSecondaryIndex("M", 9, many, true, false, false, 16); },
       ec::IndexLimits, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodeOf(c.action), c.code) << c.what;
    if (*c.indexName) {
      EXPECT_EQ(ErrorContext().IndexName, c.indexName) << c.what;
    }
  }
  file.AddSecondaryIndex("ByName", 255, one, false, false, false, 1);  // 251 + the unique id still fits
  EXPECT_EQ(CodeOf([&] { file.AddSecondaryIndex(" BYNAME ", 9, one, true, false, false, 1); }), ec::IndexExists);
  for (int n = 2; n <= 30; ++n) file.AddSecondaryIndex("I" + std::to_string(n), 9, one, true, false, false, 1);
  EXPECT_EQ(file.IndexCount(), 30);
  EXPECT_EQ(file.CurrentIndex(), 30);
  EXPECT_EQ(CodeOf([&] { file.AddSecondaryIndex("I31", 9, one, true, false, false, 1); }), ec::IndexLimits);
}

TEST_F(IndexFileTest, DefinitionsNeedAnExclusiveFile) {
  const std::string path = dir.PathOf("T.IDX");
  {
    IndexFixture fixture(path, 9, false, false);
    fixture.file.WriteHeader();
  }
  TestOwner owner;
  TIndexFile file(owner);
  file.SetFileName(path);
  file.OpenFile();
  const std::int16_t one[] = {1};
  EXPECT_EQ(CodeOf([&] { file.AddSecondaryIndex("X", 9, one, true, false, false, 1); }), ec::MustBeExclusive);
  EXPECT_EQ(CodeOf([&] { file.SetDescriptor(0, TIndexDescriptor{}); }), ec::MustBeExclusive);
}

TEST_F(IndexFileTest, SelectionByNumberAndByName) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 9);
  TIndexFile& file = fixture.file;
  const std::int16_t fields[] = {2, 3};
  file.AddSecondaryIndex("ByCity", 14, fields, false, true, true, 2);
  file.SelectIndex(0);
  file.SelectIndexByName("bycity");
  EXPECT_EQ(file.CurrentIndex(), 1);
  EXPECT_EQ(file.CurrentIndexName(), "bycity");  // kept as given
  EXPECT_EQ(file.KeyLength(), 14);
  EXPECT_EQ(file.Descending(), 1);
  EXPECT_EQ(file.CaseInsensitive(), 1);
  EXPECT_FALSE(file.IsUnique(1));
  EXPECT_EQ(file.KeyFieldCount(1), 2);
  EXPECT_EQ(file.GetKeyFields(1)[1], 3);
  file.SelectIndexByName("BYCITY");  // the current one: nothing changes
  EXPECT_EQ(file.CurrentIndexName(), "bycity");
  file.SelectIndexByName("NOWHERE");
  EXPECT_EQ(file.CurrentIndex(), 0);
  EXPECT_EQ(file.KeyLength(), 9);
  file.SelectIndex(31);
  EXPECT_EQ(file.CurrentIndexName(), "Sys Deleted");
  EXPECT_EQ(file.KeyLength(), 5);

  TIndexDescriptor renamed = file.GetDescriptor(1);
  renamed.Name = "ByTown";
  renamed.KeyFields[0] = 9;
  renamed.KeyLength = 99;  // not the descriptor's to change
  file.SetDescriptor(1, renamed);
  EXPECT_EQ(file.GetDescriptor(1).Name, "ByTown");
  EXPECT_EQ(file.GetDescriptor(1).KeyFields[0], 9);
  EXPECT_EQ(file.GetDescriptor(1).KeyLength, 14);
}

TEST_F(IndexFileTest, CacheKeepsItsCapacityAndAKeyedLookupReadsOnlyItsPath) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 20);
  TIndexFile& file = fixture.file;
  Model model;
  for (std::uint32_t v = 1; v <= 20000; ++v) {
    file.InsertKey(MakeKey(v * 7919 % 20011, 20), static_cast<std::int32_t>(v));
    model.emplace(MakeKey(v * 7919 % 20011, 20), static_cast<std::int32_t>(v));
  }
  EXPECT_LE(file.CachedPageCount(0), file.PageCacheCapacity());
  const int depth = CheckTree(file, model).depth;
  file.FlushPages();
  EXPECT_LE(file.CachedPageCount(0), file.PageCacheCapacity());
  file.ApplyRange();
  file.ClearPageCache();
  const std::int32_t readsBefore = file.Statistics().PagesRead;
  EXPECT_TRUE(file.KeyExists(MakeKey(12345 * 7919 % 20011, 20)));
  EXPECT_EQ(file.Statistics().PagesRead - readsBefore, depth);
  EXPECT_TRUE(file.FindKey(MakeKey(777 * 7919 % 20011, 20), false, false));
  EXPECT_LE(file.Statistics().PagesRead - readsBefore, 2 * depth);
}

TEST_F(IndexFileTest, InMemoryPagesWrittenOutOfOrderNeverStall) {
  IndexFixture fixture(dir.PathOf("MEM.DAT"), 20);
  TIndexFile& file = fixture.file;
  for (std::uint32_t v = 1; v <= 3000; ++v) file.InsertKey(MakeKey(v, 20), static_cast<std::int32_t>(v));
  // Pages beyond the memory file's end are written first by eviction in most-recently-used order.
  file.FlushPages();
  EXPECT_EQ(file.Size(), file.Header().EndOfFile);
  file.WriteHeader();
  file.ClearPageCache();
  Model model;
  for (std::uint32_t v = 1; v <= 3000; ++v) model.emplace(MakeKey(v, 20), static_cast<std::int32_t>(v));
  CheckTree(file, model);
}

TEST_F(IndexFileTest, ScrambledFilesReadBackThroughTheTransform) {
  const std::string path = dir.PathOf("SECRET.IDX");
  Model model;
  {
    index_testing::TestOwner owner;
    TIndexFile file(owner);
    file.SetFileName(path);
    file.SetExclusive(true);
    file.SetScrambled(true);
    file.NewFile();
    const std::int16_t one[] = {1};
    file.CreatePrimaryIndex(12, 1, one, true, false, false);
    for (std::uint32_t v = 1; v <= 500; ++v) {
      file.InsertKey(MakeKey(v, 12), static_cast<std::int32_t>(v));
      model.emplace(MakeKey(v, 12), static_cast<std::int32_t>(v));
    }
    file.FlushPages();
    file.WriteHeader();
  }
  const std::string bytes = testing::ReadWholeFile(path);
  EXPECT_NE(bytes[8], 2);  // not even the version is plain
  index_testing::TestOwner owner;
  TIndexFile file(owner);
  file.SetFileName(path);
  file.SetScrambled(true);
  file.OpenFile();
  CheckTree(file, model, true);
}

}  // namespace
}  // namespace kavrin::engine
