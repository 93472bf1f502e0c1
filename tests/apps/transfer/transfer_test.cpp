// The click's messages, in order, through the window interface; the cases the original got wrong;
// failures ending the click with earlier tables intact.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "apps/transfer/readers/source_table.h"
#include "apps/transfer/table_transfer.h"
#include "apps/transfer/transfer_error.h"
#include "engine/engine_error.h"
#include "tests/apps/transfer/byte_fixtures.h"
#include "tests/apps/transfer/transfer_test_support.h"
#include "tests/helpers/holder_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::transfer::testing {
namespace {

using Record = std::vector<std::string>;
using Texts = std::vector<std::string>;

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Every file of a folder with its bytes.
std::map<std::string, std::vector<std::uint8_t>> Snapshot(const std::string& directory) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  return files;
}

// NAME C4 and a memo in a dBase III memo file: records "n1" to "n<count>", each memo "memo <n>"; the
// memo of record badRecord (from 1) points past the end of the memo file.
void WriteMemoTable(const std::string& dbf, const std::string& dbt, int count, int badRecord = 0) {
  std::vector<std::string> records;
  std::vector<std::uint8_t> memos(512, 0);
  for (int n = 1; n <= count; ++n) {
    const int block = n == badRecord ? 9999 : static_cast<int>(memos.size() / 512);
    std::string name = "n" + std::to_string(n);
    name.resize(4, ' ');
    std::string number = std::to_string(block);
    records.push_back(name + std::string(10 - number.size(), ' ') + number);
    if (n == badRecord) continue;
    const std::string text = "memo " + std::to_string(n) + "\x1A\x1A";
    std::vector<std::uint8_t> memo(512, 0);
    std::copy(text.begin(), text.end(), memo.begin());
    memos.insert(memos.end(), memo.begin(), memo.end());
  }
  memos[0] = static_cast<std::uint8_t>(memos.size() / 512);
  WriteFile(dbf, BuildDbf(0x83, {{"NAME", 'C', 4}, {"NOTES", 'M', 10}}, records));
  WriteFile(dbt, memos);
}

class TransferTest : public ::testing::Test {
 protected:
  void Transfer(const std::vector<std::string>& entries) {
    TTableTransfer transfer(ui);
    transfer.BeginTransfer(source.Path(), entries, destination.Path());
  }
  // NAME C10, CITY C10 with two records.
  void WriteNames(const std::string& name, const std::string& first = "Ann       Oslo") {
    WriteFile(source.PathOf(name), BuildDbf(0x03, {{"NAME", 'C', 10}, {"CITY", 'C', 10}}, {first, "Bob       Rome"}));
  }
  kavrin::testing::TempDir source;
  kavrin::testing::TempDir destination;
  TRecordingUi ui;
};

TEST_F(TransferTest, NoFileSelectedCompletesAtOnce) {
  Transfer({});
  EXPECT_EQ(ui.Events, (Texts{"busy", "message: Transfer completed successfully.", "idle"}));
}

TEST_F(TransferTest, EveryMessageInOrderForTwoTables) {
  WriteNames("ONE.DBF");
  WriteNames("TWO.DBF");
  std::vector<TMdxTag> tags(3);
  tags[0] = {"PLACE", "NAME+CITY", 'C', 20, false, false, {}};
  tags[1] = {"UPPERED", "UPPER(NAME)", 'C', 10, false, false, {}};
  tags[2] = {"MISSING", "NAME+COUNTRY", 'C', 20, false, false, {}};
  WriteFile(source.PathOf("TWO.DBF"),
            BuildDbf(0x03, {{"NAME", 'C', 10}, {"CITY", 'C', 10}}, {"Ann       Oslo"}, 0, true));
  WriteFile(source.PathOf("TWO.MDX"), BuildMdx("TWO", tags));
  Transfer({" ONE.DBF ", "TWO.DBF"});
  const std::string noPrimary =
      ", a primary index based upon an auto-increment field called RecordID will be added to the new KAVRIN data file.";
  EXPECT_EQ(ui.Events,
            (Texts{"busy", "status: Transferring table ONE.DBF to KAVRIN table...",
                   "message: A primary index was not found in source table ONE.DBF" + noPrimary,
                   "status: ", "status: Transferring table TWO.DBF to KAVRIN table...",
                   "message: Index UPPERED in source table TWO.DBF is an expression index that contains functions and "
                   "will not be transferred over to the new KAVRIN data file.",
                   "message: Index MISSING in source table TWO.DBF is an expression index that contains functions and "
                   "will not be transferred over to the new KAVRIN data file.",
                   "message: A primary index was not found in source table TWO.DBF" + noPrimary,
                   "status: ", "message: Transfer completed successfully.", "idle"}));
  const TReadTable two = ReadEngineTable(destination.PathOf("TWO.DAT"));
  // NAME+CITY becomes an index on NAME;CITY, renumbered past the RecordID.
  EXPECT_EQ(two.Indexes,
            (std::vector<TReadIndex>{{"", {1}, true, false, false}, {"PLACE", {2, 3}, false, false, false}}));
}

