// The three files that table creation writes, against bytes computed by hand from the layouts.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/data_file.h"
#include "engine/memory_files.h"
#include "engine/password_list.h"
#include "engine/scrambling.h"
#include "runtime/date_time.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Field;
using testing::Index;

Bytes Place(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> runs) {
  Bytes out(size, 0);
  for (const auto& [offset, run] : runs) std::copy(run.begin(), run.end(), out.begin() + static_cast<long>(offset));
  return out;
}

Bytes ShortString(std::string_view s) {
  Bytes out(s.size() + 1);
  out[0] = static_cast<std::uint8_t>(s.size());
  std::copy(s.begin(), s.end(), out.begin() + 1);
  return out;
}

Bytes Slice(const std::string& file, std::size_t from, std::size_t count) {
  return Bytes(file.begin() + static_cast<long>(from), file.begin() + static_cast<long>(from + count));
}

Bytes Unscrambled(Bytes unit) {
  Unscramble(unit.data(), unit.size(), ContentsSeed);
  return unit;
}

// A descriptor's plain bytes: number, name, type, subtype, size, decimals, slot offset.
Bytes Descriptor(std::int16_t number, std::string_view name, std::uint8_t type, std::uint8_t subtype, std::uint8_t size,
                 std::uint8_t decimals, std::uint16_t slot) {
  return Place(
      265,
      {{0, {static_cast<std::uint8_t>(number), 0}},
       {2, ShortString(name)},
       {84, {type, subtype, size, decimals, static_cast<std::uint8_t>(slot), static_cast<std::uint8_t>(slot >> 8)}}});
}

class TableFilesGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    TablePasswords().Clear();
    runtime::SetClock([] { return 45000.5; });
  }
  void TearDown() override {
    runtime::SetClock(nullptr);
    TablePasswords().Clear();
  }
  kavrin::testing::TempDir dir;
};

TEST_F(TableFilesGolden, EveryFieldTypeTwoBlobsTwoIndexesAndAPassword) {
  std::vector<TFieldDescriptor> fields{
      Field(1, "Name", ftString, 10),
      Field(2, "Born", ftDate),
      Field(3, "Notes", ftBlob, 0, fstMemo),
      Field(4, "Active", ftBoolean),
      Field(5, "Small", ftSmallInt),
      Field(6, "ID", ftInteger),
      Field(7, "Ratio", ftFloat),
      Field(8, "Price", ftBCD),
      Field(9, "Raw", ftBytes, 4),
      Field(10, "At", ftTime),
      Field(11, "Stamp", ftTimeStamp),
      Field(12, "Count", ftWord),
      Field(13, "Long", ftLongWord),
      Field(14, "Wide", ftFloat10),
      Field(15, "Var", ftVarBytes, 6),
      Field(16, "Photo", ftBlob, 0, fstGraphic),
  };
  fields[7].Decimals = 2;
  fields[7].Subtype = fstMoney;
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(dir.PathOf("GOLD.DAT"));
  table.CreateTable(true, "Pw", {Index("", {6}, true), Index("ByName", {1}, false, true, true)}, fields, 1024,
                    "Fixture");

  const std::string dat = kavrin::testing::ReadWholeFile(dir.PathOf("GOLD.DAT"));
  ASSERT_EQ(dat.size(), 127u + 16 * 265);
  const Bytes header = Place(127, {
                                      {0, {0x01, 0, 0, 0}},                                    // change counter
                                      {4, {0x00, 0x04, 0, 0}},                                 // blob block size 1024
                                      {8, {0x02}},                                             // version
                                      {13, {0x01, 0, 0, 0}},                                   // next record number
                                      {21, {0x6E, 0x00}},                                      // record size 110
                                      {23, {0x10, 0x00}},                                      // 16 fields
                                      {25, {0x02, 0x00}},                                      // 2 blob fields
                                      {27, {0, 0, 0, 0, 0x10, 0xF9, 0xE5, 0x40}},              // 45000.5
                                      {35, {0x07, 0xD0, 0xFD, 0xEE, 0xEC, 0xF3, 0xF6, 0xE3}},  // "Fixture"
                                      {86, {0x01}},                                            // encrypted
                                      {87, {0x02, 0xC6, 0xE3}},                                // "Pw"
                                  });
  EXPECT_EQ(Slice(dat, 0, 127), header);

  const Bytes descriptors[] = {
      Descriptor(1, "Name", 1, 0, 10, 0, 9),    Descriptor(2, "Born", 2, 0, 0, 0, 21),
      Descriptor(3, "Notes", 3, 22, 0, 0, 26),  Descriptor(4, "Active", 4, 0, 0, 0, 31),
      Descriptor(5, "Small", 5, 0, 0, 0, 34),   Descriptor(6, "ID", 6, 0, 0, 0, 37),
      Descriptor(7, "Ratio", 7, 0, 0, 0, 42),   Descriptor(8, "Price", 8, 21, 0, 2, 51),
      Descriptor(9, "Raw", 9, 0, 4, 0, 60),     Descriptor(10, "At", 10, 0, 0, 0, 65),
      Descriptor(11, "Stamp", 11, 0, 0, 0, 70), Descriptor(12, "Count", 12, 0, 0, 0, 79),
      Descriptor(13, "Long", 13, 0, 0, 0, 82),  Descriptor(14, "Wide", 14, 0, 0, 0, 87),
      Descriptor(15, "Var", 15, 0, 6, 0, 98),   Descriptor(16, "Photo", 3, 26, 0, 0, 105),
  };
  for (std::size_t i = 0; i < 16; ++i) {
    // Each descriptor is its own scrambling unit.
    EXPECT_EQ(Unscrambled(Slice(dat, 127 + i * 265, 265)), descriptors[i]) << "descriptor " << i + 1;
  }

  const std::string idx = kavrin::testing::ReadWholeFile(dir.PathOf("GOLD.IDX"));
  ASSERT_EQ(idx.size(), 2560u);
  const Bytes plainIdx = Unscrambled(Slice(idx, 0, 2560));
  const Bytes expectedIdx = Place(2560, {
                                            {0, {0x02, 0, 0, 0}},        // written at creation and after the indexes
                                            {8, {0x02}},                 // version
                                            {9, {0x00, 0x0A, 0, 0}},     // end of file 2560
                                            {13, {0x01}},                // highest secondary
                                            {14 + 31, {5, 0, 0, 1, 1}},  // primary: key 5, unique, 1 field
                                            {14 + 36, {6, 0}},           // on field 6
                                            {14 + 76, ShortString("ByName")},
                                            {14 + 76 + 31, {16, 1, 1, 0, 1}},  // 11 + 1 + 4, descending, ci
                                            {14 + 76 + 36, {1, 0}},
                                            {14 + 31 * 76, ShortString("Sys Deleted")},
                                            {14 + 31 * 76 + 31, {5}},
                                        });
  EXPECT_EQ(plainIdx, expectedIdx);

  const std::string blb = kavrin::testing::ReadWholeFile(dir.PathOf("GOLD.BLB"));
  ASSERT_EQ(blb.size(), 512u);
  EXPECT_EQ(Unscrambled(Slice(blb, 0, 512)), Place(512, {{0, {0x01, 0, 0, 0}}, {8, {0x02}}, {13, {0x00, 0x02, 0, 0}}}));
}

}  // namespace
}  // namespace kavrin::engine
