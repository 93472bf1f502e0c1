// Names, descriptions and passwords of a table's definition: stored in Windows-1252, seen in UTF-8
// through the dataset layer, and refused when Windows-1252 lacks a character.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "classlib/data/session.h"
#include "classlib/data/string_list.h"
#include "engine/password_list.h"
#include "runtime/conversions.h"
#include "tests/dataset/dataset_fixture.h"

namespace kavrin::dataset::testing {
namespace {

namespace cl = classlib;
namespace en = engine;

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string ConvertMessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const runtime::EConvertError& e) {
    return e.what();
  }
  return {};
}

class DescriptorTextTest : public DataSetTest {
 protected:
  void TearDown() override {
    en::TablePasswords().Clear();
    DataSetTest::TearDown();
  }

  // ID, "CAFÉ" string 10 and "PRICE€" integer, a secondary index "ÍNDICE" on CAFÉ and the description
  // "Café table", all written by the engine in Windows-1252; records (1, "b", 10) and (2, "a", 20).
  void CreateAnsiTable(const std::string& name) {
    en::TDataFile table;
    table.SetExclusive(true);
    table.SetFileName(PathOf(name));
    table.CreateTable(
        false, "", {Index("", {1}, true), Index("\xCDNDICE", {2})},
        {Field(1, "ID", en::ftInteger), Field(2, "CAF\xC9", en::ftString, 10), Field(3, "PRICE\x80", en::ftInteger)},
        512, "Caf\xE9 table");
    table.Open();
    std::vector<std::uint8_t> image(table.RecordSize());
    for (std::int32_t id : {1, 2}) {
      table.InitRecord(image.data());
      table.SetField(1, image.data(), &id);
      table.SetField(2, image.data(), id == 1 ? "b" : "a");
      const std::int32_t price = id * 10;
      table.SetField(3, image.data(), &price);
      table.InsertRecord(image.data());
    }
    table.Close();
  }

  std::vector<std::string> StoredFieldNames(const std::string& name) {
    en::TDataFile table;
    table.SetFileName(PathOf(name));
    table.Open();
    std::vector<std::string> names;
    for (std::uint16_t i = 1; i <= table.FieldCount(); ++i) {
      en::TFieldDescriptor field;
      table.FieldDefByIndex(i, field);
      names.push_back(field.Name);
    }
    names.push_back(table.GetIndexDef(1).Name);
    table.Close();
    return names;
  }
};

TEST_F(DescriptorTextTest, StoredNamesReadAndMatchInUtf8) {
  CreateAnsiTable("ANSI");
  auto table = Table("ANSI");
  table->Open();
  ASSERT_EQ(table->FieldDefs().Count(), 3);
  EXPECT_EQ(table->FieldDefs()[1].Name(), "CAF\u00C9");
  EXPECT_EQ(table->FieldDefs()[2].Name(), "PRICE\u20AC");
  // Lookups upper-case with the Windows-1252 table, as the engine compares names.
  ASSERT_NE(table->FindField("caf\u00E9"), nullptr);
  EXPECT_EQ(table->FindField("caf\u00E9")->FieldName(), "CAF\u00C9");
  EXPECT_EQ(table->FieldByName("price\u20AC")->AsInteger(), 10);
  EXPECT_EQ(table->FindField("CAFE"), nullptr);
  EXPECT_EQ(table->Description(), "Caf\u00E9 table");

  cl::TStringList indexNames;
  table->GetIndexNames(indexNames);
  ASSERT_EQ(indexNames.Count(), 1);
  EXPECT_EQ(indexNames[0], "\u00CDNDICE");
  ASSERT_EQ(table->IndexDefs().Count(), 2);
  EXPECT_EQ(table->IndexDefs()[1].Fields(), "CAF\u00C9");

  // The index chosen by its UTF-8 name in another case, and by its field.
  table->SetIndexName("\u00EDndice");
  EXPECT_EQ(table->Handle()->ActiveIndexName(), "\xCDNDICE");
  table->First();
  EXPECT_EQ(table->FieldByName("CAF\u00C9")->AsString(), "a");
  table->SetIndexFieldNames("caf\u00E9");
  EXPECT_EQ(table->Handle()->ActiveIndexName(), "\xCDNDICE");

  table->SetFilter("[caf\u00E9] = 'b'");
  table->SetFiltered(true);
  table->First();
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 1);
  table->Next();
  EXPECT_TRUE(table->Eof());
  table->SetFiltered(false);

  // An engine text naming an index gives it in UTF-8.
  try {
    table->SetIndexName("NOPE");
    ADD_FAILURE() << "unknown index accepted";
  } catch (const en::EDBEngineError& e) {
    EXPECT_EQ(e.Code(), en::ec::InvalidIndexName);
    EXPECT_NE(std::string(e.what()).find("\u00CDNDICE"), std::string::npos) << e.what();
  }
}