TEST_F(TransferTest, RecordsAreCopiedWithTheProgressShownAndMessagesProcessedAtMostEveryTenMilliseconds) {
  std::vector<std::string> records;
  for (int n = 1; n <= 4; ++n) records.push_back("n" + std::to_string(n));
  WriteFile(source.PathOf("FOUR.DBF"), BuildDbf(0x03, {{"NAME", 'C', 4}}, records));
  struct Case {
    int stepMs;
    Texts statuses;
    int processed;
  } cases[] = {
      {0, {"Transferring table FOUR.DBF to KAVRIN table...", ""}, 2},
      {10,
       {"Transferring table FOUR.DBF to KAVRIN table...",
        "Transferring table FOUR.DBF to KAVRIN table... record 1 of 4",
        "Transferring table FOUR.DBF to KAVRIN table... record 2 of 4",
        "Transferring table FOUR.DBF to KAVRIN table... record 3 of 4",
        "Transferring table FOUR.DBF to KAVRIN table... record 4 of 4", ""},
       6},
      {4,
       {"Transferring table FOUR.DBF to KAVRIN table...",
        "Transferring table FOUR.DBF to KAVRIN table... record 3 of 4", ""},
       3},
  };
  for (const Case& c : cases) {
    ui = TRecordingUi();
    ui.Step = std::chrono::milliseconds(c.stepMs);
    Transfer({"FOUR.DBF"});
    Texts statuses;
    for (const std::string& e : ui.Events)
      if (e.rfind("status: ", 0) == 0) statuses.push_back(e.substr(8));
    EXPECT_EQ(statuses, c.statuses) << c.stepMs;
    EXPECT_EQ(ui.Processed, c.processed) << c.stepMs;
  }
}

TEST_F(TransferTest, ABcdFieldWithMoreThanFourDecimalsIsCutAfterItsMessage) {
  TPxFile px;
  px.FileType = 2;
  px.Fields = {{0x17, 6, "RATE"}};
  std::vector<std::uint8_t> bcd(17, 0);
  bcd[0] = 0x80 | 32;
  bcd[16] = 0x12;  // 0.000012
  bcd[15] = 0x34;  // 0.003412 with six decimals
  px.Records = {bcd};
  WriteFile(source.PathOf("RATES.DB"), BuildParadox(px));
  Transfer({"RATES.DB"});
  EXPECT_EQ(ui.Messages().front(),
            "Field name RATE in source table RATES.DB exceeds the maximum number of BCD decimals (4) in KAVRIN and "
            "will be truncated in the new KAVRIN data file.");
  const TReadTable t = ReadEngineTable(destination.PathOf("RATES.DAT"));
  EXPECT_EQ(t.Fields[1], (TReadField{"RATE", 8, 0, 0, 4, false}));
  EXPECT_EQ(t.Records, (std::vector<Record>{{"1", "34"}}));  // 0.0034 as a Currency's raw value
}

// A BCD value of `decimals` decimals whose 32 digits end in `digits`.
std::vector<std::uint8_t> PxBcd(int decimals, const std::string& digits, bool negative) {
  std::vector<std::uint8_t> bcd(17, 0);
  bcd[0] = static_cast<std::uint8_t>(0x80 | decimals);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const std::size_t nibble = 32 - digits.size() + i;
    const int value = digits[i] - '0';
    bcd[1 + nibble / 2] |= static_cast<std::uint8_t>(nibble % 2 == 0 ? value << 4 : value);
  }
  if (negative)
    for (std::uint8_t& b : bcd) b = static_cast<std::uint8_t>(~b);
  return bcd;
}

