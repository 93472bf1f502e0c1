// Tables read through a map of their files: a file cut short by another process gives the engine's
// read error, never SIGBUS.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/data_file_format.h"
#include "engine/engine_error.h"
#include "engine/error_codes.h"
#include "engine/index_file.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using kavrin::testing::TempDir;

void TruncateElsewhere(const std::string& path, off_t size) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(truncate(path.c_str(), size) == 0 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

class MappedTableTest : public ::testing::TestWithParam<bool> {
 protected:
  // A table of 3000 records, open on this process (exclusively or shared, as the case says).
  void SetUp() override {
    testing::CreateTableAt(path, testing::SimpleFields(), testing::SimpleIndexes());
    table.SetExclusive(GetParam());
    table.SetFileName(path);
    table.Open();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
    for (std::int32_t id = 1; id <= 3000; ++id) {
      table.InitRecord(image.data());
      table.SetField(1, image.data(), &id);
      table.InsertRecord(image.data());
    }
    table.Flush();
  }
  std::int32_t Find(std::int32_t id) {
    std::vector<std::uint8_t> probe(static_cast<std::size_t>(table.RecordSize()));
    std::vector<std::uint8_t> found(probe.size());
    table.InitRecord(probe.data());
    table.SetField(1, probe.data(), &id);
    if (!table.FindKey(false, probe.data(), found.data(), 0, false, 0)) return -1;
    std::int32_t value = 0;
    bool isNull = true;
    table.GetField(1, found.data(), isNull, &value);
    return value;
  }

  TempDir dir;
  std::string path = dir.PathOf("CUT.DAT");
  TDataFile table;
};

TEST_P(MappedTableTest, ADataFileCutShortUnderTheReaderGivesAReadError) {
  ASSERT_EQ(Find(2500), 2500);
  table.DropRecordCache();
  TruncateElsewhere(path, 4096);
  EXPECT_EQ(testing::ErrorCodeOf([&] { table.FetchRecord(2500); }), ec::ReadError);
  table.CloseFile();
}

TEST_P(MappedTableTest, ARecordCutInsideItsPageUnderTheReaderGivesAReadError) {
  ASSERT_EQ(Find(2500), 2500);
  table.DropRecordCache();
  // The cut leaves the record's first bytes, and the rest of its memory page reads as zeros.
  const std::int64_t start = RecordOffset(table.FieldCount(), static_cast<std::uint16_t>(table.RecordSize()), 2500);
  TruncateElsewhere(path, static_cast<off_t>(start + 3));
  EXPECT_EQ(testing::ErrorCodeOf([&] { table.FetchRecord(2500); }), ec::ReadError);
  table.CloseFile();
}

TEST_P(MappedTableTest, AnIndexPageCutInsideUnderTheReaderGivesAReadError) {
  ASSERT_EQ(Find(1234), 1234);
  table.IndexFile().ClearPageCache();
  // Cut through the middle of an index page, well inside the file: whichever lookup needs that page
  // fails with the read error; none finds a wrong record or a damaged page.
  const off_t size = static_cast<off_t>(table.IndexFile().Header().EndOfFile);
  TruncateElsewhere(dir.PathOf("CUT.IDX"), size / 2 / 4096 * 4096 + 1536);
  TErrorCode first = ec::Success;
  for (std::int32_t id = 1; id <= 3000 && first == ec::Success; ++id) {
    first = testing::ErrorCodeOf([&] { EXPECT_EQ(Find(id), id); });
  }
  EXPECT_EQ(first, ec::ReadError);
  table.CloseFile();
}

TEST_P(MappedTableTest, AnIndexFileCutShortUnderTheReaderGivesAReadError) {
  ASSERT_EQ(Find(1234), 1234);
  table.IndexFile().ClearPageCache();
  TruncateElsewhere(dir.PathOf("CUT.IDX"), 2048);
  const TErrorCode code = testing::ErrorCodeOf([&] { Find(2999); });
  EXPECT_EQ(code, ec::ReadError);
  table.CloseFile();
}

INSTANTIATE_TEST_SUITE_P(ExclusiveAndShared, MappedTableTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Exclusive" : "Shared";
                         });

}  // namespace
}  // namespace kavrin::engine
