// Byte fixtures (laid out as the readers' layout tables say) for what no independent writer makes:
// Paradox before 7 in block-chain order, ".VAL", ".Xnn"/".XGn" indexes, dBase 7 and ".MDX" tags.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apps/transfer/readers/source_table.h"
#include "apps/transfer/table_transfer.h"
#include "runtime/date_time.h"
#include "tests/apps/transfer/byte_fixtures.h"
#include "tests/apps/transfer/transfer_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::transfer::testing {
namespace {

using Fields = std::vector<TReadField>;
using Record = std::vector<std::string>;

std::int32_t Day(int y, int m, int d) { return runtime::DateTimeToTimeStamp(runtime::EncodeDate(y, m, d)).Date; }

class ByteFixtureTest : public ::testing::Test {
 protected:
  void Transfer(const std::vector<std::string>& entries) {
    TTableTransfer transfer(ui);
    transfer.BeginTransfer(source.Path(), entries, destination.Path());
  }
  kavrin::testing::TempDir source;
  kavrin::testing::TempDir destination;
  TRecordingUi ui;
};

TEST_F(ByteFixtureTest, ParadoxThreeTableInBlockChainOrderWithRequiredFlags) {
  TPxFile px;
  px.Version = 3;
  px.FileType = 0;
  px.KeyFields = 1;
  px.Fields = {{0x01, 8, "CODE"}, {0x06, 8, "Amount"}, {0x02, 4, "Due"}, {0x03, 2, "Qty"}, {0x05, 8, "Price"}};
  px.RecordsPerBlock = 1;
  px.ReverseChain = true;
  px.Records = {Concat({PxAlpha(8, "A1"), PxDouble(1.5), PxLong(Day(1990, 5, 6)), PxShort(3), PxDouble(-2.5)}),
                Concat({PxAlpha(8, "B2"), PxDouble(-7), PxLong(2), PxShort(-1), PxNull(8)}),
                Concat({PxAlpha(8, "C3"), PxDouble(0), PxLong(1), PxNull(2), PxDouble(1e6)})};
  WriteFile(source.PathOf("OLD.DB"), BuildParadox(px));
  WriteFile(source.PathOf("old.val"), BuildVal({{2, true}, {4, false}, {3, true}}));
  Transfer({"OLD.DB"});
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"Transfer completed successfully."}));
  const TReadTable t = ReadEngineTable(destination.PathOf("OLD.DAT"));
  EXPECT_EQ(t.Fields, (Fields{{"CODE", 1, 0, 8, 0, false},
                              {"Amount", 7, 0, 0, 0, true},
                              {"Due", 2, 0, 0, 0, true},
                              {"Qty", 5, 0, 0, 0, false},
                              {"Price", 7, 21, 0, 0, false}}));
  ASSERT_EQ(t.Indexes.size(), 1u);
  EXPECT_EQ(t.Indexes[0], (TReadIndex{"", {1}, true, false, false}));
  EXPECT_EQ(t.Records, (std::vector<Record>{{"A1", "1.5", std::to_string(Day(1990, 5, 6)), "3", "-2.5"},
                                            {"B2", "-7", "2", "-1", "null"},
                                            {"C3", "0", "1", "null", "1000000"}}));
}

TEST_F(ByteFixtureTest, ParadoxReadsItsRecordsInChainOrderNotFileOrder) {
  TPxFile px;
  px.FileType = 2;
  px.Fields = {{0x04, 4, "N"}};
  px.RecordsPerBlock = 2;
  px.ReverseChain = true;
  for (int i = 1; i <= 7; ++i) px.Records.push_back(PxLong(i * 10));
  WriteFile(source.PathOf("CHAIN.DB"), BuildParadox(px));
  const auto table = OpenSourceTable(source.PathOf("CHAIN.DB"), nullptr);
  std::vector<TSourceValue> values;
  std::vector<std::int32_t> seen;
  while (table->Next(values)) {
    std::int32_t v = 0;
    std::memcpy(&v, values[0].Bytes.data(), 4);
    seen.push_back(v);
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60, 70}));
}

