#include "components/ascifile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/data/field.h"
#include "classlib/data/session.h"
#include "dataset/kavrintb.h"
#include "engine/data_file.h"
#include "runtime/conversions.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::components::ascifile {
namespace {

namespace en = kavrin::engine;
using en::testing::Field;
using en::testing::Index;
using kavrin::testing::ReadWholeFile;
using kavrin::testing::WriteWholeFile;

const char* const Null = "<null>";

class AsciiFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    tables_.clear();
    classlib::DBFinalization();
  }
  std::string PathOf(const std::string& name) const { return dir.PathOf(name); }
  void Create(const std::string& name, std::vector<en::TFieldDescriptor> fields,
              std::vector<en::TIndexDescriptor> indexes) {
    en::testing::CreateTableAt(PathOf(name), std::move(fields), std::move(indexes));
  }
  // Id integer (primary key), Name string 20, Count integer.
  void CreatePeople(const std::string& name) {
    Create(name, {Field(1, "Id", en::ftInteger), Field(2, "Name", en::ftString, 20), Field(3, "Count", en::ftInteger)},
           {Index("", {1}, true)});
  }
  dataset::TKAVRINTable& Open(const std::string& name) {
    auto table = std::make_unique<dataset::TKAVRINTable>();
    table->SetDatabaseName(dir.Path());
    table->SetTableName(name);
    table->SetLockRetryCount(0);
    table->SetLockWaitTime(1);
    table->Open();
    tables_.push_back(std::move(table));
    return *tables_.back();
  }
  // A component on the table and a file of the test folder, errors collected.
  void Prepare(TAsciiFile& ascii, dataset::TTable& table, const std::string& file) {
    ascii.SetTable(&table);
    ascii.SetFileName(PathOf(file));
    ascii.SetHeaders(false);
    ascii.OnImportError = [this](classlib::TComponent&, const std::exception& e) { errors.push_back(e.what()); };
    ascii.OnExportError = ascii.OnImportError;
  }
  // Each record's field values in index order, "<null>" for null, joined by "|".
  static std::vector<std::string> Rows(dataset::TTable& table) {
    std::vector<std::string> rows;
    table.First();
    while (!table.Eof()) {
      std::string row;
      for (int i = 0; i < table.FieldCount(); ++i) {
        if (i > 0) row += "|";
        classlib::TField* field = table.Fields(i);
        row += field->IsNull() ? std::string(Null) : field->AsString();
      }
      rows.push_back(row);
      table.Next();
    }
    return rows;
  }
  void AddPerson(dataset::TTable& table, int id, const std::string& name, int count) {
    table.Append();
    table.FieldByName("Id")->SetAsInteger(id);
    table.FieldByName("Name")->SetAsString(name);
    table.FieldByName("Count")->SetAsInteger(count);
    table.Post();
  }

  kavrin::testing::TempDir dir;
  std::vector<std::string> errors;
  std::vector<std::unique_ptr<dataset::TKAVRINTable>> tables_;
};

TEST_F(AsciiFileTest, Defaults) {
  TAsciiFile ascii;
  EXPECT_FALSE(ascii.FoxproFormat());
  EXPECT_EQ(ascii.FileType(), TFileType::ftCSV);
  EXPECT_EQ(ascii.Delimiter(), ',');
  EXPECT_EQ(ascii.ImportType(), TImportType::itReplace);
  EXPECT_EQ(ascii.ExportType(), TExportType::etReplace);
  EXPECT_TRUE(ascii.Headers());
  EXPECT_EQ(ascii.FileName(), "");
  EXPECT_EQ(ascii.Table(), nullptr);
  ascii.SetFileType(TFileType::ftTab);
  EXPECT_EQ(ascii.Delimiter(), '\t');
}

