// A change that inserts the current record's key leaves the cursor where the insert put the key
// instead of searching for it again: the same random workload with and without that shortcut must
// see the same position, current, next and prior records after every change, and write the same bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "runtime/date_time.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::ReadWholeFile;
using kavrin::testing::TempDir;

struct SpotCase {
  const char* name;
  bool secondaries;     // Code (unique), Group and Name as well as the primary key
  std::uint8_t active;  // the cursor's index
  bool range;
  bool filter;
};

std::vector<TFieldDescriptor> Fields() {
  return {testing::Field(1, "ID", ftInteger), testing::Field(2, "Code", ftString, 12),
          testing::Field(3, "Group", ftSmallInt), testing::Field(4, "Name", ftString, 20),
          testing::Field(5, "Pad", ftBytes, 40)};
}

std::vector<TIndexDescriptor> Indexes(bool secondaries) {
  std::vector<TIndexDescriptor> indexes{testing::Index("", {1}, true)};
  if (secondaries) {
    indexes.push_back(testing::Index("Code", {2}, true));
    indexes.push_back(testing::Index("Group", {3}, false));
    indexes.push_back(testing::Index("Name", {4, 3}, false, true, true));
  }
  return indexes;
}

TDataFile* filtered = nullptr;

std::int32_t ThirdsOut(std::uint32_t, std::uint8_t* image, std::int32_t) {
  std::int32_t id = 0;
  bool isNull = true;
  filtered->GetField(1, image, isNull, &id);
  return id % 3 != 0 ? 1 : 0;
}

// What the cursor shows after each change, one line per change.
std::vector<std::string> RunWorkload(const std::string& path, const SpotCase& c, std::uint32_t seed) {
  testing::CreateTableAt(path, Fields(), Indexes(c.secondaries));
  TDataFile table;
  table.SetExclusive(true);
  table.SetFileName(path);
  table.Open();
  table.SelectIndex(c.active);
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  std::vector<std::uint8_t> low(image.size()), high(image.size()), seen(image.size());
  std::mt19937 random(seed);
  auto fill = [&](std::uint8_t* target, std::int32_t id, std::uint32_t salt) {
    char code[16];
    std::snprintf(code, sizeof code, "C%08X", static_cast<std::uint32_t>(id) * 2654435761u);
    const auto group = static_cast<std::int16_t>((static_cast<std::uint32_t>(id) + salt) % 23);
    char name[24];
    std::snprintf(name, sizeof name, "%c%u", "aBcD"[salt % 4], (salt * 7u) % 50u);
    std::vector<std::uint8_t> pad(40, static_cast<std::uint8_t>(salt));
    table.SetField(1, target, &id);
    table.SetField(2, target, code);
    table.SetField(3, target, &group);
    table.SetField(4, target, name);
    table.SetField(5, target, pad.data());
  };
  if (c.range) {
    // A range over the middle of the active index's keys.
    table.InitRecord(low.data());
    table.InitRecord(high.data());
    fill(low.data(), 20000, 5);
    fill(high.data(), 60000, 17);
    if (c.active == 2) {
      const std::int16_t from = 4, to = 15;
      table.SetField(3, low.data(), &from);
      table.SetField(3, high.data(), &to);
    }
    table.SetRange(false, low.data(), 1, high.data(), 1);
  }
  if (c.filter) {
    filtered = &table;
    table.SetRecordCallback(ThirdsOut, 0);
    table.ActivateRecordCallback(true);
  }
  auto idOf = [&](const std::uint8_t* buffer) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, buffer, isNull, &id);
    return id;
  };
  auto look = [&] {
    std::string line = "pos " + std::to_string(table.RecordNo()) + " bof " + std::to_string(table.AtBOF()) + " eof " +
                       std::to_string(table.AtEOF());
    TErrorCode code = table.GetCurrent(seen.data(), false);
    line += " cur " + std::to_string(code) + ":" + std::to_string(code == 0 ? idOf(seen.data()) : 0);
    code = table.Next(seen.data());
    line += " next " + std::to_string(code) + ":" + std::to_string(code == 0 ? idOf(seen.data()) : 0);
    code = table.Prior(seen.data());
    code = table.Prior(seen.data());
    line += " prior " + std::to_string(code) + ":" + std::to_string(code == 0 ? idOf(seen.data()) : 0);
    return line;
  };
  std::vector<std::string> lines;
  std::int32_t nextId = 1;
  for (int op = 0; op < 2500; ++op) {
    const unsigned choice = random() % 100;
    const std::int32_t count = table.RecordCount();
    std::string what;
    try {
      if (count == 0 || choice < 50) {
        const std::int32_t id = static_cast<std::int32_t>(random() % 80000) + 1;
        table.InitRecord(image.data());
        fill(image.data(), id, static_cast<std::uint32_t>(op));
        what = "insert " + std::to_string(id);
        table.InsertRecord(image.data());
      } else {
        table.GotoRecordNo(static_cast<std::uint32_t>(random() % static_cast<std::uint32_t>(count)) + 1);
        if (table.GetCurrent(image.data(), true) != 0) {
          what = "no current";
        } else if (choice < 80) {
          // Most updates move the primary key; some keep it and move only the secondary keys, some
          // move nothing.
          const unsigned kind = random() % 4;
          std::int32_t id = idOf(image.data());
          if (kind < 2) id = static_cast<std::int32_t>(random() % 80000) + 1 + (nextId++ % 2);
          if (kind == 3) {
            std::vector<std::uint8_t> pad(40, static_cast<std::uint8_t>(op + 1));
            table.SetField(5, image.data(), pad.data());
          } else {
            fill(image.data(), id, static_cast<std::uint32_t>(op));
          }
          what = "update to " + std::to_string(id);
          table.UpdateRecord(image.data(), true);
        } else {
          what = "delete " + std::to_string(idOf(image.data()));
          table.DeleteRecord();
        }
      }
      what += " ok";
    } catch (const EDBEngineError& error) {
      what += " error " + std::to_string(error.Code());
    }
    lines.push_back(what + ": " + look());
  }
  table.Close();
  return lines;
}