TEST_F(ByteFixtureTest, ParadoxSecondaryIndexesFromXnnAndXGnFiles) {
  TPxFile px;
  px.KeyFields = 1;
  px.Fields = {{0x04, 4, "ID"}, {0x01, 20, "NAME"}, {0x01, 20, "CITY"}};
  px.Records = {Concat({PxLong(2), PxAlpha(20, "Bea"), PxAlpha(20, "Oslo")}),
                Concat({PxLong(1), PxAlpha(20, "Al"), PxAlpha(20, "oslo")})};
  WriteFile(source.PathOf("IDX.DB"), BuildParadox(px));
  TPxFile single;
  single.FileType = 3;
  single.KeyFields = 1;
  single.Fields = {{0x01, 20, "NAME"}, {0x04, 4, "ID"}, {0x03, 2, "Hint"}};
  WriteFile(source.PathOf("IDX.X02"), BuildParadox(single));
  single.FileType = 4;
  WriteFile(source.PathOf("IDX.Y02"), BuildParadox(single));
  TPxFile group;
  group.FileType = 8;
  group.KeyFields = 2;
  group.TableName = "ByCity";
  group.IndexOptions = 7;  // case-insensitive, unique, descending
  group.Fields = {{0x01, 20, "CITY"}, {0x01, 20, "name"}, {0x04, 4, "ID"}, {0x03, 2, "Hint"}};
  WriteFile(source.PathOf("idx.xg0"), BuildParadox(group));
  group.FileType = 7;
  WriteFile(source.PathOf("IDX.YG0"), BuildParadox(group));
  Transfer({"IDX.DB"});
  const TReadTable t = ReadEngineTable(destination.PathOf("IDX.DAT"));
  EXPECT_EQ(t.Indexes, (std::vector<TReadIndex>{{"", {1}, true, false, false},
                                                {"NAME", {2}, false, false, false},
                                                {"ByCity", {3, 2}, true, true, true}}));
  EXPECT_EQ(t.Records.size(), 2u);
}

TEST_F(ByteFixtureTest, DBaseSevenWithProductionIndexTags) {
  const std::vector<TDbfField> fields{
      {"ID", '+', 4}, {"NUM", 'I', 4}, {"VAL", 'O', 8}, {"AT", '@', 8}, {"NAME", 'C', 10}};
  const double at = static_cast<double>(Day(2020, 3, 4)) * 86400000.0 + 3600000.0;
  WriteFile(source.PathOf("SEVEN.DBF"),
            BuildDbf(0x04, fields,
                     {DbfLong(7) + DbfLong(-5) + DbfDouble(-0.5) + DbfDouble(at) + "Kim",
                      "*" + DbfLong(8) + DbfLong(1) + DbfDouble(1) + DbfDouble(at) + "Gone",
                      DbfLong(3) + std::string(4, '\0') + std::string(8, '\0') + std::string(8, '\0') + "Kim"},
                     0x57, true));
  std::vector<TMdxTag> tags(4);
  tags[0] = {"NAME", "NAME", 'C', 10, false, false, {{"Kim", 1}, {"Kim", 3}}};
  tags[1] = {"NAMENUM", "NAME+STR(NUM)", 'C', 21, false, false, {}};
  tags[2] = {"BOTH", "NAME + num", 'C', 14, false, false, {}};
  tags[3] = {"UNIQ", "name", 'C', 10, true, true, {{"Kim", 3}}};
  WriteFile(source.PathOf("SEVEN.MDX"), BuildMdx("SEVEN", tags));
  Transfer({"SEVEN.DBF"});
  EXPECT_EQ(ui.Messages(),
            (std::vector<std::string>{
                "Index NAMENUM in source table SEVEN.DBF is an expression index that contains functions and will not "
                "be transferred over to the new KAVRIN data file.",
                "A primary index was not found in source table SEVEN.DBF, a primary index based upon an "
                "auto-increment field called RecordID will be added to the new KAVRIN data file.",
                "Transfer completed successfully."}));
  const TReadTable t = ReadEngineTable(destination.PathOf("SEVEN.DAT"));
  EXPECT_EQ(t.Fields, (Fields{{"RecordID", 6, 29, 0, 0, false},
                              {"ID", 6, 29, 0, 0, false},
                              {"NUM", 6, 0, 0, 0, false},
                              {"VAL", 7, 0, 0, 0, false},
                              {"AT", 11, 0, 0, 0, false},
                              {"NAME", 1, 0, 10, 0, false}}));
  // Key fields renumbered by the added RecordID; the unique tag comes over non-unique.
  EXPECT_EQ(t.Indexes, (std::vector<TReadIndex>{{"", {1}, true, false, false},
                                                {"NAME", {6}, false, false, false},
                                                {"BOTH", {6, 3}, false, false, false},
                                                {"UNIQ", {6}, false, false, true}}));
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.0f", at);
  EXPECT_EQ(t.Records,
            (std::vector<Record>{{"3", "3", "null", "null", "null", "Kim"}, {"7", "7", "-5", "-0.5", stamp, "Kim"}}));
}

