// Damaged source files: every length, offset, count and link is checked, so a damaged file gives an
// error naming it, never a crash, an overread or a hang (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "apps/transfer/readers/source_table.h"
#include "tests/apps/transfer/byte_fixtures.h"
#include "tests/apps/transfer/transfer_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::transfer::testing {
namespace {

// "" when the table reads to its end, else the file the error names. Any other exception fails.
std::string ReadAll(const std::string& path) {
  try {
    const auto table = OpenSourceTable(path, nullptr);
    std::vector<TSourceValue> values;
    while (table->Next(values)) {
    }
    return "";
  } catch (const ESourceError& error) {
    EXPECT_NE(std::string(error.what()).find(error.FileName()), std::string::npos);
    return error.FileName();
  }
}

class DamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteParadoxFixture("types", dir.PathOf("TYPES.DB"), dir.PathOf("TYPES.MB"));
    TPxFile px;
    px.KeyFields = 1;
    px.Fields = {{0x04, 4, "ID"}, {0x01, 20, "NAME"}};
    px.RecordsPerBlock = 2;
    for (int i = 1; i <= 5; ++i) px.Records.push_back(Concat({PxLong(i), PxAlpha(20, "n" + std::to_string(i))}));
    WriteFile(dir.PathOf("KEYED.DB"), BuildParadox(px));
    WriteFile(dir.PathOf("KEYED.VAL"), BuildVal({{2, true}}));
    TPxFile x;
    x.FileType = 3;
    x.KeyFields = 1;
    x.Fields = {{0x01, 20, "NAME"}, {0x04, 4, "ID"}};
    WriteFile(dir.PathOf("KEYED.X02"), BuildParadox(x));
    WriteFile(dir.PathOf("MEMO.DBF"), BuildDbf(0x8B, {{"NAME", 'C', 6}, {"NOTES", 'M', 10}, {"BORN", 'D', 8}},
                                               {"Ann            120000101", "Bob            2        "}, 0, true));
    std::vector<std::uint8_t> dbt(3 * 512, 0);
    dbt[0] = 3;
    dbt[20] = 0x00;
    dbt[21] = 0x02;
    const std::string memo("\xFF\xFF\x08\x00\x0D\x00\x00\x00hello", 13);
    std::copy(memo.begin(), memo.end(), dbt.begin() + 512);
    std::copy(memo.begin(), memo.end(), dbt.begin() + 1024);
    WriteFile(dir.PathOf("MEMO.DBT"), dbt);
    std::vector<TMdxTag> tags(1);
    tags[0] = {"NAME", "NAME", 'C', 6, false, false, {{"Ann", 1}, {"Bob", 2}}};
    WriteFile(dir.PathOf("MEMO.MDX"), BuildMdx("MEMO", tags));
  }
  // Writes bytes over a copy of a file, reads its table and puts the file back.
  std::string Damaged(const std::string& table, const std::string& file, std::size_t offset,
                      const std::vector<std::uint8_t>& bytes) {
    const std::vector<std::uint8_t> original = ReadFile(dir.PathOf(file));
    std::vector<std::uint8_t> changed = original;
    for (std::size_t i = 0; i < bytes.size() && offset + i < changed.size(); ++i) changed[offset + i] = bytes[i];
    WriteFile(dir.PathOf(file), changed);
    const std::string result = ReadAll(dir.PathOf(table));
    WriteFile(dir.PathOf(file), original);
    return result;
  }
  kavrin::testing::TempDir dir;
};

TEST_F(DamageTest, FixturesReadWhole) {
  for (const char* table : {"TYPES.DB", "KEYED.DB", "MEMO.DBF"}) EXPECT_EQ(ReadAll(dir.PathOf(table)), "") << table;
}