TEST_F(AsciiFileTest, ImportedLinesIntoANewRecord) {
  struct Case {
    const char* what;
    TFileType type;
    std::string line;
    std::string row;
  };
  const Case cases[] = {
      {"quoted comma", TFileType::ftCSV, "1,\"Smith, John\",5", "1|Smith, John|5"},
      {"quoted comma in the last column", TFileType::ftCSV, "1,\"Smith, John\"", "1|Smith, John|<null>"},
      {"blanks around a quoted value", TFileType::ftCSV, "1,  \"Smith, John\" ,5", "1|Smith, John|5"},
      {"fewer columns leave fields null", TFileType::ftCSV, "2", "2|<null>|<null>"},
      {"spaces only and empty quotes stay null", TFileType::ftCSV, "3,   ,\"\"", "3|<null>|<null>"},
      {"embedded quote removed", TFileType::ftCSV, "4,\"Say \"hi\"\",6", "4|Say hi|6"},
      {"tab file", TFileType::ftTab, "5\t\"a, b\"\t7", "5|a, b|7"},
      {"leading blanks of the line", TFileType::ftCSV, "  6,x,1", "6|x|1"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "P" + std::to_string(++n);
    CreatePeople(name);
    auto& table = Open(name);
    TAsciiFile ascii;
    Prepare(ascii, table, name + ".TXT");
    ascii.SetFileType(c.type);
    WriteWholeFile(ascii.FileName(), c.line + "\r\n");
    ascii.ImportFile();
    EXPECT_EQ(Rows(table), std::vector<std::string>{c.row});
    EXPECT_TRUE(errors.empty());
  }
}

TEST_F(AsciiFileTest, AnEmptyFirstColumnOfATabFileKeepsItsPlace) {
  Create("NOTES",
         {Field(1, "Note", en::ftString, 10), Field(2, "Id", en::ftInteger), Field(3, "Name", en::ftString, 10)},
         {Index("", {2}, true)});
  auto& table = Open("NOTES");
  TAsciiFile ascii;
  Prepare(ascii, table, "notes.txt");
  ascii.SetFileType(TFileType::ftTab);
  WriteWholeFile(ascii.FileName(), "\t7\tBob\r\nhi\t8\tAnn\r\n");
  ascii.ImportFile();
  EXPECT_EQ(Rows(table), (std::vector<std::string>{"<null>|7|Bob", "hi|8|Ann"}));
}

TEST_F(AsciiFileTest, UpdatingByKey) {
  struct Case {
    const char* what;
    TImportType type;
    std::string text;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"empty values never clear a field", TImportType::itUpdate, "1,\"\",  \r\n", {"1|Old|7", "2|Two|8"}},
      {"update changes the given values", TImportType::itUpdate, "2,,9\r\n", {"1|Old|7", "2|Two|9"}},
      {"update skips an unknown key", TImportType::itUpdate, "3,New,1\r\n", {"1|Old|7", "2|Two|8"}},
      {"append and update appends an unknown key",
       TImportType::itAppendUpdate,
       "3,New,1\r\n1,Renamed\r\n",
       {"1|Renamed|7", "2|Two|8", "3|New|1"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "U" + std::to_string(++n);
    CreatePeople(name);
    auto& table = Open(name);
    AddPerson(table, 1, "Old", 7);
    AddPerson(table, 2, "Two", 8);
    TAsciiFile ascii;
    Prepare(ascii, table, name + ".txt");
    ascii.SetImportType(c.type);
    WriteWholeFile(ascii.FileName(), c.text);
    ascii.ImportFile();
    EXPECT_EQ(Rows(table), c.rows);
    EXPECT_TRUE(errors.empty());
  }
}

TEST_F(AsciiFileTest, KeyOnASecondaryIndex) {
  Create("BYNAME",
         {Field(1, "Id", en::ftInteger), Field(2, "Name", en::ftString, 20), Field(3, "Count", en::ftInteger)},
         {Index("", {1}, true), Index("ByName", {2}, false, true)});
  auto& table = Open("BYNAME");
  AddPerson(table, 1, "Ann", 1);
  AddPerson(table, 2, "Bob", 2);
  table.SetIndexName("ByName");
  TAsciiFile ascii;
  Prepare(ascii, table, "byname.txt");
  ascii.SetImportType(TImportType::itUpdate);
  WriteWholeFile(ascii.FileName(), ",bob,20\r\n,Cy,3\r\n");  // case-insensitive index; Id not a key field
  ascii.ImportFile();
  EXPECT_EQ(Rows(table), (std::vector<std::string>{"1|Ann|1", "2|bob|20"}));
}

TEST_F(AsciiFileTest, StringsKeepQuotesAndLoseLineEndsOnExport) {
  Create("MEMO",
         {Field(1, "Id", en::ftInteger), Field(2, "Name", en::ftString, 30),
          Field(3, "Notes", en::ftBlob, 0, en::fstMemo)},
         {Index("", {1}, true)});
  auto& table = Open("MEMO");
  table.Append();
  table.FieldByName("Id")->SetAsInteger(1);
  table.FieldByName("Name")->SetAsString("Say \"hi\" now");
  table.FieldByName("Notes")->SetAsString("a\r\nb\rc\nd");
  table.Post();
  TAsciiFile ascii;
  Prepare(ascii, table, "memo.txt");
  ascii.ExportFile();
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "1,\"Say \"hi\" now\",\"abcd\"\r\n");
  ascii.SetImportType(TImportType::itReplace);
  ascii.ImportFile();
  EXPECT_EQ(Rows(table), std::vector<std::string>{"1|Say hi now|abcd"});
  EXPECT_TRUE(errors.empty());
}

// Every field type, written and read back, with the four combinations of delimiter and FoxPro format.
TEST_F(AsciiFileTest, EveryFieldTypeRoundTrips) {
  std::vector<en::TFieldDescriptor> fields{Field(1, "ID", en::ftInteger),
                                           Field(2, "Str", en::ftString, 20),
                                           Field(3, "Small", en::ftSmallInt),
                                           Field(4, "Word", en::ftWord),
                                           Field(5, "Flag", en::ftBoolean),
                                           Field(6, "Real", en::ftFloat),
                                           Field(7, "Money", en::ftFloat, 0, en::fstMoney),
                                           Field(8, "Amount", en::ftBCD),
                                           Field(9, "Day", en::ftDate),
                                           Field(10, "Clock", en::ftTime),
                                           Field(11, "Stamp", en::ftTimeStamp),
                                           Field(12, "Raw", en::ftBytes, 4),
                                           Field(13, "VarRaw", en::ftVarBytes, 10),
                                           Field(14, "Auto", en::ftInteger, 0, en::fstAutoInc),
                                           Field(15, "Data", en::ftBlob, 0, en::fstBinary),
                                           Field(16, "Notes", en::ftBlob, 0, en::fstMemo),
                                           Field(17, "Picture", en::ftBlob, 0, en::fstGraphic),
                                           Field(18, "Fmt", en::ftBlob, 0, en::fstFormattedMemo),
                                           Field(19, "Typed", en::ftBlob, 0, en::fstTypedBinary)};
  fields[7].Decimals = 2;
  struct Case {
    TFileType type;
    bool foxpro;
  };
  const std::string binary("\xFF\x80\0bin", 6);
  int n = 0;
  for (const Case& c : {Case{TFileType::ftCSV, false}, Case{TFileType::ftCSV, true}, Case{TFileType::ftTab, false},
                        Case{TFileType::ftTab, true}}) {
    SCOPED_TRACE(std::string(c.type == TFileType::ftTab ? "tab" : "comma") + (c.foxpro ? " FoxPro" : ""));
    const std::string source = "SRC" + std::to_string(++n);
    const std::string target = "DST" + std::to_string(n);
    Create(source, fields, {Index("", {1}, true)});
    Create(target, fields, {Index("", {1}, true)});
    auto& table = Open(source);
    table.Append();
    const char* const values[] = {
        "1",          "Say \"hi\" now",      "-7",      "65535", "True", "-1.25", "12.5", "-123.45", "3/5/2001",
        "1:02:03 PM", "3/4/1999 5:06:07 AM", "ab\x01z", "xyz"};
    for (int i = 0; i < 13; ++i) table.Fields(i)->SetAsString(values[i]);
    table.FieldByName("Data")->SetAsString(binary);
    table.FieldByName("Notes")->SetAsString("line1\r\nline2");
    table.FieldByName("Picture")->SetAsString("BM picture");
    table.FieldByName("Typed")->SetAsString("typed");
    table.Post();
    table.Append();
    table.FieldByName("ID")->SetAsInteger(2);
    table.FieldByName("Flag")->SetAsBoolean(false);
    table.Post();

    TAsciiFile ascii;
    Prepare(ascii, table, source + ".txt");
    ascii.SetFileType(c.type);
    ascii.SetFoxproFormat(c.foxpro);
    ascii.ExportFile();
    const std::string d(1, c.type == TFileType::ftTab ? '\t' : ',');
    const std::string side = dir.Path() + "/";
    auto join = [&](std::vector<std::string> columns) {
      std::string line;
      for (std::size_t i = 0; i < columns.size(); ++i) line += (i ? d : "") + columns[i];
      return line + "\r\n";
    };
    const std::string expected =
        join({"1", "\"Say \"hi\" now\"", "-7", "65535", c.foxpro ? "T" : "True", "-1.25", "12.5", "-123.45",
              c.foxpro ? "20010305" : "3/5/2001", "1:02:03 PM", "3/4/1999 5:06:07 AM", "\"Invalid Field\"",
              "\"Invalid Field\"", "1", "\"" + side + "00000001.GBD\"", "\"line1line2\"",
              "\"" + side + "00000002.BMP\"", "", ""}) +
        join({"2", "\"\"", "", "", c.foxpro ? "F" : "False", "", "", "", "", "", "", "\"Invalid Field\"",
              "\"Invalid Field\"", "2", "\"" + side + "00000003.GBD\"", "\"\"", "\"" + side + "00000004.BMP\"", "",
              ""});
    EXPECT_EQ(ReadWholeFile(ascii.FileName()), expected);
    EXPECT_EQ(ReadWholeFile(side + "00000001.GBD"), binary);
    EXPECT_EQ(ReadWholeFile(side + "00000002.BMP"), "BM picture");
    EXPECT_EQ(ReadWholeFile(side + "00000003.GBD"), "");  // a null blob still gets its file
    EXPECT_EQ(ReadWholeFile(side + "00000004.BMP"), "");

    auto& copy = Open(target);
    ascii.SetTable(&copy);
    ascii.ImportFile();
    EXPECT_TRUE(errors.empty());
    const std::vector<std::string> rows = Rows(copy);
    ASSERT_EQ(rows.size(), 2u);
    const std::string nulls = "<null>|<null>";
    EXPECT_EQ(rows[0], "1|Say hi now|-7|65535|True|-1.25|12.5|-123.45|3/5/2001|1:02:03 PM|3/4/1999 5:06:07 AM|" +
                           nulls + "|1|" + binary + "|line1line2|BM picture|" + nulls);
    copy.Last();
    EXPECT_EQ(copy.FieldByName("Flag")->AsBoolean(), false);
    EXPECT_FALSE(copy.FieldByName("Flag")->IsNull());
    EXPECT_TRUE(copy.FieldByName("Day")->IsNull());
    EXPECT_EQ(copy.FieldByName("Data")->AsString(), "");
  }
}

TEST_F(AsciiFileTest, FoxproValuesOnImport) {
  Create("FOX",
         {Field(1, "Id", en::ftInteger), Field(2, "Flag", en::ftBoolean), Field(3, "Day", en::ftDate),
          Field(4, "Real", en::ftFloat)},
         {Index("", {1}, true)});
  struct Case {
    const char* line;
    bool foxpro;
    std::string row;  // empty: the line fails
  };
  const Case cases[] = {
      {"1,T,20010305,2.5", true, "1|True|3/5/2001|2.5"},
      {"2,Y,19991231,-1", true, "2|True|12/31/1999|-1"},
      {"3,t,,", true, "3|False|<null>|<null>"},
      {"4,N", true, "4|False|<null>|<null>"},
      {"5,True,3/5/2001,1.5", false, "5|True|3/5/2001|1.5"},
      {"6,,200103", true, ""},    // six digits: no day
      {"7,,20011305", true, ""},  // month 13
      {"8,,3/5/2001", true, ""},
      {"9,T", false, "9|True|<null>|<null>"},  // the field's own text conversion
      {"10,,,abc", true, ""},
  };
  std::vector<std::string> before;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    errors.clear();
    auto& table = Open("FOX");
    TAsciiFile ascii;
    Prepare(ascii, table, "fox.txt");
    ascii.SetFoxproFormat(c.foxpro);
    WriteWholeFile(ascii.FileName(), std::string(c.line) + "\r\n");
    ascii.ImportFile();
    if (c.row.empty()) {
      EXPECT_EQ(errors.size(), 1u);
      EXPECT_EQ(Rows(table), before);  // the replace was rolled back
    } else {
      EXPECT_TRUE(errors.empty());
      EXPECT_EQ(Rows(table), std::vector<std::string>{c.row});
      before = Rows(table);
    }
    table.Close();
  }
}