TEST_F(ByteFixtureTest, PerlXBaseReadsTheTagsOfTheMdxFixture) {
  const std::vector<TDbfField> fields{{"NAME", 'C', 10}};
  WriteFile(source.PathOf("TAGS.DBF"), BuildDbf(0x03, fields, {"Ann", "Bob"}, 0, true));
  std::vector<TMdxTag> tags(2);
  tags[0] = {"NAME", "NAME", 'C', 10, false, false, {{"Ann", 1}, {"Bob", 2}}};
  tags[1] = {"BACK", "NAME", 'C', 10, true, false, {{"Bob", 2}, {"Ann", 1}}};
  WriteFile(source.PathOf("TAGS.MDX"), BuildMdx("TAGS", tags));
  const std::string output = source.PathOf("perl.out");
  std::string command =
      "/usr/bin/perl " + ScriptPath("mdx_reader.pl") + " " + source.PathOf("TAGS.MDX") + " NAME BACK > " + output;
  ASSERT_EQ(RunProgram({"/bin/sh", "-c", command}), 0);
  const std::vector<std::uint8_t> text = ReadFile(output);
  EXPECT_EQ(std::string(text.begin(), text.end()), "NAME: Ann=1\nNAME: Bob=2\nBACK: Bob=2\nBACK: Ann=1\n");
  const auto table = OpenSourceTable(source.PathOf("TAGS.DBF"), nullptr);
  ASSERT_EQ(table->Indexes().size(), 2u);
  EXPECT_EQ(table->Indexes()[1].Name, "BACK");
  EXPECT_EQ(table->Indexes()[1].Options, ixDescending);
}

TEST_F(ByteFixtureTest, CompanionsThatDifferOnlyInCaseAreAnErrorNotAGuess) {
  WriteFile(source.PathOf("TWICE.DBF"), BuildDbf(0x03, {{"NAME", 'C', 10}}, {"Ann"}, 0, true));
  // The exact name comes first; without it, two names that differ only in case are no guess.
  WriteFile(source.PathOf("TWICE.MDX"), BuildMdx("TWICE", {}));
  WriteFile(source.PathOf("twice.mdx"), BuildMdx("TWICE", {}));
  WriteFile(source.PathOf("Twice.Mdx"), BuildMdx("TWICE", {}));
  EXPECT_NO_THROW(OpenSourceTable(source.PathOf("TWICE.DBF"), nullptr));
  std::remove(source.PathOf("TWICE.MDX").c_str());
  try {
    OpenSourceTable(source.PathOf("TWICE.DBF"), nullptr);
    ADD_FAILURE() << "one of two production indexes was taken";
  } catch (const ESourceError& error) {
    EXPECT_NE(std::string(error.what()).find("differ only in case"), std::string::npos);
  }
  // One match of another case is the companion.
  std::remove(source.PathOf("Twice.Mdx").c_str());
  EXPECT_NO_THROW(OpenSourceTable(source.PathOf("TWICE.DBF"), nullptr));
  std::remove(source.PathOf("twice.mdx").c_str());
  try {
    OpenSourceTable(source.PathOf("TWICE.DBF"), nullptr);
    ADD_FAILURE() << "a missing production index went unnoticed";
  } catch (const ESourceError& error) {
    EXPECT_EQ(error.FileName(), "TWICE.MDX");
  }
}

