#include <sys/stat.h>

#include <typeinfo>

#include "classlib/data/desc_images.h"
#include "classlib/data/numeric_fields.h"
#include "classlib/data/other_fields.h"
#include "classlib/data/session.h"
#include "classlib/data/string_field.h"
#include "classlib/data/string_list.h"
#include "dataset/query.h"
#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "tests/dataset/dataset_fixture.h"

namespace kavrin::dataset::testing {
namespace {

using classlib::TFieldType;
namespace en = kavrin::engine;

struct TypeCase {
  std::uint8_t type;
  std::uint8_t subtype;
  std::uint8_t size;
  const std::type_info& fieldClass;
  TFieldType dataType;
  std::int32_t definedSize;
  const char* value;  // set as text and read back; null for no round trip here
  const char* expected;
};

class TableOpenTest : public DataSetTest {};

TEST_F(TableOpenTest, EveryEngineTypeGivesItsFieldClassTypeSizeAndValue) {
  const TypeCase cases[] = {
      {en::ftString, 0, 12, typeid(classlib::TStringField), TFieldType::ftString, 12, "Hello", "Hello"},
      {en::ftDate, 0, 0, typeid(classlib::TDateField), TFieldType::ftDate, 0, "2/29/2024", "2/29/2024"},
      {en::ftBlob, en::fstMemo, 0, typeid(classlib::TMemoField), TFieldType::ftMemo, 0, "Grüße, memo", "Grüße, memo"},
      {en::ftBlob, en::fstBinary, 0, typeid(classlib::TBlobField), TFieldType::ftBlob, 0, "\xFF\x80 bin",
       "\xFF\x80 bin"},
      {en::ftBlob, en::fstFormattedMemo, 0, typeid(classlib::TBlobField), TFieldType::ftFmtMemo, 0, nullptr, nullptr},
      {en::ftBlob, en::fstOLE, 0, typeid(classlib::TBlobField), TFieldType::ftBlob, 0, nullptr, nullptr},
      {en::ftBlob, en::fstGraphic, 0, typeid(classlib::TGraphicField), TFieldType::ftGraphic, 0, "BM picture",
       "BM picture"},
      {en::ftBlob, en::fstTypedBinary, 0, typeid(classlib::TBlobField), TFieldType::ftTypedBinary, 0, nullptr, nullptr},
      {en::ftBoolean, 0, 0, typeid(classlib::TBooleanField), TFieldType::ftBoolean, 0, "False", "False"},
      {en::ftSmallInt, 0, 0, typeid(classlib::TSmallintField), TFieldType::ftSmallint, 0, "-32768", "-32768"},
      {en::ftInteger, 0, 0, typeid(classlib::TIntegerField), TFieldType::ftInteger, 0, "2147483647", "2147483647"},
      {en::ftInteger, en::fstAutoInc, 0, typeid(classlib::TAutoIncField), TFieldType::ftAutoInc, 0, nullptr, nullptr},
      {en::ftFloat, 0, 0, typeid(classlib::TFloatField), TFieldType::ftFloat, 0, "-1.25", "-1.25"},
      {en::ftFloat, en::fstMoney, 0, typeid(classlib::TCurrencyField), TFieldType::ftCurrency, 0, "12.5", "12.5"},
      {en::ftBCD, 0, 0, typeid(classlib::TBCDField), TFieldType::ftBCD, 2, "-123.45", "-123.45"},
      {en::ftBytes, 0, 4, typeid(classlib::TBytesField), TFieldType::ftBytes, 4, "ab\x01z", "ab\x01z"},
      {en::ftTime, 0, 0, typeid(classlib::TTimeField), TFieldType::ftTime, 0, "1:02:03 PM", "1:02:03 PM"},
      {en::ftTimeStamp, 0, 0, typeid(classlib::TDateTimeField), TFieldType::ftDateTime, 0, "3/4/1999 5:06:07 AM",
       "3/4/1999 5:06:07 AM"},
      {en::ftWord, 0, 0, typeid(classlib::TWordField), TFieldType::ftWord, 0, "65535", "65535"},
      {en::ftVarBytes, 0, 10, typeid(classlib::TVarBytesField), TFieldType::ftVarBytes, 10, "xyz", "xyz"},
  };
  std::vector<en::TFieldDescriptor> fields{Field(1, "Key", en::ftInteger)};
  std::int16_t number = 2;
  for (const TypeCase& c : cases) {
    fields.push_back(Field(number, "F" + std::to_string(number), c.type, c.size, c.subtype));
    if (c.type == en::ftBCD) fields.back().Decimals = 2;
    ++number;
  }
  fields.push_back(Field(number++, "Long", en::ftLongWord));
  fields.push_back(Field(number++, "Ext", en::ftFloat10));
  Create("TYPES", fields, {Index("", {1}, true)});

  auto table = Table("TYPES");
  table->Open();
  ASSERT_EQ(table->FieldCount(), static_cast<int>(std::size(cases)) + 1);  // no field for types 13 and 14
  EXPECT_EQ(table->FindField("Long"), nullptr);
  EXPECT_EQ(table->FindField("Ext"), nullptr);
  EXPECT_EQ(table->FieldDefs().IndexOf("Long"), -1);
  table->Insert();
  table->FieldByName("Key")->SetAsInteger(1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    classlib::TField* field = table->Fields(static_cast<int>(i) + 1);
    if (cases[i].value) field->SetAsString(cases[i].value);
  }
  table->Post();
  table->Close();
  table->Open();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TypeCase& c = cases[i];
    classlib::TField* field = table->Fields(static_cast<int>(i) + 1);
    SCOPED_TRACE(field->FieldName());
    EXPECT_EQ(typeid(*field), c.fieldClass);
    EXPECT_EQ(field->DataType(), c.dataType);
    EXPECT_EQ(field->Size(), c.definedSize);
    EXPECT_EQ(table->FieldDefs()[static_cast<int>(i) + 1].Size(), c.definedSize);
    if (c.value) {
      EXPECT_EQ(field->AsString(), c.expected);
    }
  }
  EXPECT_EQ(table->FieldByName("F13")->AsInteger(), 1);  // the AutoInc is the record's unique id
}

TEST_F(TableOpenTest, IndexDefinitionsNameKeyFieldsByFieldNumber) {
  Create(
      "NUMBERED",
      {Field(10, "Code", en::ftInteger), Field(20, "Name", en::ftString, 10), Field(30, "City", en::ftString, 10)},
      {Index("", {10}, true), Index("ByCityName", {30, 20}, false, true), Index("ByName", {20}, false, false, true)});
  auto table = Table("NUMBERED");
  table->IndexDefs().Update();  // from a temporary cursor, the table closed
  ASSERT_EQ(table->IndexDefs().Count(), 3);
  EXPECT_EQ(table->IndexDefs()[0].Name(), "");
  EXPECT_EQ(table->IndexDefs()[0].Fields(), "Code");
  EXPECT_EQ(table->IndexDefs()[0].Options(), classlib::ixPrimary | classlib::ixUnique);
  EXPECT_EQ(table->IndexDefs()[1].Fields(), "City;Name");
  EXPECT_EQ(table->IndexDefs()[1].Options(), classlib::ixCaseInsensitive);
  EXPECT_EQ(table->IndexDefs()[2].Fields(), "Name");
  EXPECT_EQ(table->IndexDefs()[2].Options(), classlib::ixDescending);
  EXPECT_FALSE(table->Active());

  table->SetIndexFieldNames("city");
  table->Open();
  EXPECT_EQ(table->Handle()->ActiveIndexName(), "ByCityName");
  EXPECT_EQ(table->IndexFieldNames(), "city");
  classlib::TStringList names;
  table->GetIndexNames(names);
  EXPECT_EQ(names.Text(), "ByCityName\r\nByName\r\n");
  EXPECT_TRUE(table->FieldByName("City")->IsIndexField());
  EXPECT_FALSE(table->FieldByName("Code")->IsIndexField());

  // Changing the index of an open table keeps the current record; a bad name changes nothing.
  for (int code = 1; code <= 3; ++code) {
    table->Append();
    table->FieldByName("Code")->SetAsInteger(code);
    table->FieldByName("Name")->SetAsString(std::string(1, static_cast<char>('A' + code)));
    table->FieldByName("City")->SetAsString(std::string(1, static_cast<char>('Z' - code)));
    table->Post();
  }
  table->First();
  ASSERT_EQ(table->FieldByName("Code")->AsInteger(), 3);  // by city: W, X, Y
  EXPECT_EQ(EngineCodeOf([&] { table->SetIndexName("NoSuchIndex"); }), en::ec::InvalidIndexName);
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(table->FieldByName("Code")->AsInteger(), 3);
  table->SetIndexName("ByName");  // descending: D, C, B
  EXPECT_EQ(table->Handle()->ActiveIndexName(), "ByName");
  EXPECT_EQ(table->FieldByName("Code")->AsInteger(), 3);
  EXPECT_EQ(table->KeyFieldCount(), 1);
  table->Next();
  EXPECT_EQ(table->FieldByName("Code")->AsInteger(), 2);
}

TEST_F(TableOpenTest, TheSessionAnswersTheEnginesPasswordQuestion) {
  engine::testing::CreateTableAt(PathOf("SECRET"), {Field(1, "ID", en::ftInteger)}, {Index("", {1}, true)}, false,
                                 "hush");
  auto table = Table("SECRET");
  int asked = 0;
  classlib::Session().OnPassword = [&](classlib::TSession& session, bool& continueOpen) {
    ++asked;
    session.AddPassword("");  // changes nothing
    continueOpen = false;
  };
  EXPECT_EQ(EngineCodeOf([&] { table->Open(); }), en::ec::PasswordRequired);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(table->Active());
  classlib::Session().OnPassword = [&](classlib::TSession& session, bool& continueOpen) {
    ++asked;
    session.AddPassword("hush");
    continueOpen = true;
  };
  table->Open();
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(table->Encrypted());
  classlib::Session().RemoveAllPasswords();
}

TEST_F(TableOpenTest, DefinitionsOfNamesTypesAndIndexes) {
  // The engine itself refuses names that differ only in case; a damaged or foreign table may hold them.
  classlib::TFieldDefs defs;
  defs.AddFieldDesc(classlib::FieldDescImage::FromDescriptor(Field(1, "Name", en::ftString, 5)), false, 1);
  defs.AddFieldDesc(classlib::FieldDescImage::FromDescriptor(Field(2, "NAME", en::ftInteger)), true, 2);
  defs.AddFieldDesc(classlib::FieldDescImage::FromDescriptor(Field(3, "Name", en::ftInteger)), false, 3);
  defs.AddFieldDesc(classlib::FieldDescImage::FromDescriptor(Field(4, "Odd", 16)), false, 4);
  ASSERT_EQ(defs.Count(), 3);
  EXPECT_EQ(defs[0].Name(), "Name");
  EXPECT_EQ(defs[1].Name(), "NAME_1");
  EXPECT_TRUE(defs[1].Required());
  EXPECT_EQ(defs[2].Name(), "Name_2");
  EXPECT_EQ(defs[2].FieldNo(), 3);

  Create("NAMES", {Field(1, "Name", en::ftString, 5), Field(2, "Ole", en::ftBlob, 0, en::fstOLE)},
         {Index("", {1}, true)});
  auto table = Table("NAMES");
  table->FieldDefs().Update();
  ASSERT_EQ(table->FieldDefs().Count(), 2);
  EXPECT_EQ(table->FieldDefs()[1].DataType(), TFieldType::ftBlob);
  classlib::TStringList names;
  table->GetIndexNames(names);
  EXPECT_EQ(names.Count(), 0);  // only the primary index
}

TEST_F(TableOpenTest, FailedOpensLeaveTheDatasetClosed) {
  CreatePeople("PEOPLE", 1);
  struct Case {
    const char* what;
    std::function<std::unique_ptr<classlib::TDataSet>()> make;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"missing table", [&] { return Table("NOSUCH"); }, -2, nullptr},
      {"bad index name",
       [&] {
         auto t = Table("PEOPLE");
         t->SetIndexName("NoIndex");
         return t;
       },
       en::ec::InvalidIndexName, nullptr},
      {"no index for fields",
       [&] {
         auto t = Table("PEOPLE");
         t->SetIndexFieldNames("Name");
         return t;
       },
       0, "Table 'PEOPLE' has no index for fields 'Name'"},
      {"empty table name", [&] { return Table(""); }, 0, "Missing TableName property"},
      {"query", [&] { return std::make_unique<TQuery>(); }, 0, "Error creating cursor handle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<classlib::TDataSet> dataSet = c.make();
    if (c.message) {
      EXPECT_EQ(DatabaseMessageOf([&] { dataSet->Open(); }), c.message);
    } else {
      const int code = EngineCodeOf([&] { dataSet->Open(); });
      if (c.code == -2) {
        EXPECT_GT(code, 0);
      } else {
        EXPECT_EQ(code, c.code);
      }
    }
    EXPECT_FALSE(dataSet->Active());
    EXPECT_EQ(dataSet->Handle(), nullptr);
    EXPECT_EQ(dataSet->FieldCount(), 0);
    // The temporary database went with the failed open.
    EXPECT_EQ(classlib::Session().DatabaseCount(), 0);
  }
}

class DerivedTable : public TKAVRINTable {};

TEST_F(TableOpenTest, OnlyTheExactComponentClassAppliesItsCursorSettings) {
  CreatePeople("PEOPLE", 1);
  TKAVRINTable own;
  DerivedTable derived;
  for (TKAVRINTable* table : {&own, static_cast<TKAVRINTable*>(&derived)}) {
    table->SetDatabaseName(dir.Path());
    table->SetTableName("PEOPLE");
    table->SetLockRetryCount(3);
    table->SetLockWaitTime(7);
    table->SetTransactionsInMemory(true);
    table->Open();
  }
  EXPECT_EQ(own.Handle()->LockRetryCount(), 3);
  EXPECT_EQ(own.Handle()->LockWaitTime(), 7);
  EXPECT_TRUE(own.Handle()->TransactionsInMemory());
  EXPECT_EQ(derived.Handle()->LockRetryCount(), 15);
  EXPECT_EQ(derived.Handle()->LockWaitTime(), 100);
  EXPECT_FALSE(derived.Handle()->TransactionsInMemory());
  EXPECT_FALSE(derived.Handle()->InMemory());
  own.SetLockRetryCount(9);  // goes to an open cursor at once
  EXPECT_EQ(own.Handle()->LockRetryCount(), 9);
  EXPECT_EQ(DatabaseMessageOf([&] { own.SetInMemory(true); }), "Cannot perform this operation on an open dataset");
  EXPECT_EQ(DatabaseMessageOf([&] { own.SetTableName("X"); }), "Cannot perform this operation on an open dataset");
  own.Close();
  EXPECT_EQ(DatabaseMessageOf([&] { own.TableLocked(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(DatabaseMessageOf([&] { own.Description(); }), "Cannot perform this operation on a closed dataset");
  EXPECT_EQ(own.GetRecordNumber(), 0);
}

TEST_F(TableOpenTest, ReadOnlyFollowsTheCursorAfterOpen) {
  CreatePeople("PEOPLE", 1);
  auto table = Table("PEOPLE");
  table->SetReadOnly(true);
  table->Open();
  EXPECT_TRUE(table->ReadOnly());
  EXPECT_FALSE(table->CanModify());
  EXPECT_EQ(DatabaseMessageOf([&] { table->Edit(); }), "Cannot modify a read-only dataset");
  table->Close();
  table->SetReadOnly(false);
  table->Open();
  EXPECT_FALSE(table->ReadOnly());
  table->Close();
  // A file without write bits opens read-only, and the table says so.
  for (const char* file : {"PEOPLE.DAT", "PEOPLE.IDX"}) ASSERT_EQ(::chmod(PathOf(file).c_str(), 0444), 0);
  table->Open();
  EXPECT_TRUE(table->ReadOnly());
  EXPECT_FALSE(table->CanModify());
}

TEST_F(TableOpenTest, LookupCursorIsKeptForTheSameFieldsAndOption) {
  Create("CITY", {Field(1, "ID", en::ftInteger), Field(2, "City", en::ftString, 10)},
         {Index("", {1}, true), Index("ByCity", {2}), Index("ByCityCI", {2}, false, true)});
  auto table = Table("CITY");
  table->Open();
  en::TDataFile* first = table->GetLookupCursor("City", false);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->ActiveIndexName(), "ByCity");
  EXPECT_EQ(table->GetLookupCursor("City", false), first);
  en::TDataFile* other = table->GetLookupCursor("City", true);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->ActiveIndexName(), "ByCityCI");
  EXPECT_EQ(table->GetLookupCursor("ID;City", false), nullptr);
  table->Close();
  // An exclusive table cannot be cloned, so there is no lookup cursor (Locate then scans).
  table->SetExclusive(true);
  table->Open();
  EXPECT_EQ(table->GetLookupCursor("City", false), nullptr);
}

TEST_F(TableOpenTest, DatabaseDirectoryRules) {
  struct Case {
    const char* name;
    std::vector<std::string> params;
    std::string directory;
  };
  const Case cases[] = {
      {"", {}, ""},
      {"/data/tables", {}, "/data/tables"},
      {"c:tables", {}, "c:tables"},
      {"a\\b", {}, "a\\b"},
      {"Sales", {"LANG=x", "path=/srv/sales"}, "/srv/sales"},
      {"Sales", {"PATH=/first", "PATH=/second"}, "/first"},
      {"Sales", {"NAME=x"}, ""},
  };
  for (const Case& c : cases) {
    classlib::TDatabase database;
    database.SetDatabaseName(c.name);
    for (const std::string& line : c.params) database.Params().Add(line);
    EXPECT_EQ(database.GetDirectory(), c.directory) << c.name;
  }
}

TEST_F(TableOpenTest, ALongDirectoryGoesWholeToTheEngine) {
  std::string deep = dir.Path();
  while (deep.size() < 300) {
    deep += "/directory_with_a_long_name";
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  }
  engine::testing::CreateTableAt(deep + "/PEOPLE", {Field(1, "ID", en::ftInteger)}, {Index("", {1}, true)});
  TKAVRINTable table;
  table.SetDatabaseName(deep);
  table.SetTableName("PEOPLE");
  table.Open();
  EXPECT_TRUE(table.Active());
}

TEST_F(TableOpenTest, ADatabaseNamedByAliasOpensFromItsPath) {
  CreatePeople("PEOPLE", 2);
  classlib::TDatabase database;
  database.SetDatabaseName("Sales");
  database.Params().Add("Path=" + dir.Path());
  TKAVRINTable table;
  table.SetDatabaseName("sales");
  table.SetTableName("PEOPLE");
  table.Open();
  EXPECT_EQ(table.Database(), &database);
  EXPECT_EQ(table.RecordCount(), 2);
  database.Close();  // closes its datasets
  EXPECT_FALSE(table.Active());
}

}  // namespace
}  // namespace kavrin::dataset::testing