TEST_F(AsciiFileTest, HeaderLines) {
  CreatePeople("HEAD");
  auto& table = Open("HEAD");
  AddPerson(table, 1, "Ann", 3);
  table.FieldByName("Count")->SetDisplayLabel("How many");
  TAsciiFile ascii;
  Prepare(ascii, table, "head.txt");
  ascii.SetHeaders(true);
  ascii.ExportFile();
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "\"Id\",\"Name\",\"How many\"\r\n1,\"Ann\",3\r\n");
  // With Headers on the first line is skipped.
  ascii.ImportFile();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Rows(table), std::vector<std::string>{"1|Ann|3"});
  // With it off the label line is data: its label for a number ends the run, which is rolled back.
  ascii.SetHeaders(false);
  ascii.ImportFile();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(Rows(table), std::vector<std::string>{"1|Ann|3"});
  // Appending by key, the string fields take the labels before the number fails.
  Create("LABELS", {Field(1, "Name", en::ftString, 20), Field(2, "Count", en::ftInteger)}, {Index("", {1}, true)});
  auto& labels = Open("LABELS");
  ascii.SetTable(&labels);
  ascii.SetImportType(TImportType::itAppendUpdate);
  WriteWholeFile(ascii.FileName(), "\"Name\",\"Count\"\r\nAnn,1\r\n");
  ascii.ImportFile();
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_TRUE(Rows(labels).empty());
}