TEST_F(ByteFixtureTest, FoxProAndEncryptedDBaseTablesAreRefusedNamingTheFile) {
  const std::vector<TDbfField> fields{{"NAME", 'C', 10}};
  WriteFile(source.PathOf("FOX.DBF"), BuildDbf(0x30, fields, {"x"}));
  WriteFile(source.PathOf("LOCKED.DBF"), BuildDbf(0x03, fields, {"x"}, 0, false, 1));
  for (const char* name : {"FOX.DBF", "LOCKED.DBF"}) {
    try {
      OpenSourceTable(source.PathOf(name), nullptr);
      ADD_FAILURE() << name << " was accepted";
    } catch (const ESourceError& error) {
      EXPECT_EQ(error.FileName(), source.PathOf(name));
      EXPECT_NE(std::string(error.what()).find(name), std::string::npos);
    }
  }
}

TEST_F(ByteFixtureTest, AnEncryptedParadoxThreeTableIsRefusedWithoutAskingItsPassword) {
  TPxFile px;
  px.Version = 3;
  px.FileType = 2;
  px.Fields = {{0x01, 8, "CODE"}};
  px.Records = {PxAlpha(8, "A1")};
  Bytes bytes = BuildParadox(px);
  bytes[0x25] = 0x9A;  // the check of a password
  WriteFile(source.PathOf("OLD.DB"), bytes);
  bool asked = false;
  try {
    OpenSourceTable(source.PathOf("OLD.DB"), [&](const std::string&, std::string&) { return asked = true; });
    ADD_FAILURE() << "the table was accepted";
  } catch (const ESourceError& error) {
    EXPECT_EQ(
        std::string(error.what()),
        source.PathOf("OLD.DB") + ": is protected by a password; encrypted Paradox 3 and 4 tables cannot be read");
  }
  EXPECT_FALSE(asked);
}

TEST_F(ByteFixtureTest, AValueThatDoesNotDecodeNamesFileFieldAndRecord) {
  const std::vector<TDbfField> fields{{"NAME", 'C', 4}, {"BORN", 'D', 8}, {"N", 'N', 5}};
  struct Case {
    std::string second;
    std::string field;
  } cases[] = {{"Bo  20230230    1", "BORN"}, {"Bo  20230101  1x1", "N"}, {"Bo  2023AB01    1", "BORN"}};
  for (const Case& c : cases) {
    WriteFile(source.PathOf("BAD.DBF"), BuildDbf(0x03, fields, {"Al  19991231    5", c.second}));
    const auto table = OpenSourceTable(source.PathOf("BAD.DBF"), nullptr);
    std::vector<TSourceValue> values;
    ASSERT_TRUE(table->Next(values));
    try {
      table->Next(values);
      ADD_FAILURE() << c.second << " decoded";
    } catch (const ESourceError& error) {
      EXPECT_EQ(std::string(error.what()),
                source.PathOf("BAD.DBF") + ": field " + c.field + " of record 2 holds " +
                    (c.field == "N" ? "no number: \"1x1\"" : "no date: \"" + c.second.substr(4, 8) + "\""));
    }
  }
}

}  // namespace
}  // namespace kavrin::transfer::testing