TEST_F(DamageTest, EachDamagedLinkNamesItsFile) {
  struct Case {
    const char* table;
    const char* file;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    const char* what;
  } cases[] = {
      {"KEYED.DB", "KEYED.DB", 0x02, {0xFF, 0xFF}, "header size past the end"},
      {"KEYED.DB", "KEYED.DB", 0x00, {0x07, 0x00}, "record size unlike the fields'"},
      {"KEYED.DB", "KEYED.DB", 0x21, {0x00, 0x00}, "no fields"},
      {"KEYED.DB", "KEYED.DB", 0x05, {0x00}, "block size 0"},
      {"KEYED.DB", "KEYED.DB", 0x0E, {0x63, 0x00}, "first block past the last"},
      {"KEYED.DB", "KEYED.DB", 0x800, {0x01, 0x00}, "a block chained to itself"},
      {"KEYED.DB", "KEYED.DB", 0x804, {0x00, 0x7F}, "more records than the block holds"},
      {"KEYED.DB", "KEYED.DB", 0x06, {0x09, 0x00, 0x00, 0x00}, "record count unlike the blocks'"},
      {"KEYED.DB", "KEYED.DB", 0x78, {0x2A}, "an unknown field type"},
      {"KEYED.DB", "KEYED.DB", 0x39, {0x02}, "version 2"},
      {"KEYED.DB", "KEYED.VAL", 0x35, {0xFF, 0xFF}, "more checks than the file holds"},
      {"KEYED.DB", "KEYED.VAL", 0x3B, {0x09}, "a check of a field the table lacks"},
      {"KEYED.DB", "KEYED.X02", 0x23, {0x00, 0x00}, "an index of no fields"},
      {"KEYED.DB", "KEYED.X02", 0x04, {0x00}, "an index file that is a table"},
      {"TYPES.DB", "TYPES.MB", 0x1000, {0x07}, "a blob block of an unknown kind"},
      {"MEMO.DBF", "MEMO.DBF", 0x08, {0xFF, 0xFF}, "header size past the end"},
      {"MEMO.DBF", "MEMO.DBF", 0x04, {0xFF, 0xFF, 0xFF, 0x0F}, "more records than the file holds"},
      {"MEMO.DBF", "MEMO.DBF", 0x30, {0xFF}, "a field longer than the record"},
      {"MEMO.DBF", "MEMO.DBT", 512 + 4, {0xFF, 0xFF, 0xFF, 0x7F}, "a memo longer than its file"},
      {"MEMO.DBF", "MEMO.MDX", 28, {0x30, 0x00}, "more tags than the table holds"},
      {"MEMO.DBF", "MEMO.MDX", 544, {0xFF, 0xFF, 0x00, 0x00}, "a tag header past the end"},
      {"MEMO.DBF", "MEMO.MDX", 6 * 512 + 24, std::vector<std::uint8_t>(220, 'A'), "an unended expression"},
  };
  for (const Case& c : cases) EXPECT_EQ(Damaged(c.table, c.file, c.offset, c.bytes), dir.PathOf(c.file)) << c.what;
}

TEST_F(DamageTest, EveryCutAndRandomByteEndsInTheTableOrAnError) {
  // Cut at every length (a stride keeps it quick), then random bytes with a fixed seed.
  std::mt19937 random(17);
  struct Target {
    const char* table;
    const char* file;
  } targets[] = {{"TYPES.DB", "TYPES.DB"}, {"TYPES.DB", "TYPES.MB"}, {"KEYED.DB", "KEYED.DB"},
                 {"MEMO.DBF", "MEMO.DBF"}, {"MEMO.DBF", "MEMO.DBT"}, {"MEMO.DBF", "MEMO.MDX"}};
  for (const Target& t : targets) {
    const std::vector<std::uint8_t> original = ReadFile(dir.PathOf(t.file));
    for (std::size_t length = 0; length < original.size(); length += 1 + original.size() / 60) {
      WriteFile(dir.PathOf(t.file), std::vector<std::uint8_t>(original.begin(), original.begin() + length));
      const std::string result = ReadAll(dir.PathOf(t.table));
      EXPECT_TRUE(result.empty() || result == dir.PathOf(t.file) || result == dir.PathOf(t.table))
          << t.file << " cut at " << length << ": " << result;
    }
    for (int round = 0; round < 60; ++round) {
      std::vector<std::uint8_t> changed = original;
      for (int k = 0; k < 4; ++k) changed[random() % changed.size()] = static_cast<std::uint8_t>(random());
      WriteFile(dir.PathOf(t.file), changed);
      ReadAll(dir.PathOf(t.table));
    }
    WriteFile(dir.PathOf(t.file), original);
  }
}

}  // namespace
}  // namespace kavrin::transfer::testing
