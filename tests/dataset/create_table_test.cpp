#include <filesystem>

#include "classlib/data/desc_images.h"
#include "classlib/data/numeric_fields.h"
#include "classlib/data/string_field.h"
#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "tests/dataset/dataset_fixture.h"

namespace kavrin::dataset::testing {
namespace {

namespace cl = kavrin::classlib;
namespace en = kavrin::engine;
using cl::TFieldType;

class CreateTableTest : public DataSetTest {
 protected:
  std::unique_ptr<TTable> NewTable(const std::string& name) {
    auto table = std::make_unique<TTable>();
    table->SetDatabaseName(dir.Path());
    table->SetTableName(name);
    return table;
  }
  // The engine's own view of the new table.
  std::vector<en::TFieldDescriptor> EngineFields(const std::string& name,
                                                 std::vector<en::TIndexDescriptor>* indexes = nullptr,
                                                 std::uint16_t* blockSize = nullptr) {
    en::TDataFile file;
    file.SetFileName(PathOf(name));
    file.Open();
    std::vector<en::TFieldDescriptor> fields(file.FieldCount());
    for (std::uint16_t i = 0; i < file.FieldCount(); ++i)
      file.FieldDefByIndex(static_cast<std::uint16_t>(i + 1), fields[i]);
    if (indexes) {
      indexes->clear();
      for (int n = 0; n <= file.IndexCount(); ++n) indexes->push_back(file.GetIndexDef(static_cast<std::uint8_t>(n)));
    }
    if (blockSize) *blockSize = file.BlobBlockSize();
    file.Close();
    return fields;
  }
};

TEST_F(CreateTableTest, TheIncidentTableIsCreatedAndReopenedAsDefined) {
  auto table = NewTable("INCIDENT");
  struct Def {
    const char* name;
    TFieldType type;
    int size;
    std::uint8_t engineType;
    std::uint8_t engineSubtype;
    std::uint8_t engineSize;
  } defs[] = {
      {"IncidentNum", TFieldType::ftInteger, 0, en::ftInteger, 0, 4},
      {"ReportedBy", TFieldType::ftString, 40, en::ftString, 0, 40},
      {"ReportedOn", TFieldType::ftDate, 0, en::ftDate, 0, 4},
      {"ReportRelease", TFieldType::ftString, 30, en::ftString, 0, 30},
      {"Area", TFieldType::ftString, 30, en::ftString, 0, 30},
      {"Severity", TFieldType::ftString, 30, en::ftString, 0, 30},
      {"Keywords", TFieldType::ftString, 60, en::ftString, 0, 60},
      {"Description", TFieldType::ftMemo, 0, en::ftBlob, en::fstMemo, 4},
      {"InternalNotes", TFieldType::ftMemo, 0, en::ftBlob, en::fstMemo, 4},
      {"Resolution", TFieldType::ftString, 30, en::ftString, 0, 30},
      {"ResolvedOn", TFieldType::ftDate, 0, en::ftDate, 0, 4},
      {"FixRelease", TFieldType::ftString, 30, en::ftString, 0, 30},
      {"Submitted", TFieldType::ftBoolean, 0, en::ftBoolean, 0, 2},
  };
  for (const Def& d : defs) table->FieldDefs().Add(d.name, d.type, d.size, false);
  const char* const secondaries[] = {"ReportedBy", "ReportedOn", "ReportRelease", "Area",
                                     "Severity",   "Resolution", "ResolvedOn",    "FixRelease"};
  table->IndexDefs().Add("", "IncidentNum", cl::ixPrimary);
  for (const char* name : secondaries) table->IndexDefs().Add(name, name, 0);
  table->CreateTable();
  EXPECT_FALSE(table->Active());

  std::vector<en::TIndexDescriptor> indexes;
  std::uint16_t blockSize = 0;
  const auto fields = EngineFields("INCIDENT", &indexes, &blockSize);
  ASSERT_EQ(fields.size(), 13u);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    SCOPED_TRACE(defs[i].name);
    EXPECT_EQ(fields[i].FieldNumber, static_cast<std::int16_t>(i + 1));
    EXPECT_EQ(fields[i].Name, defs[i].name);
    EXPECT_EQ(fields[i].Type, defs[i].engineType);
    EXPECT_EQ(fields[i].Subtype, defs[i].engineSubtype);
    if (defs[i].engineType == en::ftString) {
      EXPECT_EQ(fields[i].Size, defs[i].engineSize);
    }
    EXPECT_FALSE(fields[i].Required);
  }
  EXPECT_EQ(blockSize, 512);
  ASSERT_EQ(indexes.size(), 9u);
  EXPECT_EQ(indexes[0].Name, "");
  EXPECT_EQ(indexes[0].KeyFields[0], 1);
  const int fieldOf[] = {2, 3, 4, 5, 6, 10, 11, 12};
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE(secondaries[n - 1]);
    EXPECT_EQ(indexes[static_cast<std::size_t>(n)].Name, secondaries[n - 1]);
    EXPECT_EQ(indexes[static_cast<std::size_t>(n)].KeyFieldCount, 1);
    EXPECT_EQ(indexes[static_cast<std::size_t>(n)].KeyFields[0], fieldOf[n - 1]);
    EXPECT_EQ(indexes[static_cast<std::size_t>(n)].CaseInsensitive, 0);
  }