TEST_F(DescriptorTextTest, CreateTableStoresWindows1252AndRefusesWhatItLacks) {
  // 30 characters of which 5 take two bytes in UTF-8: all 30 are stored, none is cut in half.
  const std::string longName = "LONG\u00C4\u00D6\u00DC\u00C5\u00C9" + std::string(21, 'X');
  auto table = Table("MADE");
  table->FieldDefs().Add("ID", cl::TFieldType::ftInteger, 0, true);
  table->FieldDefs().Add("STRA\u00DFE", cl::TFieldType::ftString, 20, false);
  table->FieldDefs().Add(longName, cl::TFieldType::ftInteger, 0, false);
  table->IndexDefs().Add("", "ID", cl::ixPrimary | cl::ixUnique);
  table->IndexDefs().Add("BY\u00C9", "stra\u00DFe", 0);
  table->CreateTable();
  EXPECT_EQ(StoredFieldNames("MADE"),
            (std::vector<std::string>{"ID",
                                      "STRA\xDF"
                                      "E",
                                      "LONG\xC4\xD6\xDC\xC5\xC9" + std::string(21, 'X'), "BY\xC9"}));
  table->Open();
  EXPECT_EQ(table->FieldDefs()[2].Name(), longName);
  table->Close();

  struct Case {
    std::string field;
    std::string index;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"OMEGA\u03A9", "BYNAME",
       "Field name 'OMEGA\u03A9' has a character that the ANSI code page (Windows-1252) of table definitions "
       "lacks: '\u03A9'"},
      {"NAME", "BY\u4E2D",
       "Index name 'BY\u4E2D' has a character that the ANSI code page (Windows-1252) of table definitions "
       "lacks: '\u4E2D'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto refused = Table("REFUSED");
    refused->FieldDefs().Add("ID", cl::TFieldType::ftInteger, 0, true);
    refused->FieldDefs().Add(c.field, cl::TFieldType::ftString, 10, false);
    refused->IndexDefs().Add("", "ID", cl::ixPrimary);
    refused->IndexDefs().Add(c.index, c.field, 0);
    EXPECT_EQ(ConvertMessageOf([&] { refused->CreateTable(); }), c.message);
    EXPECT_FALSE(Exists(PathOf("REFUSED.DAT")));
  }
}

TEST_F(DescriptorTextTest, SessionPasswordsInWindows1252) {
  engine::testing::CreateTableAt(PathOf("LOCKED"), {Field(1, "ID", en::ftInteger)}, {Index("", {1}, true)}, false,
                                 "p\xE4ss");
  cl::TSession& session = cl::Session();
  session.AddPassword("p\u00E4ss");
  auto table = Table("LOCKED");
  table->Open();
  EXPECT_TRUE(table->Encrypted());
  table->Close();
  session.RemovePassword("p\u00E4ss");
  EXPECT_EQ(en::TablePasswords().Count(), 0u);

  // Refused without showing the password; removing one that could never be added does nothing.
  EXPECT_EQ(ConvertMessageOf([&] { session.AddPassword("s\u03A9cret"); }),
            "The password has a character that the ANSI code page (Windows-1252) of table definitions lacks");
  EXPECT_EQ(ConvertMessageOf([&] { session.RemovePassword("s\u03A9cret"); }), "");
  EXPECT_EQ(en::TablePasswords().Count(), 0u);
}

}  // namespace
}  // namespace kavrin::dataset::testing
