// The field type map, index images and the reading of key expressions as field lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/transfer/transfer_descriptors.h"
#include "runtime/conversions.h"

namespace kavrin::transfer {
namespace {

using classlib::TFieldType;

TEST(TransferDescriptorsTest, FieldTypeMap) {
  struct Case {
    TFieldType type;
    int sourceSize;
    int engineType, subtype, units1, units2;
  } cases[] = {
      {TFieldType::ftUnknown, 9, 0, 0, 0, 0},    {TFieldType::ftString, 30, 1, 0, 30, 0},
      {TFieldType::ftSmallint, 0, 5, 0, 2, 0},   {TFieldType::ftInteger, 0, 6, 0, 4, 0},
      {TFieldType::ftWord, 0, 12, 0, 2, 0},      {TFieldType::ftBoolean, 0, 4, 0, 2, 0},
      {TFieldType::ftFloat, 0, 7, 0, 8, 0},      {TFieldType::ftCurrency, 0, 7, 21, 8, 0},
      {TFieldType::ftBCD, 6, 8, 0, 8, 6},        {TFieldType::ftDate, 0, 2, 0, 4, 0},
      {TFieldType::ftTime, 0, 10, 0, 4, 0},      {TFieldType::ftDateTime, 0, 11, 0, 8, 0},
      {TFieldType::ftBytes, 12, 9, 0, 12, 0},    {TFieldType::ftVarBytes, 14, 15, 0, 14, 0},
      {TFieldType::ftAutoInc, 0, 6, 29, 4, 0},   {TFieldType::ftBlob, 10, 3, 23, 10, 0},
      {TFieldType::ftMemo, 15, 3, 22, 15, 0},    {TFieldType::ftGraphic, 10, 3, 26, 10, 0},
      {TFieldType::ftFmtMemo, 11, 3, 24, 11, 0}, {TFieldType::ftParadoxOle, 10, 3, 0, 10, 0},
      {TFieldType::ftDBaseOle, 10, 3, 0, 10, 0}, {TFieldType::ftTypedBinary, 12, 3, 28, 12, 0},
  };
  for (const Case& c : cases) {
    TFieldImage image;
    BuildFieldDescriptor(image, "F", c.sourceSize, c.type);
    SCOPED_TRACE(static_cast<int>(c.type));
    EXPECT_EQ(image.Name, "F");
    EXPECT_EQ(image.Type, c.engineType);
    EXPECT_EQ(image.Subtype, c.subtype);
    EXPECT_EQ(image.Units1, c.units1);
    EXPECT_EQ(image.Units2, c.units2);
  }
}

TEST(TransferDescriptorsTest, PlainExpressionsAndTheirFieldLists) {
  struct Case {
    const char* expression;
    bool plain;
    const char* fields;
  } cases[] = {
      {"NAME+CITY", true, "NAME;CITY"},
      {" NAME + CITY ", true, "NAME;CITY"},
      {"NAME", true, "NAME"},
      {"UPPER(NAME)", false, "UPPER(NAME)"},
      {"NAME+DTOS(BORN)", false, "NAME;DTOS(BORN)"},
      {"LEFT(NAME", true, "LEFT(NAME"},
      {"A+B+C", true, "A;B;C"},
      {"+A", true, ";A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPlainIndexExpression(c.expression), c.plain) << c.expression;
    EXPECT_EQ(ExpressionToFieldList(c.expression), c.fields) << c.expression;
  }
}

TEST(TransferDescriptorsTest, IndexImageTakesOptionBitsAndFieldNumbers) {
  const std::vector<TSourceField> fields{{"ID", TFieldType::ftInteger, 0, false},
                                         {"Name", TFieldType::ftString, 20, false},
                                         {"CITY", TFieldType::ftString, 20, false}};
  TIndexImage image;
  BuildIndexDescriptor(image, "ByCity", ixUnique | ixDescending | ixCaseInsensitive, "", "CITY;name", fields);
  EXPECT_EQ(image.Name, "ByCity");
  EXPECT_FALSE(image.Primary);
  EXPECT_TRUE(image.Unique && image.Descending && image.CaseInsensitive && image.Maintained);
  EXPECT_EQ(image.KeyFieldCount, 2);
  EXPECT_EQ(image.KeyFields[0], 3);
  EXPECT_EQ(image.KeyFields[1], 2);

  BuildIndexDescriptor(image, "", ixPrimary | ixExpression, "ID + CITY", "ignored", fields);
  EXPECT_TRUE(image.Primary);
  EXPECT_FALSE(image.Unique);
  EXPECT_EQ(image.KeyFieldCount, 2);
  EXPECT_EQ(image.KeyFields[0], 1);
  EXPECT_EQ(image.KeyFields[1], 3);

  // At most 16 key fields; a name that is not a field gives 0.
  std::string many;
  for (int i = 0; i < 20; ++i) many += (i ? ";" : "") + std::string(i == 3 ? "NOPE" : "ID");
  BuildIndexDescriptor(image, "X", 0, "", many, fields);
  EXPECT_EQ(image.KeyFieldCount, 16);
  EXPECT_EQ(image.KeyFields[3], 0);
  EXPECT_EQ(image.KeyFields[15], 1);
}

// Names come in UTF-8 and leave in Windows-1252; key fields match as the engine compares names.
TEST(TransferDescriptorsTest, NamesAreStoredInWindows1252) {
  TFieldImage field;
  BuildFieldDescriptor(field, "PRICE\u20AC", 0, TFieldType::ftFloat);
  EXPECT_EQ(field.Name, "PRICE\x80");
  const std::vector<TSourceField> fields{{"ID", TFieldType::ftInteger, 0, false},
                                         {"CAF\u00E9", TFieldType::ftString, 20, false}};
  TIndexImage index;
  BuildIndexDescriptor(index, "BY\u00C9", ixExpression, "ID+caf\u00C9", "", fields);
  EXPECT_EQ(index.Name, "BY\xC9");
  EXPECT_EQ(index.KeyFieldCount, 2);
  EXPECT_EQ(index.KeyFields[1], 2);
  EXPECT_THROW(BuildIndexDescriptor(index, "BY\u03A9", 0, "", "ID", fields), runtime::EConvertError);
}

}  // namespace
}  // namespace kavrin::transfer