TEST_F(AsciiFileTest, TwoGraphicFieldsWriteSideFilesRecordByRecord) {
  Create("PICS",
         {Field(1, "Id", en::ftInteger), Field(2, "Front", en::ftBlob, 0, en::fstGraphic),
          Field(3, "Back", en::ftBlob, 0, en::fstGraphic)},
         {Index("", {1}, true)});
  auto& table = Open("PICS");
  for (int id = 1; id <= 3; ++id) {
    table.Append();
    table.FieldByName("Id")->SetAsInteger(id);
    table.FieldByName("Front")->SetAsString("front " + std::to_string(id));
    table.FieldByName("Back")->SetAsString("back " + std::to_string(id));
    table.Post();
  }
  ::mkdir(PathOf("out").c_str(), 0755);
  TAsciiFile ascii;
  Prepare(ascii, table, "out/pics.txt");
  ascii.ExportFile();
  const char* const expected[] = {"front 1", "back 1", "front 2", "back 2", "front 3", "back 3"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ReadWholeFile(PathOf("out/0000000" + std::to_string(i + 1) + ".BMP")), expected[i]);
  }
  EXPECT_NE(::access(PathOf("out/00000007.BMP").c_str(), F_OK), 0);
  // Every export counts from 1 again and overwrites.
  table.First();
  table.Edit();
  table.FieldByName("Front")->SetAsString("new");
  table.Post();
  ascii.ExportFile();
  EXPECT_EQ(ReadWholeFile(PathOf("out/00000001.BMP")), "new");
}

