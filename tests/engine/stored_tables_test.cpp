// Tables written byte by byte as the original system writes them: the engine must find, change and
// delete their records through the keys those files hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& out, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<long>(at));
}
void PutI32(Bytes& out, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  Put(out, at,
      {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u >> 16),
       static_cast<std::uint8_t>(u >> 24)});
}
void PutText(Bytes& out, std::size_t at, std::string_view text) {
  out[at] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), out.begin() + static_cast<long>(at) + 1);
}
std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Field 1 "LW" longword (slot 9), field 2 "Name" string 8 (slot 14): records of 24 bytes. The primary
// index is on LW; its keys are the has-value byte and the four stored bytes, little-endian as they are.
struct TLongWordTable {
  static constexpr std::int32_t RecordSize = 24;
  struct Row {
    std::uint32_t Value;
    const char* Name;
  };
  static constexpr Row Rows[] = {{1, "one"}, {256, "two"}, {65536, "three"}};

  static Bytes DataFile() {
    Bytes dat(127 + 2 * 265 + 3 * RecordSize, 0);
    PutI32(dat, 0, 7);                          // change counter
    dat[8] = 2;                                 // version
    PutI32(dat, 13, 4);                         // next record number
    PutI32(dat, 17, 3);                         // last unique id
    Put(dat, 21, {RecordSize, 0, 2, 0, 0, 0});  // record size, field count, no blob fields
    PutText(dat, 35, "made elsewhere");
    const std::size_t field1 = 127, field2 = 127 + 265;
    Put(dat, field1, {1, 0});
    PutText(dat, field1 + 2, "LW");
    Put(dat, field1 + 84, {13, 0, 0, 0, 9, 0});
    Put(dat, field2, {2, 0});
    PutText(dat, field2 + 2, "Name");
    Put(dat, field2 + 84, {1, 0, 8, 0, 14, 0});
    for (std::size_t n = 0; n < 3; ++n) {
      const std::size_t at = 127 + 2 * 265 + n * RecordSize;
      PutI32(dat, at + 5, static_cast<std::int32_t>(n + 1));  // unique id
      dat[at + 9] = 1;
      PutI32(dat, at + 10, static_cast<std::int32_t>(Rows[n].Value));
      dat[at + 14] = 1;
      std::memcpy(dat.data() + at + 15, Rows[n].Name, std::strlen(Rows[n].Name));
    }
    return dat;
  }

  static Bytes IndexFile() {
    Bytes idx(2560 + 2 * 1024, 0);
    PutI32(idx, 0, 5);  // change counter
    idx[8] = 2;
    PutI32(idx, 9, 2560 + 2 * 1024);  // end of file
    const std::size_t primary = 14;
    Put(idx, primary + 31, {5, 0, 0, 1, 1});  // key length 5, ascending, case-sensitive, unique, 1 field
    Put(idx, primary + 36, {1, 0});
    PutI32(idx, primary + 68, 2560);
    const std::size_t states = 14 + 31 * 76;
    PutText(idx, states, "Sys Deleted");
    idx[states + 31] = 5;
    PutI32(idx, states + 68, 3584);
    PutI32(idx, 2522, 3);  // record count

    // Root leaf of the primary index, in stored-byte order: 65536 (00 00 01 00), 256, 1; each entry
    // is prefix length, the rest of the key, record number.
    Put(idx, 2560, {3, 3, 0});
    Put(idx, 2560 + 11, {27, 0});
    Put(idx, 2560 + 13, {0, 1, 0, 0, 1, 0, 3, 0, 0, 0,  // 01 00 00 01 00 -> record 3
                         2, 1, 0, 0, 2, 0, 0, 0,        // 01 00 | 01 00 00 -> record 2
                         1, 1, 0, 0, 0, 1, 0, 0, 0});   // 01 | 01 00 00 00 -> record 1
    // Root leaf of the record states: live flag 0 and the ids 1, 2, 3, sign bit flipped, big-endian.
    Put(idx, 3584, {3, 3, 0});
    Put(idx, 3584 + 11, {22, 0});
    Put(idx, 3584 + 13, {0, 0, 0x80, 0, 0, 1, 1, 0, 0, 0,  //
                         4, 2, 2,    0, 0, 0,              //
                         4, 3, 3,    0, 0, 0});
    return idx;
  }
};

class StoredTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    path = dir.PathOf("LONG.DAT");
    kavrin::testing::WriteWholeFile(path, AsString(TLongWordTable::DataFile()));
    kavrin::testing::WriteWholeFile(dir.PathOf("LONG.IDX"), AsString(TLongWordTable::IndexFile()));
  }

  static Bytes Image(TDataFile& table, std::uint32_t value, const char* name) {
    Bytes image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &value);
    table.SetField(2, image.data(), name);
    return image;
  }
  static std::uint32_t ValueOf(TDataFile& table, const std::uint8_t* image) {
    std::uint32_t value = 0;
    bool isNull = true;
    table.GetField(1, image, isNull, &value);
    return value;
  }
  static std::vector<std::uint32_t> Walk(TDataFile& table) {
    std::vector<std::uint32_t> values;
    Bytes buffer(table.RecordSize());
    table.GotoBOF();
    while (table.Next(buffer.data()) == ec::Success) values.push_back(ValueOf(table, buffer.data()));
    return values;
  }
  static bool Find(TDataFile& table, std::uint32_t value) {
    Bytes image = Image(table, value, "");
    return table.FindKey(false, image.data(), nullptr, 0, false, 0);
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

TEST_F(StoredTablesTest, LongWordKeysAreTheStoredBytes) {
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  EXPECT_EQ(Walk(table), (std::vector<std::uint32_t>{65536, 256, 1}));  // the order the file holds
  for (const auto& row : TLongWordTable::Rows) {
    ASSERT_TRUE(Find(table, row.Value)) << row.Value;
    Bytes buffer(table.RecordSize());
    ASSERT_EQ(table.GetCurrent(buffer.data(), false), ec::Success);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data() + 15), row.Name);
    Bytes bookmark(table.KeyLength());
    table.GetBookmark(bookmark.data());
    Bytes expected{1, 0, 0, 0, 0};
    std::memcpy(expected.data() + 1, buffer.data() + 10, 4);
    EXPECT_EQ(bookmark, expected);
  }

  // Update, in place and with a new key; delete; insert: every old key is found where the file has it.
  ASSERT_TRUE(Find(table, 256));
  Bytes image = Image(table, 256, "TWO");
  table.UpdateRecord(image.data(), true);
  ASSERT_TRUE(Find(table, 65536));
  image = Image(table, 0x01020304, "four");
  table.UpdateRecord(image.data(), true);
  ASSERT_TRUE(Find(table, 1));
  table.DeleteRecord();
  image = Image(table, 2, "five");
  table.InsertRecord(image.data());
  table.Close();

  // Reopened: the keys written now sort with the old ones by their bytes.
  table.Open();
  EXPECT_EQ(Walk(table), (std::vector<std::uint32_t>{256, 2, 0x01020304}));
  EXPECT_FALSE(Find(table, 1));
  EXPECT_FALSE(Find(table, 65536));
  ASSERT_TRUE(Find(table, 0x01020304));
  Bytes bookmark(table.KeyLength());
  table.GetBookmark(bookmark.data());
  EXPECT_EQ(bookmark, (Bytes{1, 0x04, 0x03, 0x02, 0x01}));
}

}  // namespace
}  // namespace kavrin::engine