TEST_F(TransferTest, ABcdValueBeyondACurrencyIsRefusedNamingTheSourceField) {
  struct Case {
    int decimals;
    std::string digits;
    bool negative;
    const char* raw;  // nullptr: refused
  } cases[] = {
      // The engine stores a BCD value's digits and its decimals in one 64-bit number.
      {4, "922337203685477580", false, "922337203685477580"},
      {4, "922337203685477580", true, "-922337203685477580"},
      {6, "92233720368547758049", false, "922337203685477580"},
      {4, "9223372036854775808", false, nullptr},
      {4, "9223372036854775809", true, nullptr},
      {4, "99999999999999999999", false, nullptr},
      {6, "922337203685477580750", false, nullptr},
      {6, "922337203685477580800", false, nullptr},
      {0, "922337203685478", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.decimals) + " " + c.digits + (c.negative ? " negative" : ""));
    TPxFile px;
    px.FileType = 2;
    px.Fields = {{0x17, static_cast<std::uint8_t>(c.decimals), "RATE"}};
    px.Records = {PxBcd(c.decimals, c.digits, c.negative)};
    WriteFile(source.PathOf("RATES.DB"), BuildParadox(px));
    std::filesystem::remove(destination.PathOf("RATES.DAT"));
    std::filesystem::remove(destination.PathOf("RATES.IDX"));
    ui = TRecordingUi{};
    if (c.raw == nullptr) {
      try {
        Transfer({"RATES.DB"});
        ADD_FAILURE() << "the value was transferred";
      } catch (const ESourceError& error) {
        EXPECT_EQ(std::string(error.what()),
                  source.PathOf("RATES.DB") + ": field RATE of record 1 holds a BCD value too large for the engine");
      }
      continue;
    }
    Transfer({"RATES.DB"});
    EXPECT_EQ(ReadEngineTable(destination.PathOf("RATES.DAT")).Records, (std::vector<Record>{{"1", c.raw}}));
  }
}

// Names are judged as the engine stores and compares them: in Windows-1252, cut to 30 bytes, upper-cased
// with its table. CP437's 0x90 is "\u00c9", 0x82 "\u00e9": two bytes each in UTF-8, one in Windows-1252.
TEST_F(TransferTest, SourceFieldNamesAreCheckedInTheBytesTheEngineStores) {
  const std::string accents(15, '\x90');
  struct Case {
    std::string first;
    std::string second;
    std::vector<std::string> stored;  // empty: refused as a repeated name
  } cases[] = {
      // 32 bytes in UTF-8 but 17 in Windows-1252: the names differ within the engine's 30.
      {"A" + accents + "1",
       "A" + accents + "2",
       {"A" + std::string(15, '\xC9') + "1", "A" + std::string(15, '\xC9') + "2"}},
      // One name to the engine, which upper-cases "\u00e9" to "\u00c9".
      {"A\x90", "A\x82", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    TPxFile px;
    px.FileType = 2;
    px.Fields = {{0x01, 4, c.first}, {0x01, 4, c.second}};
    px.Records = {Concat({PxAlpha(4, "a"), PxAlpha(4, "b")})};
    WriteFile(source.PathOf("NAMES.DB"), BuildParadox(px));
    std::filesystem::remove(destination.PathOf("NAMES.DAT"));
    std::filesystem::remove(destination.PathOf("NAMES.IDX"));
    ui = TRecordingUi{};
    if (c.stored.empty()) {
      try {
        Transfer({"NAMES.DB"});
        ADD_FAILURE() << "the table was transferred";
      } catch (const ESourceError& error) {
        EXPECT_EQ(std::string(error.what()),
                  source.PathOf("NAMES.DB") + ": the file is damaged (field name \"A\u00e9\" appears twice)");
      }
      continue;
    }
    Transfer({"NAMES.DB"});
    const TReadTable t = ReadEngineTable(destination.PathOf("NAMES.DAT"));
    ASSERT_EQ(t.Fields.size(), 3u);
    EXPECT_EQ(t.Fields[1].Name, c.stored[0]);
    EXPECT_EQ(t.Fields[2].Name, c.stored[1]);
  }
}

TEST_F(TransferTest, TwoSourcesForOneDestinationTransferOnlyTheFirst) {
  TPxFile px;
  px.FileType = 2;
  px.Fields = {{0x01, 10, "NAME"}};
  px.Records = {PxAlpha(10, "Paradox")};
  WriteFile(source.PathOf("CUST.DB"), BuildParadox(px));
  WriteNames("CUST.DBF", "dBase     x");
  Transfer({"CUST.DB", "CUST.DBF"});
  const Texts messages = ui.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[1],
            "Source table CUST.DBF would replace the KAVRIN data file just transferred from source table CUST.DB and "
            "will not be transferred.");
  EXPECT_EQ(ReadEngineTable(destination.PathOf("CUST.DAT")).Records, (std::vector<Record>{{"1", "Paradox"}}));
}