TEST_F(AsciiFileTest, HiddenFieldsHaveNoColumn) {
  Create("HID",
         {Field(1, "Secret", en::ftString, 10), Field(2, "Id", en::ftInteger), Field(3, "Name", en::ftString, 10)},
         {Index("", {2}, true)});
  auto& table = Open("HID");
  table.Append();
  table.FieldByName("Secret")->SetAsString("s");
  table.FieldByName("Id")->SetAsInteger(1);
  table.FieldByName("Name")->SetAsString("Ann");
  table.Post();
  table.FieldByName("Secret")->SetVisible(false);
  TAsciiFile ascii;
  Prepare(ascii, table, "hid.txt");
  ascii.ExportFile();
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "1,\"Ann\"\r\n");
  // The key pass and the data pass both line the columns up.
  WriteWholeFile(ascii.FileName(), "1,\"Anne\"\r\n2,\"Bob\"\r\n");
  ascii.SetImportType(TImportType::itAppendUpdate);
  ascii.ImportFile();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Rows(table), (std::vector<std::string>{"s|1|Anne", "<null>|2|Bob"}));
}

class ReplaceFailureTest : public AsciiFileTest {
 protected:
  void Check(bool lockFirst) {
    CreatePeople("KEEP");
    auto& table = Open("KEEP");
    AddPerson(table, 1, "Ann", 1);
    AddPerson(table, 2, "Bob", 2);
    const std::vector<std::string> before = Rows(table);
    if (lockFirst) table.LockTable(dataset::TTable::TLockType::ltWriteLock);
    TAsciiFile ascii;
    Prepare(ascii, table, "keep.txt");
    bool inTransactionAtError = true;
    ascii.OnImportError = [&](classlib::TComponent&, const std::exception& e) {
      errors.push_back(e.what());
      inTransactionAtError = table.Database()->InTransaction() || table.Handle()->InTransaction();
    };
    WriteWholeFile(ascii.FileName(), "5,Eve,1\r\n6,Fay,2\r\n7,Gus,many\r\n8,Hal,4\r\n");
    ascii.ImportFile();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(inTransactionAtError);
    EXPECT_FALSE(table.Database()->InTransaction());
    EXPECT_FALSE(table.Handle()->InTransaction());
    EXPECT_EQ(table.State(), classlib::TDataSetState::dsBrowse);
    EXPECT_EQ(Rows(table), before);
    if (lockFirst) {
      EXPECT_TRUE(table.Handle()->TableLocked());
      table.UnlockTable(dataset::TTable::TLockType::ltWriteLock);
    }
    table.Close();
    EXPECT_EQ(Rows(Open("KEEP")), before);
  }
};