  // Reopened as the program opens it.
  auto incidents = NewTable("INCIDENT");
  incidents->SetExclusive(true);
  incidents->SetIndexName("ReportedOn");
  incidents->Open();
  ASSERT_EQ(incidents->FieldCount(), 13);
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(incidents->Fields(i)->FieldName(), defs[i].name);
    EXPECT_EQ(incidents->Fields(i)->DataType(), defs[i].type);
    if (defs[i].type == TFieldType::ftString) {
      EXPECT_EQ(incidents->Fields(i)->Size(), defs[i].size);
    }
  }
  incidents->IndexDefs().Update();
  ASSERT_EQ(incidents->IndexDefs().Count(), 9);
  EXPECT_TRUE(incidents->IndexDefs()[0].Has(cl::ixPrimary));
  EXPECT_EQ(incidents->IndexDefs()[0].Fields(), "IncidentNum");
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(incidents->IndexDefs()[n].Fields(), secondaries[n - 1]);
  incidents->Append();
  incidents->FieldByName("IncidentNum")->SetAsInteger(1);
  incidents->FieldByName("Description")->SetAsString("Ärger");
  incidents->Post();
  EXPECT_EQ(incidents->RecordCount(), 1);
}

TEST_F(CreateTableTest, DescriptorEdgeCasesAsATable) {
  struct Case {
    TFieldType type;
    int size;
    std::uint16_t type16, subtype16;
    std::int16_t units1, units2, length;
  } cases[] = {
      {TFieldType::ftBCD, 2, 8, 0, 8, 2, 8},          {TFieldType::ftCurrency, 0, 7, 21, 8, 0, 8},
      {TFieldType::ftAutoInc, 0, 6, 29, 0, 0, 0},     {TFieldType::ftString, 25, 1, 0, 25, 0, 25},
      {TFieldType::ftSmallint, 9, 5, 0, 2, 0, 2},     {TFieldType::ftWord, 0, 12, 0, 2, 0, 2},
      {TFieldType::ftDateTime, 0, 11, 0, 8, 0, 8},    {TFieldType::ftGraphic, 0, 3, 26, 4, 0, 4},
      {TFieldType::ftTypedBinary, 0, 3, 28, 4, 0, 4}, {TFieldType::ftBytes, 16, 9, 0, 16, 0, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    cl::FieldDescImage image;
    EXPECT_EQ(TTable::EncodeFieldDesc(image, "F", c.size, c.type), c.length);
    EXPECT_EQ(image.Type(), c.type16);
    EXPECT_EQ(image.Subtype(), c.subtype16);
    EXPECT_EQ(image.Units1(), c.units1);
    EXPECT_EQ(image.Units2(), c.units2);
    EXPECT_EQ(image.Name(), "F");
  }

  auto table = NewTable("EDGES");
  table->FieldDefs().Add("Amount", TFieldType::ftBCD, 2, true);
  table->FieldDefs().Add("Price", TFieldType::ftCurrency, 0, false);
  std::string seventeen;
  for (int i = 1; i <= 17; ++i) {
    table->FieldDefs().Add("K" + std::to_string(i), TFieldType::ftSmallint, 0, false);
    seventeen += (i > 1 ? ";" : "") + std::string("K") + std::to_string(i);
  }
  table->FieldDefs().Add("Picture", TFieldType::ftGraphic, 0, false);
  cl::IndexDescImage wide;
  table->EncodeIndexDesc(wide, "Wide", 0, seventeen + ";NoSuchField");
  EXPECT_EQ(wide.KeyFieldCount(), 16);
  EXPECT_EQ(wide.KeyField(15), 18);
  EXPECT_EQ(wide.Maintained(), 1);
  table->IndexDefs().Add("NamedPrimary", "Amount", cl::ixPrimary);
  table->IndexDefs().Add("Down", "Price", cl::ixDescending | cl::ixUnique);
  table->CreateTable();
  std::vector<en::TIndexDescriptor> indexes;
  std::uint16_t blockSize = 0;
  const auto fields = EngineFields("EDGES", &indexes, &blockSize);
  EXPECT_EQ(fields[0].Type, en::ftBCD);
  EXPECT_EQ(fields[0].Decimals, 2);
  EXPECT_TRUE(fields[0].Required);
  EXPECT_EQ(fields[1].Type, en::ftFloat);
  EXPECT_EQ(fields[1].Subtype, 21);
  EXPECT_EQ(indexes[0].Name, "");  // the primary index keeps no name
  EXPECT_EQ(indexes[1].Name, "Down");
  EXPECT_EQ(indexes[1].Descending, 1);
  EXPECT_EQ(indexes[1].Unique, 1);
  EXPECT_TRUE(std::filesystem::exists(PathOf("EDGES.BLB")));
  EXPECT_EQ(blockSize, 512);

  // A primary index named with 17 fields is made over the first 16.
  auto wideTable = NewTable("WIDE");
  for (int i = 1; i <= 17; ++i) wideTable->FieldDefs().Add("K" + std::to_string(i), TFieldType::ftSmallint, 0, false);
  wideTable->IndexDefs().Add("", seventeen, cl::ixPrimary);
  wideTable->CreateTable();
  EngineFields("WIDE", &indexes);
  EXPECT_EQ(indexes[0].KeyFieldCount, 16);
  EXPECT_EQ(indexes[0].KeyFields[15], 16);
}

TEST_F(CreateTableTest, FailuresAndWhereTheDefinitionsComeFrom) {
  CreatePeople("PEOPLE", 1);
  auto open = NewTable("PEOPLE");
  open->Open();
  EXPECT_EQ(DatabaseMessageOf([&] { open->CreateTable(); }), "Cannot perform this operation on an open dataset");
  open->Close();

  auto unknown = NewTable("UNKNOWN");
  unknown->FieldDefs().Add("A", TFieldType::ftInteger);
  unknown->IndexDefs().Add("", "B", cl::ixPrimary);
  EXPECT_EQ(DatabaseMessageOf([&] { unknown->CreateTable(); }), "Field 'B' not found");
  EXPECT_FALSE(std::filesystem::exists(PathOf("UNKNOWN.DAT")));

  auto noIndex = NewTable("NOINDEX");
  noIndex->FieldDefs().Add("A", TFieldType::ftInteger);
  EXPECT_GT(EngineCodeOf([&] { noIndex->CreateTable(); }), 0);  // the engine refuses an empty primary index
  EXPECT_FALSE(std::filesystem::exists(PathOf("NOINDEX.DAT")));

  // Key fields take the numbers of the new table, whatever numbers the definitions held.
  auto renumbered = NewTable("RENUMBERED");
  renumbered->FieldDefs().AddFieldDesc(cl::FieldDescImage::FromDescriptor(Field(7, "Code", en::ftInteger)), false, 7);
  renumbered->FieldDefs().AddFieldDesc(cl::FieldDescImage::FromDescriptor(Field(9, "Name", en::ftString, 12)), false,
                                       9);
  renumbered->IndexDefs().Add("", "Code", cl::ixPrimary);
  renumbered->IndexDefs().Add("ByName", "Name", cl::ixCaseInsensitive);
  renumbered->CreateTable();
  std::vector<en::TIndexDescriptor> indexes;
  EngineFields("RENUMBERED", &indexes);
  EXPECT_EQ(indexes[0].KeyFields[0], 1);
  EXPECT_EQ(indexes[1].KeyFields[0], 2);
  EXPECT_EQ(indexes[1].CaseInsensitive, 1);

  // Without field definitions the field objects give them; calculated ones are left out.
  auto fromFields = NewTable("FROMFIELDS");
  auto* id = new cl::TIntegerField(fromFields.get());
  id->SetFieldName("ID");
  id->SetDataSet(fromFields.get());
  auto* name = new cl::TStringField(fromFields.get());
  name->SetFieldName("Name");
  name->SetSize(15);
  name->SetDataSet(fromFields.get());
  auto* calc = new cl::TIntegerField(fromFields.get());
  calc->SetFieldName("Twice");
  calc->SetCalculated(true);
  calc->SetDataSet(fromFields.get());
  fromFields->IndexDefs().Add("", "ID", cl::ixPrimary);
  fromFields->CreateTable();
  const auto fields = EngineFields("FROMFIELDS");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1].Name, "Name");
  EXPECT_EQ(fields[1].Size, 15);
}

}  // namespace
}  // namespace kavrin::dataset::testing