TEST_F(TransferTest, ASecondClickReplacesTheTablesOfTheFirst) {
  // The first table has memos, the second none: its blob file must not stay behind.
  WriteMemoTable(source.PathOf("AGAIN.DBF"), source.PathOf("AGAIN.DBT"), 6);
  Transfer({"AGAIN.DBF"});
  WriteNames("AGAIN.DBF", "Cleo      Kyiv");
  Transfer({"AGAIN.DBF"});
  EXPECT_EQ(ReadEngineTable(destination.PathOf("AGAIN.DAT")).Records,
            (std::vector<Record>{{"1", "Cleo", "Kyiv"}, {"2", "Bob", "Rome"}}));
  EXPECT_EQ(Snapshot(destination.Path()).size(), 2u);  // AGAIN.DAT and AGAIN.IDX
}

TEST_F(TransferTest, MoreFieldsThanTheEngineTakesIsRefusedBeforeAnythingIsCreated) {
  std::vector<TDbfField> many;
  for (int i = 0; i < 512; ++i) many.push_back({"F" + std::to_string(i), 'N', 2});
  WriteFile(source.PathOf("MANY.DBF"), BuildDbf(0x03, many, {" 1"}));
  WriteNames("AFTER.DBF");
  Transfer({"MANY.DBF", "AFTER.DBF"});
  EXPECT_EQ(ui.Messages().front(),
            "Source table MANY.DBF needs 513 fields in KAVRIN, more than the maximum of 512, and will not be "
            "transferred.");
  EXPECT_FALSE(Exists(destination.PathOf("MANY.DAT")));
  EXPECT_TRUE(Exists(destination.PathOf("AFTER.DAT")));
}

TEST_F(TransferTest, IndexesPastThirtySecondaryOnesAreSkippedEachWithAMessage) {
  WriteFile(source.PathOf("TAGGED.DBF"), BuildDbf(0x03, {{"NAME", 'C', 10}}, {"Ann"}, 0, true));
  std::vector<TMdxTag> tags;
  for (int i = 1; i <= 32; ++i) tags.push_back({"T" + std::to_string(i), "NAME", 'C', 10, false, false, {}});
  WriteFile(source.PathOf("TAGGED.MDX"), BuildMdx("TAGGED", tags));
  Transfer({"TAGGED.DBF"});
  const Texts messages = ui.Messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0],
            "Index T31 in source table TAGGED.DBF exceeds the maximum of 30 secondary indexes in KAVRIN "
            "and will not be transferred over to the new KAVRIN data file.");
  EXPECT_EQ(messages[1],
            "Index T32 in source table TAGGED.DBF exceeds the maximum of 30 secondary indexes in KAVRIN "
            "and will not be transferred over to the new KAVRIN data file.");
  EXPECT_EQ(ReadEngineTable(destination.PathOf("TAGGED.DAT")).Indexes.size(), 31u);
}