TEST_F(ReplaceFailureTest, ABadThirdLineLeavesTheTableAsItWas) { Check(false); }
TEST_F(ReplaceFailureTest, ABadThirdLineLeavesALockedTableAsItWas) { Check(true); }

TEST_F(AsciiFileTest, ReplaceInsideTheCallersTransaction) {
  CreatePeople("CALLER");
  auto& table = Open("CALLER");
  AddPerson(table, 1, "Ann", 1);
  table.Database()->StartTransaction();
  TAsciiFile ascii;
  Prepare(ascii, table, "caller.txt");
  WriteWholeFile(ascii.FileName(), "5,Eve,1\r\n6,Fay,x\r\n");
  ascii.ImportFile();
  ASSERT_EQ(errors.size(), 1u);
  // The caller's transaction stays open; what came before the failure stays in it.
  EXPECT_TRUE(table.Database()->InTransaction());
  EXPECT_EQ(Rows(table), std::vector<std::string>{"5|Eve|1"});
  table.Database()->Rollback();
  EXPECT_EQ(Rows(table), std::vector<std::string>{"1|Ann|1"});
}

TEST_F(AsciiFileTest, AReplaceRunCommitsItsOwnTransaction) {
  CreatePeople("OWN");
  auto& table = Open("OWN");
  AddPerson(table, 1, "Ann", 1);
  TAsciiFile ascii;
  Prepare(ascii, table, "own.txt");
  WriteWholeFile(ascii.FileName(), "5,Eve,1\r\n");
  ascii.ImportFile();
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(table.Database()->InTransaction());
  EXPECT_FALSE(table.Handle()->InTransaction());
  table.Close();
  EXPECT_EQ(Rows(Open("OWN")), std::vector<std::string>{"5|Eve|1"});
}

