#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/bcd.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "runtime/date_time.h"
#include "runtime/format_settings.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/table_fixture.h"

namespace kavrin::engine {
namespace {

using testing::CreateTableAt;
using testing::Field;
using testing::Index;

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

// 10 June 2024 14:30:15.250, the clock every default reads.
runtime::TDateTime FixedNow() { return runtime::EncodeDate(2024, 6, 10) + runtime::EncodeTime(14, 30, 15, 250); }

class FieldAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    runtime::ResetFormatSettings();
    runtime::SetClock(FixedNow);
  }
  void TearDown() override {
    if (table.Opened()) table.Close();
    runtime::SetClock(nullptr);
    MemoryFiles().Clear();
  }

  void Open(std::vector<TFieldDescriptor> fields) {
    CreateTableAt("FIELDS.DAT", std::move(fields), {Index("", {1}, true)}, true);
    table.SetInMemory(true);
    table.SetExclusive(true);
    table.SetFileName("FIELDS.DAT");
    table.Open();
    image.assign(table.RecordSize(), 0xAA);
  }

  TDataFile table;
  std::vector<std::uint8_t> image;
};

TEST_F(FieldAccessTest, StringsAreCutTrimmedAndNullWhenBlank) {
  Open({Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10)});
  std::array<char, 11> value;
  bool isNull = true;

  table.SetField(2, image.data(), "abc   ");
  table.GetField(2, image.data(), isNull, value.data());
  EXPECT_FALSE(isNull);
  EXPECT_STREQ(value.data(), "abc");
  // The rest of the slot is zero, not what the image held before.
  const TFieldDescriptor* name = table.FindField(2);
  for (int i = 4; i < 11; ++i) EXPECT_EQ(image[name->SlotOffset + 1 + i], 0) << i;

  table.SetField(2, image.data(), "abcdefghijKLMNOP");
  table.GetField(2, image.data(), isNull, value.data());
  EXPECT_STREQ(value.data(), "abcdefghij");

  table.SetField(2, image.data(), "     ");
  value.fill('x');
  table.GetField(2, image.data(), isNull, value.data());
  EXPECT_TRUE(isNull);
  EXPECT_EQ(std::string(value.data(), value.size()), std::string(11, '\0'));

  table.SetField(2, image.data(), nullptr);
  table.GetField(2, image.data(), isNull, nullptr);
  EXPECT_TRUE(isNull);
}

TEST_F(FieldAccessTest, AutoIncIsTheUniqueIdAndNeverNull) {
  Open({Field(1, "ID", ftInteger, 0, fstAutoInc), Field(2, "Name", ftString, 10)});
  EXPECT_EQ(table.FindField(1)->SlotOffset, 5);
  StoreI32(image.data() + 5, 1234);
  std::int32_t value = 0;
  bool isNull = true;
  table.GetField(1, image.data(), isNull, &value);
  EXPECT_FALSE(isNull);
  EXPECT_EQ(value, 1234);
  table.SetField(1, image.data(), nullptr);  // nothing happens
  EXPECT_EQ(LoadI32(image.data() + 5), 1234);
  const std::int32_t id = 99;
  table.SetField(1, image.data(), &id);
  EXPECT_EQ(LoadI32(image.data() + 5), 99);
}

TEST_F(FieldAccessTest, NullFieldsReadAsZeroFilledValues) {
  Open({Field(1, "ID", ftInteger), Field(2, "When", ftTimeStamp), Field(3, "Flag", ftBoolean)});
  double when = 42;
  table.SetField(2, image.data(), &when);
  table.SetField(2, image.data(), nullptr);
  std::array<std::uint8_t, 8> value;
  value.fill(0xFF);
  bool isNull = false;
  table.GetField(2, image.data(), isNull, value.data());
  EXPECT_TRUE(isNull);
  EXPECT_EQ(value, (std::array<std::uint8_t, 8>{}));
  EXPECT_EQ(CodeOf([&] { table.GetField(9, image.data(), isNull, nullptr); }), ec::InvalidFieldNumber);
  EXPECT_EQ(CodeOf([&] { table.SetField(9, image.data(), nullptr); }), ec::InvalidFieldNumber);
}