TEST_F(TransferTest, ADamagedFileEndsTheClickNamingItWithEarlierTablesIntact) {
  WriteNames("A.DBF");
  // B's memo points past the end of its memo file: found only while its records are copied.
  WriteFile(source.PathOf("B.DBF"),
            BuildDbf(0x83, {{"NAME", 'C', 4}, {"NOTES", 'M', 10}}, {"ok           0", "bad       9999"}));
  std::vector<std::uint8_t> dbt(512, 0);
  dbt[0] = 1;
  WriteFile(source.PathOf("B.DBT"), dbt);
  WriteNames("C.DBF");
  try {
    Transfer({"A.DBF", "B.DBF", "C.DBF"});
    FAIL() << "the damaged memo was not noticed";
  } catch (const ESourceError& error) {
    EXPECT_EQ(error.FileName(), source.PathOf("B.DBT"));
  }
  EXPECT_EQ(ui.Events.back(), "idle");
  EXPECT_EQ(ui.Events[ui.Events.size() - 2], "status: ");
  EXPECT_EQ(ReadEngineTable(destination.PathOf("A.DAT")).Records.size(), 2u);
  // Nothing of B, not even its temporary files.
  EXPECT_EQ(Snapshot(destination.Path()).size(), 2u);
  for (const std::string& e : ui.Events) EXPECT_NE(e, "message: Transfer completed successfully.");
}

TEST_F(TransferTest, AFailedTransferLeavesAnExistingTableByteIdenticalAndNoTemporaryFiles) {
  WriteMemoTable(source.PathOf("KEEP.DBF"), source.PathOf("KEEP.DBT"), 6);
  Transfer({"KEEP.DBF"});
  ASSERT_EQ(ReadEngineTable(destination.PathOf("KEEP.DAT")).Records.size(), 6u);
  const auto before = Snapshot(destination.Path());
  ASSERT_EQ(before.size(), 3u);  // KEEP.DAT, KEEP.IDX, KEEP.BLB
  struct Case {
    const char* what;
    std::function<void()> fail;
  } cases[] = {
      {"a memo past the end of its file in the fourth of eight records",
       [&] {
         WriteMemoTable(source.PathOf("KEEP.DBF"), source.PathOf("KEEP.DBT"), 8, 4);
         EXPECT_THROW(Transfer({"KEEP.DBF"}), ESourceError);
       }},
      {"the existing table open in another process",
       [&] {
         WriteMemoTable(source.PathOf("KEEP.DBF"), source.PathOf("KEEP.DBT"), 8);
         kavrin::testing::HolderProcess holder(destination.PathOf("KEEP.BLB"), kavrin::testing::HolderAccess::Read,
                                               kavrin::testing::HolderShare::Shared);
         ASSERT_TRUE(holder.Ready());
         try {
           Transfer({"KEEP.DBF"});
           ADD_FAILURE() << "a table open elsewhere was replaced";
         } catch (const ETransferEngineError& error) {
           EXPECT_EQ(error.Code(), engine::ec::AccessDenied);
         }
       }},
  };
  for (const Case& c : cases) {
    ui.Events.clear();
    c.fail();
    EXPECT_TRUE(Snapshot(destination.Path()) == before) << c.what;
    EXPECT_EQ(ui.Events.back(), "idle") << c.what;
  }
  EXPECT_EQ(ReadEngineTable(destination.PathOf("KEEP.DAT")).Records.size(), 6u);
}

TEST_F(TransferTest, ADestinationHeldOpenByAnotherProcessGivesTheEngineError) {
  WriteNames("HELD.DBF");
  kavrin::testing::HolderProcess holder(destination.PathOf("HELD.DAT"), kavrin::testing::HolderAccess::ReadWrite,
                                        kavrin::testing::HolderShare::Exclusive,
                                        kavrin::testing::HolderDisposition::CreateAlways);
  ASSERT_TRUE(holder.Ready());
  try {
    Transfer({"HELD.DBF"});
    FAIL() << "a table held open elsewhere was replaced";
  } catch (const ETransferEngineError& error) {
    EXPECT_EQ(error.Code(), engine::ec::AccessDenied);
    EXPECT_EQ(error.EngineText(), engine::GetEngineErrorMessage(error.Code()));
    EXPECT_EQ(std::string(error.what()), "Engine error 11013: " + error.EngineText());
  }
  EXPECT_EQ(ui.Events.back(), "idle");
  EXPECT_EQ(Snapshot(destination.Path()), (std::map<std::string, std::vector<std::uint8_t>>{{"HELD.DAT", {}}}));
}

}  // namespace
}  // namespace kavrin::transfer::testing