TEST_F(AsciiFileTest, AFailureOfAnUpdateRunKeepsWhatCameBefore) {
  struct Case {
    const char* what;
    TImportType type;
    const char* bad;
  };
  // The failed key entry or edit is not left pending: the table is back in browse state.
  const Case cases[] = {
      {"a bad value in the edited record", TImportType::itAppendUpdate, "1,Ann,x"},
      {"a bad value in the appended record", TImportType::itAppendUpdate, "4,Dan,x"},
      {"a bad key", TImportType::itAppendUpdate, "one,Ann,1"},
      {"a bad key when only updating", TImportType::itUpdate, "one,Ann,1"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errors.clear();
    const std::string name = "PART" + std::to_string(++n);
    CreatePeople(name);
    auto& table = Open(name);
    AddPerson(table, 1, "Ann", 1);
    AddPerson(table, 2, "Bob", 1);
    TAsciiFile ascii;
    Prepare(ascii, table, name + ".txt");
    ascii.SetImportType(c.type);
    WriteWholeFile(ascii.FileName(), "2,Bob,2\r\n" + std::string(c.bad) + "\r\n3,Cy,3\r\n");
    ascii.ImportFile();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(table.State(), classlib::TDataSetState::dsBrowse);
    EXPECT_EQ(Rows(table), (std::vector<std::string>{"1|Ann|1", "2|Bob|2"}));
  }
}

TEST_F(AsciiFileTest, SideFilesLoadOnlyFromTheTextFilesFolder) {
  Create("BLOBS", {Field(1, "Id", en::ftInteger), Field(2, "Data", en::ftBlob, 0, en::fstBinary)},
         {Index("", {1}, true)});
  ::mkdir(PathOf("in").c_str(), 0755);
  ::mkdir(PathOf("in/sub").c_str(), 0755);
  ::mkdir(PathOf("other").c_str(), 0755);
  WriteWholeFile(PathOf("in/00000001.GBD"), "inside");
  WriteWholeFile(PathOf("in/sub/deeper.GBD"), "deeper");
  WriteWholeFile(PathOf("other/secret.GBD"), "outside");
  ASSERT_EQ(::symlink(PathOf("other/secret.GBD").c_str(), PathOf("in/link.GBD").c_str()), 0);
  ASSERT_EQ(::symlink(PathOf("in/00000001.GBD").c_str(), PathOf("other/back.GBD").c_str()), 0);
  struct Case {
    std::string value;
    const char* loaded;
  };
  const Case cases[] = {
      {PathOf("in/00000001.GBD"), "inside"},
      {PathOf("in/sub/../00000001.GBD"), "inside"},
      {PathOf("other/back.GBD"), "inside"},  // a link from elsewhere to a file of the folder
      {PathOf("in/../other/secret.GBD"), Null},
      {PathOf("other/secret.GBD"), Null},
      {PathOf("in/link.GBD"), Null},
      {PathOf("in/sub/deeper.GBD"), Null},
      {PathOf("in/missing.GBD"), Null},
      {PathOf("in"), Null},
      {"/etc/passwd", Null},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    auto& table = Open("BLOBS");
    TAsciiFile ascii;
    Prepare(ascii, table, "in/blobs.txt");
    WriteWholeFile(ascii.FileName(), "1,\"" + c.value + "\"\r\n");
    ascii.ImportFile();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Rows(table), std::vector<std::string>{std::string("1|") + c.loaded});
    table.Close();
  }
}

TEST_F(AsciiFileTest, ImportProgressAndAbort) {
  CreatePeople("MANY");
  auto& table = Open("MANY");
  for (int id = 1; id <= 4; ++id) AddPerson(table, id, "Old", id);
  std::string text;
  for (int id = 1; id <= 1000; ++id) text += std::to_string(id) + ",\"Person " + std::to_string(id) + "\",1\r\n";
  TAsciiFile ascii;
  Prepare(ascii, table, "many.txt");
  WriteWholeFile(ascii.FileName(), text);
  struct Call {
    std::uint16_t percent;
    std::int32_t current, total;
  };
  std::vector<Call> calls;
  int abortAt = 0;
  ascii.OnImportProgress = [&](classlib::TComponent&, std::uint16_t percent, std::int32_t current, std::int32_t total,
                               bool& abort) {
    calls.push_back({percent, current, total});
    if (static_cast<int>(calls.size()) == abortAt) abort = true;
  };
  ascii.ImportFile();
  // Four deletions counted in records, then one call per line counted in bytes.
  ASSERT_EQ(calls.size(), 1004u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].current, i + 1);
    EXPECT_EQ(calls[i].total, 4);
    EXPECT_EQ(calls[i].percent, (i + 1) * 25);
  }
  const auto total = static_cast<std::int32_t>(text.size());
  for (std::size_t i = 4; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].total, total);
    EXPECT_LE(calls[i].current, total);
    EXPECT_EQ(calls[i].percent, static_cast<std::uint16_t>(std::int64_t{calls[i].current} * 100 / total));
    if (i > 4) {
      EXPECT_GE(calls[i].current, calls[i - 1].current);
    }
  }
  EXPECT_LT(calls[4].percent, 100);
  EXPECT_EQ(calls.back().percent, 100);
  EXPECT_EQ(table.RecordCount(), 1000);

  // Stopped at the third line: what was read stays, committed.
  calls.clear();
  abortAt = 1000 + 3;
  ascii.ImportFile();
  EXPECT_EQ(calls.size(), 1003u);
  EXPECT_TRUE(errors.empty());
  EXPECT_FALSE(table.Database()->InTransaction());
  EXPECT_EQ(table.RecordCount(), 3);

  // An abort set while emptying stops after the first line.
  calls.clear();
  abortAt = 1;
  ascii.ImportFile();
  EXPECT_EQ(calls.size(), 3u + 1u);
  EXPECT_EQ(table.RecordCount(), 1);
}

