// Tables written by independent writers (pxlib, python3-dbf, Perl XBase), transferred and read back
// through TDataFile: per fixture the engine's fields, indexes and values.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/transfer/readers/paradox_scrambling.h"
#include "apps/transfer/readers/source_table.h"
#include "apps/transfer/table_transfer.h"
#include "engine/data_file.h"
#include "runtime/date_time.h"
#include "tests/apps/transfer/transfer_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::transfer::testing {
namespace {

using Fields = std::vector<TReadField>;
using Record = std::vector<std::string>;

std::int32_t Day(int y, int m, int d) { return runtime::DateTimeToTimeStamp(runtime::EncodeDate(y, m, d)).Date; }

std::string Repeat(const std::string& hexByte, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += hexByte;
  return out;
}

std::string Alphabet(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += static_cast<char>('a' + i % 26);
  return out;
}

std::string HexOf(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class WriterFixtureTest : public ::testing::Test {
 protected:
  void Transfer(const std::vector<std::string>& entries) {
    TTableTransfer transfer(ui);
    transfer.BeginTransfer(source.Path(), entries, destination.Path());
  }
  kavrin::testing::TempDir source;
  kavrin::testing::TempDir destination;
  TRecordingUi ui;
};

TEST_F(WriterFixtureTest, KeyedParadoxTableOfEveryTypePxlibWrites) {
  WriteParadoxFixture("types", source.PathOf("TYPES.DB"), source.PathOf("TYPES.MB"), source.PathOf("TYPES.PX"));
  Transfer({"TYPES.DB"});
  EXPECT_EQ(ui.Events, (std::vector<std::string>{"busy", "status: Transferring table TYPES.DB to KAVRIN table...",
                                                 "status: ", "message: Transfer completed successfully.", "idle"}));
  const TReadTable t = ReadEngineTable(destination.PathOf("TYPES.DAT"));
  EXPECT_EQ(t.Fields, (Fields{{"ID", 6, 0, 0, 0, false},
                              {"NAME", 1, 0, 20, 0, false},
                              {"BORN", 2, 0, 0, 0, false},
                              {"SMALL", 5, 0, 0, 0, false},
                              {"PRICE", 7, 21, 0, 0, false},
                              {"RATIO", 7, 0, 0, 0, false},
                              {"OK", 4, 0, 0, 0, false},
                              {"NOTES", 3, 22, 0, 0, false},
                              {"DATA", 3, 23, 0, 0, false},
                              {"PICTURE", 3, 26, 0, 0, false},
                              {"AT", 10, 0, 0, 0, false},
                              {"STAMP", 11, 0, 0, 0, false},
                              {"AMOUNT", 8, 0, 0, 2, false},
                              {"RAW", 9, 0, 6, 0, false},
                              {"FMT", 3, 24, 0, 0, false},
                              {"OLE", 3, 0, 0, 0, false}}));
  ASSERT_EQ(t.Indexes.size(), 1u);
  EXPECT_EQ(t.Indexes[0], (TReadIndex{"", {1}, true, false, false}));
  const double stamp = static_cast<double>(Day(2001, 2, 3)) * 86400000.0;
  ASSERT_EQ(t.Records.size(), 3u);
  // The picture with a valid 8-byte header loses it; the one whose header length is wrong stays whole.
  EXPECT_EQ(t.Records[0],
            (Record{"1", "Alpha one", std::to_string(Day(1999, 12, 31)), "-7", "12.5", "0.125", "1", "short", "010203",
                    Repeat("5a", 592), "3723004", std::to_string(static_cast<long long>(stamp + 45296789.0)),
                    "12345600", "010200040506", "fmt", "0708"}));
  EXPECT_EQ(t.Records[1],
            (Record{"2", "B", std::to_string(Day(1999, 12, 30)), "300", "-3.25", "-10000000000", "0", Alphabet(2999),
                    HexOf(Alphabet(100)), "01000001090000007879", "1", std::to_string(static_cast<long long>(stamp)),
                    "-700", "010200040506", "fmt", "0708"}));
  EXPECT_EQ(t.Records[2], (Record{"3", "null", "null", "null", "null", "null", "null", "null", "null", "null", "null",
                                  "null", "null", "null", "null", "null"}));
}

TEST_F(WriterFixtureTest, UnkeyedParadoxTableOfEveryTypeIsTheKeyedOneAfterARecordId) {
  WriteParadoxFixture("types", source.PathOf("TYPES.DB"), source.PathOf("TYPES.MB"), source.PathOf("TYPES.PX"));
  WriteParadoxFixture("types-unkeyed", source.PathOf("LOOSE.DB"), source.PathOf("LOOSE.MB"));
  Transfer({"TYPES.DB", "LOOSE.DB"});
  EXPECT_EQ(ui.Messages(),
            (std::vector<std::string>{
                "A primary index was not found in source table LOOSE.DB, a primary index based upon an auto-increment "
                "field called RecordID will be added to the new KAVRIN data file.",
                "Transfer completed successfully."}));
  const TReadTable keyed = ReadEngineTable(destination.PathOf("TYPES.DAT"));
  const TReadTable loose = ReadEngineTable(destination.PathOf("LOOSE.DAT"));
  Fields fields{{"RecordID", 6, 29, 0, 0, false}};
  fields.insert(fields.end(), keyed.Fields.begin(), keyed.Fields.end());
  EXPECT_EQ(loose.Fields, fields);
  std::vector<Record> records;
  for (std::size_t i = 0; i < keyed.Records.size(); ++i) {
    records.push_back(Record{std::to_string(i + 1)});
    records.back().insert(records.back().end(), keyed.Records[i].begin(), keyed.Records[i].end());
  }
  EXPECT_EQ(loose.Records, records);
  ASSERT_EQ(loose.Indexes.size(), 1u);
  EXPECT_EQ(loose.Indexes[0], (TReadIndex{"", {1}, true, false, false}));
}

TEST_F(WriterFixtureTest, UnkeyedParadoxTableGetsRecordIdAndKeepsItsAutoIncIds) {
  WriteParadoxFixture("plain", source.PathOf("PLAIN.DB"), source.PathOf("PLAIN.MB"));
  Transfer({"PLAIN.DB"});
  EXPECT_EQ(ui.Messages(),
            (std::vector<std::string>{
                "Field name TEXT in source table PLAIN.DB exceeds the maximum field length of 245 in KAVRIN and will "
                "be truncated in the new KAVRIN data file.",
                "A primary index was not found in source table PLAIN.DB, a primary index based upon an auto-increment "
                "field called RecordID will be added to the new KAVRIN data file.",
                "Transfer completed successfully."}));
  TReadTable t = ReadEngineTable(destination.PathOf("PLAIN.DAT"));
  EXPECT_EQ(t.Fields, (Fields{{"RecordID", 6, 29, 0, 0, false},
                              {"SEQ", 6, 29, 0, 0, false},
                              {"TEXT", 1, 0, 245, 0, false},
                              {"NOTE", 3, 22, 0, 0, false}}));
  ASSERT_EQ(t.Indexes.size(), 1u);
  // The engine keeps every primary index unique.
  EXPECT_EQ(t.Indexes[0], (TReadIndex{"", {1}, true, false, false}));
  // Written in code page 1252: 0x89 (per mille) and 0x82 (low quote) have no CP437 character.
  const std::string cut = "?" + std::string(244, 'x');
  EXPECT_EQ(t.Records, (std::vector<Record>{
                           {"5", "5", cut, "memo ?"}, {"7", "7", "short", "memo ?"}, {"9", "9", "short", "memo ?"}}));
  EXPECT_EQ(t.LastUniqueID, 9);

  // A record added later takes an id above the highest kept one.
  engine::TDataFile table;
  table.SetFileName(destination.PathOf("PLAIN.DAT"));
  table.Open();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(table.RecordSize()));
  table.InitRecord(image.data());
  table.InsertRecord(image.data());
  table.Close();
  t = ReadEngineTable(destination.PathOf("PLAIN.DAT"));
  ASSERT_EQ(t.Records.size(), 4u);
  EXPECT_EQ(t.Records[3][0], "10");
}

TEST_F(WriterFixtureTest, BcdDecimalsPastFourRoundToTheNearestWithHalvesToEven) {
  WriteParadoxFixture("rates", source.PathOf("RATES.DB"), source.PathOf("RATES.MB"));
  Transfer({"RATES.DB"});
  const TReadTable t = ReadEngineTable(destination.PathOf("RATES.DAT"));
  EXPECT_EQ(t.Fields[1], (TReadField{"RATE", 8, 0, 0, 4, false}));
  // 0.123456, -0.123456, 0.12345, 0.12355, 2.99995, -0.000051 as a Currency's raw value.
  EXPECT_EQ(t.Records, (std::vector<Record>{
                           {"1", "1235"}, {"2", "-1235"}, {"3", "1234"}, {"4", "1236"}, {"5", "30000"}, {"6", "-1"}}));
}

TEST_F(WriterFixtureTest, ParadoxCodePageIsRecodedToOem) {
  WriteParadoxFixture("codepage", source.PathOf("CP.DB"), source.PathOf("CP.MB"));
  Transfer({"CP.DB"});
  const TReadTable t = ReadEngineTable(destination.PathOf("CP.DAT"));
  ASSERT_EQ(t.Records.size(), 3u);
  EXPECT_EQ(t.Records[0][2], "\x89" + std::string(244, 'x'));  // e with diaeresis in 850 and 437 alike
  EXPECT_EQ(t.Records[0][3], "memo \x82");
}

TEST_F(WriterFixtureTest, APasswordGivesTheCheckInTheHeaderOfTheTableItEncrypts) {
  std::string varied;
  for (int i = 0; i < 254; ++i) varied += static_cast<char>(1 + (i * 89) % 255);
  const std::vector<std::string> passwords{"secret",
                                           "a",
                                           "aa",
                                           "ab",
                                           "abc",
                                           "Zebra Stripes 42",
                                           "fifteen letters",
                                           "\x01\xff\x80~",
                                           varied,
                                           varied.substr(0, 100),
                                           std::string(255, 'q'),
                                           std::string(256, 'x')};
  for (const std::string& password : passwords) {
    SCOPED_TRACE(password);
    // The writer takes the password where it otherwise takes an index file.
    WriteParadoxFixture("password", source.PathOf("KEY.DB"), source.PathOf("KEY.MB"), password);
    const std::vector<std::uint8_t> header = ReadFile(source.PathOf("KEY.DB"));
    ASSERT_GE(header.size(), 0x60u);
    EXPECT_EQ(ParadoxPasswordCheck(password), (TParadoxCheck{header[0x5C], header[0x5D], header[0x5E], header[0x5F]}));
  }
  EXPECT_EQ(ParadoxPasswordCheck(""), TParadoxCheck{});
}

TEST_F(WriterFixtureTest, AnEncryptedParadoxTableReadsOnceItsPasswordMatches) {
  // The same table, plain and under each password, over several blocks and with memos.
  WriteParadoxFixture("many", source.PathOf("PLAIN.DB"), source.PathOf("PLAIN.MB"), "-");
  Transfer({"PLAIN.DB"});
  const TReadTable plain = ReadEngineTable(destination.PathOf("PLAIN.DAT"));
  ASSERT_EQ(plain.Records.size(), 120u);
  std::string memo;
  for (int k = 0; k < 3111; ++k) memo += static_cast<char>('a' + (9 + k) % 26);
  EXPECT_EQ(plain.Records[2][3], memo);
  for (const std::string password : {"secret", "a", "Zebra Stripes 42", "\x01\xff\x80~"}) {
    SCOPED_TRACE(password);
    WriteParadoxFixture("many", source.PathOf("LOCKED.DB"), source.PathOf("LOCKED.MB"), password);
    ui = TRecordingUi{};
    ui.Password = password;
    Transfer({"LOCKED.DB"});
    EXPECT_EQ(ui.Events, (std::vector<std::string>{
                             "busy", "status: Transferring table LOCKED.DB to KAVRIN table...",
                             "password: " + source.PathOf("LOCKED.DB"),
                             "message: A primary index was not found in source table LOCKED.DB, a primary index based "
                             "upon an auto-increment field called RecordID will be added to the new KAVRIN data file.",
                             "status: ", "message: Transfer completed successfully.", "idle"}));
    const TReadTable locked = ReadEngineTable(destination.PathOf("LOCKED.DAT"));
    EXPECT_EQ(locked.Fields, plain.Fields);
    EXPECT_EQ(locked.Records, plain.Records);
  }
}

TEST_F(WriterFixtureTest, AnEncryptedParadoxTableFailsWithoutItsPassword) {
  WriteParadoxFixture("password", source.PathOf("SECRET.DB"), source.PathOf("SECRET.MB"));
  struct Case {
    const char* answer;  // empty: the question is given up
    const char* problem;
  };
  const Case cases[] = {{"", "is protected by a password, and none was given"},
                        {"Secret", "is protected by a password, and the password given does not match"},
                        {"secrets", "is protected by a password, and the password given does not match"},
                        // gives the same scrambling key, but not the same check
                        {"secretsecret", "is protected by a password, and the password given does not match"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ui = TRecordingUi{};
    ui.Password = c.answer;
    try {
      Transfer({"SECRET.DB"});
      ADD_FAILURE() << "the table was transferred";
    } catch (const ESourceError& error) {
      EXPECT_EQ(std::string(error.what()), source.PathOf("SECRET.DB") + ": " + c.problem);
    }
    EXPECT_EQ(ui.Events, (std::vector<std::string>{"busy", "status: Transferring table SECRET.DB to KAVRIN table...",
                                                   "password: " + source.PathOf("SECRET.DB"), "status: ", "idle"}));
  }
}

TEST_F(WriterFixtureTest, DBaseThreeFromPythonDbfSkipsDeletedRecordsAndReadsBlanksAsNull) {
  RunPythonDbf(source.Path(), "people");
  Transfer({"PEOPLE.DBF"});
  const TReadTable t = ReadEngineTable(destination.PathOf("PEOPLE.DAT"));
  EXPECT_EQ(t.Fields, (Fields{{"RecordID", 6, 29, 0, 0, false},
                              {"NAME", 1, 0, 20, 0, false},
                              {"AGE", 7, 0, 0, 0, false},
                              {"PRICE", 7, 0, 0, 0, false},
                              {"BORN", 2, 0, 0, 0, false},
                              {"OK", 4, 0, 0, 0, false},
                              {"NOTES", 3, 22, 0, 0, false}}));
  EXPECT_EQ(t.Records,
            (std::vector<Record>{
                {"1", "Ann", "42", "12.5", std::to_string(Day(1970, 1, 2)), "1", "first memo"},
                {"2", "null", "null", "null", "null", "null", "null"},
                {"3", "Carl", "-7", "-0.25", std::to_string(Day(2024, 2, 29)), "0", std::string(1500, 'x')}}));
}

TEST_F(WriterFixtureTest, ALastMemoShorterThanABlockLeadReadsToTheEndOfTheMemoFile) {
  RunPythonDbf(source.Path(), "shortmemo");
  ASSERT_EQ(ReadFile(source.PathOf("SHORT.DBT")).size(), 2 * 512u + 4);  // "Hi", 1A, 1A
  Transfer({"SHORT.DBF"});
  EXPECT_EQ(ReadEngineTable(destination.PathOf("SHORT.DAT")).Records,
            (std::vector<Record>{{"1", "Ann", "a longer first memo"}, {"2", "Bob", "Hi"}}));
}

// Reads the table in a child process whose data segment is limited to 256 MiB; true when the child
// read every record and the last memo was "Hi".
bool ReadsWithinTheLimit(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_DATA, &limit);
    try {
      const auto table = OpenSourceTable(path, nullptr);
      std::vector<TSourceValue> values;
      std::string last;
      while (table->Next(values)) last = values.back().Bytes;
      _exit(last == "Hi" ? 0 : 1);
    } catch (...) {
      _exit(2);
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(WriterFixtureTest, AMemoTwoGigabytesIntoItsFileIsReadWithoutHoldingTheFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory does not fit a limited data segment";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the sanitizer's shadow memory does not fit a limited data segment";
#endif
#endif
  RunPythonDbf(source.Path(), "shortmemo");
  // The second record's memo moves to block 4,000,000 of a sparse memo file (2 GB in).
  std::vector<std::uint8_t> dbf = ReadFile(source.PathOf("SHORT.DBF"));
  const std::size_t headerSize = dbf[8] | dbf[9] << 8;
  const std::size_t recordSize = dbf[10] | dbf[11] << 8;
  const std::string block = "   4000000";
  std::copy(block.begin(), block.end(), dbf.begin() + static_cast<std::ptrdiff_t>(headerSize + 2 * recordSize - 10));
  WriteFile(source.PathOf("SHORT.DBF"), dbf);
  const int fd = ::open(source.PathOf("SHORT.DBT").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  std::string memo("Hi\x1A\x1A");
  memo.resize(512, '\0');
  ASSERT_EQ(::pwrite(fd, memo.data(), memo.size(), 4000000LL * 512), 512);
  ::close(fd);
  EXPECT_TRUE(ReadsWithinTheLimit(source.PathOf("SHORT.DBF")));
}

TEST_F(WriterFixtureTest, DamagedFieldNamesAreRefusedNamingTheSourceFile) {
  RunPythonDbf(source.Path(), "people");
  const std::vector<std::uint8_t> original = ReadFile(source.PathOf("PEOPLE.DBF"));
  // The second field descriptor (AGE) starts at 64; its name has 11 bytes.
  struct Case {
    std::string name;
    std::string shown;
  } cases[] = {
      {std::string("?d"), "\"?d\" does not start with a letter"},
      {std::string("\x01"
                   "d"),
       "\"\\x01d\" holds a control character"},
      {std::string("A\x02"), "\"A\\x02\" holds a control character"},
      {std::string("name"), "\"name\" appears twice"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> damaged = original;
    std::fill(damaged.begin() + 64, damaged.begin() + 64 + 11, 0);
    std::copy(c.name.begin(), c.name.end(), damaged.begin() + 64);
    WriteFile(source.PathOf("PEOPLE.DBF"), damaged);
    try {
      Transfer({"PEOPLE.DBF"});
      ADD_FAILURE() << c.shown;
    } catch (const ESourceError& error) {
      EXPECT_EQ(std::string(error.what()),
                source.PathOf("PEOPLE.DBF") + ": the file is damaged (field name " + c.shown + ")");
    }
    EXPECT_TRUE(std::filesystem::is_empty(destination.Path())) << c.shown;
  }
}

// Names repeat as the engine compares them: stored in Windows-1252 and upper-cased with its table, so
// "Zé" and "ZÉ" (CP437 bytes 82 and 90) are one name.
TEST_F(WriterFixtureTest, FieldNamesThatDifferOnlyInTheCaseOfALetterOutsideAsciiAreRefusedNamingTheSourceFile) {
  RunPythonDbf(source.Path(), "people");
  std::vector<std::uint8_t> damaged = ReadFile(source.PathOf("PEOPLE.DBF"));
  // The field descriptors start at 32 and 64; each name has 11 bytes.
  for (const auto& [at, name] : {std::pair{32, std::string("Z\x82")}, std::pair{64, std::string("Z\x90")}}) {
    std::fill(damaged.begin() + at, damaged.begin() + at + 11, 0);
    std::copy(name.begin(), name.end(), damaged.begin() + at);
  }
  WriteFile(source.PathOf("PEOPLE.DBF"), damaged);
  try {
    Transfer({"PEOPLE.DBF"});
    ADD_FAILURE() << "the transfer went through";
  } catch (const ESourceError& error) {
    EXPECT_EQ(std::string(error.what()),
              source.PathOf("PEOPLE.DBF") + ": the file is damaged (field name \"Z\u00c9\" appears twice)");
  }
  EXPECT_TRUE(std::filesystem::is_empty(destination.Path()));
}

TEST_F(WriterFixtureTest, DBaseCodePagesFromTheLanguageDriverByte) {
  RunPythonDbf(source.Path(), "codepages");
  Transfer({"CP437.DBF", "CP850.DBF", "CP1252.DBF"});
  // "Zoë Å" and "café Ñ" in CP437.
  const Record expected{"1", "Zo\x89 \x8f", "caf\x82 \xa5"};
  for (const char* name : {"CP437.DAT", "CP850.DAT", "CP1252.DAT"}) {
    const TReadTable t = ReadEngineTable(destination.PathOf(name));
    ASSERT_EQ(t.Records.size(), 1u) << name;
    EXPECT_EQ(t.Records[0], expected) << name;
  }
}

TEST_F(WriterFixtureTest, DBaseFourFromPerlXBaseWithLowerCaseNames) {
  RunPerlXBase("xbase_writer.pl", {source.Path()});
  Transfer({"lower.dbf"});
  const TReadTable t = ReadEngineTable(destination.PathOf("lower.DAT"));
  EXPECT_EQ(t.Fields, (Fields{{"RecordID", 6, 29, 0, 0, false},
                              {"ID", 7, 0, 0, 0, false},
                              {"TITLE", 1, 0, 15, 0, false},
                              {"BODY", 3, 22, 0, 0, false},
                              {"WHEN", 2, 0, 0, 0, false},
                              {"DONE", 4, 0, 0, 0, false}}));
  EXPECT_EQ(t.Records,
            (std::vector<Record>{{"1", "1", "one", "short memo", std::to_string(Day(1999, 12, 31)), "1"},
                                 {"2", "2", "two", std::string(2000, 'y'), std::to_string(Day(2000, 1, 1)), "0"},
                                 {"3", "3", "null", "null", "null", "null"}}));
}

}  // namespace
}  // namespace kavrin::transfer::testing
