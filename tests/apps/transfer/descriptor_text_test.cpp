// Field names outside ASCII: read in the source table's code page, stored by the engine in
// Windows-1252, and read back through the dataset layer as the same UTF-8.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "apps/transfer/table_transfer.h"
#include "classlib/data/field.h"
#include "classlib/data/session.h"
#include "dataset/kavrintb.h"
#include "runtime/conversions.h"
#include "tests/apps/transfer/transfer_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::transfer::testing {
namespace {

class DescriptorTextTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunProgram({"/usr/bin/python3", ScriptPath("dbf_names_writer.py"), source.Path()}), 0);
  }
  void TearDown() override { classlib::DBFinalization(); }
  void Transfer(const std::vector<std::string>& entries) {
    TTableTransfer transfer(ui);
    transfer.BeginTransfer(source.Path(), entries, destination.Path());
  }
  kavrin::testing::TempDir source;
  kavrin::testing::TempDir destination;
  TRecordingUi ui;
};

TEST_F(DescriptorTextTransferTest, NamesFromEveryCodePageReadBackAsTheSameUtf8) {
  Transfer({"NAMES850.DBF", "NAMES1252.DBF"});
  for (const std::string table : {"NAMES850", "NAMES1252"}) {
    SCOPED_TRACE(table);
    std::vector<std::string> stored;
    for (const TReadField& field : ReadEngineTable(destination.PathOf(table + ".DAT")).Fields)
      stored.push_back(field.Name);
    EXPECT_EQ(stored, (std::vector<std::string>{"RecordID", "NAME", "N\xE3O", "CAF\xE9"}));

    dataset::TKAVRINTable read;
    read.SetDatabaseName(destination.Path());
    read.SetTableName(table);
    read.Open();
    std::vector<std::string> names;
    for (int i = 0; i < read.FieldDefs().Count(); ++i) names.push_back(read.FieldDefs()[i].Name());
    EXPECT_EQ(names, (std::vector<std::string>{"RecordID", "NAME", "N\u00E3O", "CAF\u00E9"}));
    EXPECT_EQ(read.FieldByName("CAF\u00C9")->AsString(), "x");
    EXPECT_EQ(read.FieldByName("N\u00C3O")->AsFloat(), 7.0);
    read.Close();
  }
}

TEST_F(DescriptorTextTransferTest, ANameWindows1252LacksIsRefusedAndNothingIsCreated) {
  try {
    Transfer({"CYRILLIC.DBF"});
    ADD_FAILURE() << "transferred";
  } catch (const runtime::EConvertError& e) {
    EXPECT_STREQ(e.what(),
                 "Field name 'NAME\u0436' has a character that the ANSI code page (Windows-1252) of table "
                 "definitions lacks: '\u0436'");
  }
  struct stat info {};
  EXPECT_NE(::stat(destination.PathOf("CYRILLIC.DAT").c_str(), &info), 0);
}

}  // namespace
}  // namespace kavrin::transfer::testing