TEST_F(AsciiFileTest, EmptyMissingAndMarkedFiles) {
  CreatePeople("EDGE");
  auto& table = Open("EDGE");
  AddPerson(table, 1, "Ann", 1);
  TAsciiFile ascii;
  Prepare(ascii, table, "edge.txt");
  int progress = 0;
  ascii.OnImportProgress = [&](classlib::TComponent&, std::uint16_t, std::int32_t, std::int32_t, bool&) { ++progress; };
  // Missing: nothing happens, not even the emptying.
  ascii.ImportFile();
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(progress, 0);
  // Empty: the table is emptied, no line progress (no total to divide by).
  WriteWholeFile(ascii.FileName(), "");
  ascii.ImportFile();
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(progress, 1);
  // UTF-8 with a byte-order mark, a Ctrl+Z end and blank lines.
  WriteWholeFile(ascii.FileName(),
                 "\xEF\xBB\xBF"
                 "1,\"Grüße\",2\r\n\r\n   \r\n2,\"Zoë\"\r\n\x1a"
                 "3,\"never\"\r\n");
  ascii.ImportFile();
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Rows(table), (std::vector<std::string>{"1|Grüße|2", "2|Zoë|<null>"}));
  // A folder is no text file.
  ascii.SetFileName(dir.Path());
  EXPECT_THROW(ascii.ImportFile(), EInOutError);
}

TEST_F(AsciiFileTest, ExportProgressAbortAppendAndFileErrors) {
  CreatePeople("OUT");
  auto& table = Open("OUT");
  TAsciiFile ascii;
  Prepare(ascii, table, "out.txt");
  std::vector<std::vector<int>> calls;
  bool stop = false;
  ascii.OnExportProgress = [&](classlib::TComponent&, std::uint16_t percent, std::int32_t current, std::int32_t total,
                               bool& abort) {
    calls.push_back({percent, current, total});
    abort = stop && current == 2;
  };
  ascii.ExportFile();  // an empty table: an empty file, no progress
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "");
  EXPECT_TRUE(calls.empty());
  for (int id = 1; id <= 3; ++id) AddPerson(table, id, "P" + std::to_string(id), id);
  ascii.ExportFile();
  EXPECT_EQ(calls, (std::vector<std::vector<int>>{{33, 1, 3}, {66, 2, 3}, {100, 3, 3}}));
  calls.clear();
  stop = true;
  ascii.SetExportType(TExportType::etAppend);
  ascii.ExportFile();
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "1,\"P1\",1\r\n2,\"P2\",2\r\n3,\"P3\",3\r\n1,\"P1\",1\r\n2,\"P2\",2\r\n");
  ascii.SetExportType(TExportType::etReplace);
  ascii.ExportFile();
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "1,\"P1\",1\r\n2,\"P2\",2\r\n");
  EXPECT_TRUE(errors.empty());
  // A file that cannot be created is the caller's error, not the event's.
  ascii.SetFileName(PathOf("no/such/folder/out.txt"));
  EXPECT_THROW(ascii.ExportFile(), EInOutError);
  ascii.SetExportType(TExportType::etAppend);
  EXPECT_THROW(ascii.ExportFile(), EInOutError);
  EXPECT_TRUE(errors.empty());
}

TEST_F(AsciiFileTest, ASideFileThatCannotBeWrittenEndsTheExportThroughTheEvent) {
  Create("SIDE", {Field(1, "Id", en::ftInteger), Field(2, "Data", en::ftBlob, 0, en::fstBinary)},
         {Index("", {1}, true)});
  auto& table = Open("SIDE");
  for (int id = 1; id <= 2; ++id) {
    table.Append();
    table.FieldByName("Id")->SetAsInteger(id);
    table.Post();
  }
  ::mkdir(PathOf("00000002.GBD").c_str(), 0755);  // a folder where the second side file should go
  TAsciiFile ascii;
  Prepare(ascii, table, "side.txt");
  ascii.ExportFile();
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(ReadWholeFile(ascii.FileName()), "1,\"" + PathOf("00000001.GBD") + "\"\r\n");
}

}  // namespace
}  // namespace kavrin::components::ascifile