class InsertedSpotTest : public ::testing::TestWithParam<SpotCase> {
 protected:
  void SetUp() override {
    runtime::SetClock([] { return 45000.25; });
  }
  void TearDown() override {
    TDataFile::SetInsertedSpotUse(true);
    runtime::SetClock(nullptr);
  }
};

TEST_P(InsertedSpotTest, CursorAndFilesAsAfterASearch) {
  TempDir dir;
  const SpotCase& c = GetParam();
  for (const std::uint32_t seed : {7u, 1234u}) {
    TDataFile::SetInsertedSpotUse(false);
    const std::vector<std::string> searched = RunWorkload(dir.PathOf("S.DAT"), c, seed);
    TDataFile::SetInsertedSpotUse(true);
    const std::vector<std::string> placed = RunWorkload(dir.PathOf("P.DAT"), c, seed);
    ASSERT_EQ(searched.size(), placed.size());
    std::size_t inserts = 0;
    for (std::size_t i = 0; i < searched.size(); ++i) {
      ASSERT_EQ(searched[i], placed[i]) << "change " << i << " seed " << seed;
      if (searched[i].rfind("insert", 0) == 0 && searched[i].find(" ok") != std::string::npos) ++inserts;
    }
    EXPECT_GT(inserts, 500u);
    for (const char* extension : {".DAT", ".IDX"}) {
      EXPECT_TRUE(ReadWholeFile(dir.PathOf(std::string("S") + extension)) ==
                  ReadWholeFile(dir.PathOf(std::string("P") + extension)))
          << extension << " seed " << seed;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InsertedSpotTest,
    ::testing::Values(SpotCase{"PrimaryOnly", false, 0, false, false},
                      SpotCase{"PrimaryOnlyRange", false, 0, true, false},
                      SpotCase{"PrimaryOnlyFilter", false, 0, false, true}, SpotCase{"Primary", true, 0, false, false},
                      SpotCase{"PrimaryRangeFilter", true, 0, true, true},
                      SpotCase{"UniqueCode", true, 1, false, false}, SpotCase{"Group", true, 2, false, false},
                      SpotCase{"GroupRange", true, 2, true, false}, SpotCase{"GroupFilter", true, 2, false, true},
                      SpotCase{"NameDescending", true, 3, false, false}),
    [](const ::testing::TestParamInfo<SpotCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kavrin::engine