TEST_F(FieldAccessTest, DefaultsByTypeAndKeyword) {
  std::vector<TFieldDescriptor> fields{
      Field(1, "ID", ftInteger),
      Field(2, "Day", ftDate),
      Field(3, "Clock", ftTime),
      Field(4, "Stamp", ftTimeStamp),
      Field(5, "Midday", ftTimeStamp),
      Field(6, "Yes", ftBoolean),
      Field(7, "Lower", ftBoolean),
      Field(8, "Small", ftSmallInt),
      Field(9, "Word", ftWord),
      Field(10, "Real", ftFloat),
      Field(11, "Money", ftBCD),
      Field(12, "Text", ftString, 8),
      Field(13, "Bad", ftInteger),
      Field(14, "DateWord", ftInteger),
      Field(15, "Notes", ftBlob, 0, fstMemo),
      Field(16, "Parsed", ftDate),
      Field(17, "StampDay", ftTimeStamp),
  };
  fields[1].Default = "date";  // keywords in any case
  fields[2].Default = "Time";
  fields[3].Default = "TIME";  // the time of day on day 0
  fields[4].Default = "now";
  fields[5].Default = "True";
  fields[6].Default = "true";  // only "True" is true
  fields[7].Default = "-12";
  fields[8].Default = "65535";
  fields[9].Default = "2.5";
  fields[10].Default = "12.345";
  fields[10].Decimals = 2;
  fields[11].Default = "hello";
  fields[15].Default = "2/29/2024";
  fields[16].Default = "DATE";
  Open(fields);

  // Bad defaults cannot be created; change one in place to see that it gives 0.
  TFieldDescriptor bad;
  table.FieldDefByNumber(13, bad);
  bad.Default = "12x";
  table.AlterFieldDef(13, bad);
  table.FieldDefByNumber(14, bad);
  bad.Default = "Date";  // an integer parse like any other: 0, not today
  table.AlterFieldDef(14, bad);

  table.InitRecord(image.data());
  auto i32 = [&](std::int16_t n) {
    std::int32_t v = 0;
    bool isNull = true;
    table.GetField(n, image.data(), isNull, &v);
    EXPECT_FALSE(isNull) << n;
    return v;
  };
  auto f64 = [&](std::int16_t n) {
    double v = 0;
    bool isNull = true;
    table.GetField(n, image.data(), isNull, &v);
    return v;
  };
  auto i16 = [&](std::int16_t n) {
    std::int16_t v = 0;
    bool isNull = true;
    table.GetField(n, image.data(), isNull, &v);
    return v;
  };
  const runtime::TTimeStamp now = runtime::DateTimeToTimeStamp(FixedNow());
  EXPECT_EQ(i32(2), now.Date);
  EXPECT_EQ(i32(3), now.Time);
  EXPECT_EQ(f64(4), static_cast<double>(runtime::DateDelta) * runtime::MSecsPerDay + now.Time);
  EXPECT_EQ(f64(5), runtime::TimeStampToMSecs(now));
  EXPECT_EQ(i16(6), 1);
  EXPECT_EQ(i16(7), 0);
  EXPECT_EQ(i16(8), -12);
  EXPECT_EQ(static_cast<std::uint16_t>(i16(9)), 65535);
  EXPECT_EQ(f64(10), 2.5);
  std::int64_t money = 0;
  bool isNull = true;
  table.GetField(11, image.data(), isNull, &money);
  EXPECT_EQ(BCDToCurrency(money).Raw(), 123500);
  std::array<char, 9> text{};
  table.GetField(12, image.data(), isNull, text.data());
  EXPECT_STREQ(text.data(), "hello");
  EXPECT_EQ(i32(13), 0);
  EXPECT_EQ(i32(14), 0);
  table.GetField(15, image.data(), isNull, nullptr);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(i32(16), runtime::DateTimeToTimeStamp(runtime::EncodeDate(2024, 2, 29)).Date);
  EXPECT_EQ(f64(17), static_cast<double>(now.Date) * runtime::MSecsPerDay);
  // Fields without a default are null.
  table.GetField(1, image.data(), isNull, nullptr);
  EXPECT_TRUE(isNull);
}

TEST_F(FieldAccessTest, DefinitionLookupsAndInPlaceChange) {
  Open({Field(1, "ID", ftInteger), Field(7, "Name", ftString, 10)});
  TFieldDescriptor field;
  table.FieldDefByIndex(2, field);
  EXPECT_EQ(field.Name, "Name");
  EXPECT_EQ(CodeOf([&] { table.FieldDefByIndex(3, field); }), ec::InvalidFieldNumber);
  EXPECT_EQ(field.Name, "");  // a failed lookup leaves the definition zero
  // Numbers between, below and above those of the fields.
  for (const std::int16_t missing : {std::int16_t{2}, std::int16_t{0}, std::int16_t{-1}, std::int16_t{8}}) {
    EXPECT_EQ(CodeOf([&] { table.FieldDefByNumber(missing, field); }), ec::InvalidFieldNumber) << missing;
  }
  table.FieldDefByNumber(7, field);
  EXPECT_EQ(field.Size, 10);

  TFieldDescriptor changed = field;
  changed.FieldNumber = 8;
  changed.Name = std::string(40, 'N');
  changed.Type = ftInteger;  // type, size and slot stay
  changed.Size = 3;
  changed.Minimum = "a";
  table.AlterFieldDef(2, changed);
  table.FieldDefByNumber(8, field);
  EXPECT_EQ(field.Name, std::string(30, 'N'));
  EXPECT_EQ(field.Type, ftString);
  EXPECT_EQ(field.Size, 10);
  EXPECT_EQ(field.Minimum, "a");
  EXPECT_EQ(CodeOf([&] { table.FieldDefByNumber(7, field); }), ec::InvalidFieldNumber);
  EXPECT_EQ(CodeOf([&] { table.AlterFieldDef(0, changed); }), ec::InvalidFieldNumber);

  TDataFile shared;
  shared.SetInMemory(true);
  EXPECT_EQ(CodeOf([&] { shared.AlterFieldDef(1, changed); }), ec::MustBeExclusive);
  shared.SetExclusive(true);
  shared.SetReadOnly(true);
  EXPECT_EQ(CodeOf([&] { shared.AlterFieldDef(1, changed); }), ec::AccessDenied);
}

TEST_F(FieldAccessTest, SizesAndTrimming) {
  Open({Field(1, "ID", ftInteger), Field(2, "Name", ftString, 245), Field(3, "Raw", ftBytes, 7),
        Field(4, "Ten", ftFloat10)});
  EXPECT_EQ(TDataFile::FieldDataSize(*table.FindField(2)), 246);
  EXPECT_EQ(TDataFile::FieldDataSize(*table.FindField(3)), 7);
  EXPECT_EQ(TDataFile::FieldDataSize(*table.FindField(4)), 10);
  EXPECT_EQ(table.RecordSize(), 9 + 5 + 247 + 8 + 11);
  EXPECT_EQ(table.BlobBlockSize(), 512);
  char text[] = "words   ";
  TDataFile::TrimTrailingBlanks(text);
  EXPECT_STREQ(text, "words");
}

}  // namespace
}  // namespace kavrin::engine
