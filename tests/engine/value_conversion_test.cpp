#include "engine/value_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "runtime/format_settings.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/hex.h"

namespace kavrin::engine {
namespace {

using testing::Field;
using Bytes = std::vector<std::uint8_t>;

// Day numbers (1 January 0001 = 1) and milliseconds as the fields store them.
constexpr std::int32_t kChristmas2020 = 737784;  // 25 December 2020
constexpr std::int32_t kZeroDay = 693594;        // 30 December 1899, date-time 0
constexpr double kMsPerDay = 86400000.0;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes I16(std::int16_t v) {
  Bytes b(2);
  StoreI16(b.data(), v);
  return b;
}
Bytes U16(std::uint16_t v) {
  Bytes b(2);
  StoreU16(b.data(), v);
  return b;
}
Bytes I32(std::int32_t v) {
  Bytes b(4);
  StoreI32(b.data(), v);
  return b;
}
Bytes F64(double v) {
  Bytes b(8);
  StoreF64(b.data(), v);
  return b;
}
Bytes Stored(std::int64_t v) {  // a BCD field's stored 64 bits
  Bytes b(8);
  StoreI64(b.data(), v);
  return b;
}

TFieldDescriptor Def(std::uint8_t type, std::uint8_t size = 0, std::uint8_t decimals = 0) {
  TFieldDescriptor field = Field(1, "F", type, size);
  field.Decimals = decimals;
  return field;
}

TFieldDescriptor AutoInc() {
  TFieldDescriptor field = Def(ftInteger);
  field.Subtype = fstAutoInc;
  return field;
}

struct Row {
  const char* what;
  TFieldDescriptor from;
  TFieldDescriptor to;
  Bytes input;
  Bytes stored;  // the value buffer afterwards; the rest of the 246 bytes must be zero
  bool lost;
  bool supported = true;
};

// The bytes up to the last non-zero one: enough to compare two buffers of the same size.
std::string Hex(const Bytes& b) {
  auto end = b.end();
  while (end != b.begin() && *(end - 1) == 0) --end;
  return kavrin::testing::ToHex(std::string(b.begin(), end));
}

class ValueConversionTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime::ResetFormatSettings(); }
  void TearDown() override { runtime::ResetFormatSettings(); }

  static void Check(const Row& row) {
    SCOPED_TRACE(row.what);
    Bytes value(FieldValueBufferSize, 0);
    std::copy(row.input.begin(), row.input.end(), value.begin());
    bool lost = !row.lost;
    const bool supported = ConvertFieldValue(row.from, row.to, value.data(), lost);
    EXPECT_EQ(supported, row.supported);
    EXPECT_EQ(lost, row.lost);
    Bytes expected = row.stored;
    expected.resize(FieldValueBufferSize, 0);
    EXPECT_EQ(Hex(value), Hex(expected));
  }
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST_F(ValueConversionTest, EveryConversionOfTheTable) {
  const Row rows[] = {
      // From string.
      {"string fraction to float", Def(ftString, 20), Def(ftFloat), Text("12.5"), F64(12.5), false},
      {"string letters to integer", Def(ftString, 20), Def(ftInteger), Text("abc"), I32(0), true},
      {"string to integer", Def(ftString, 20), Def(ftInteger), Text("-123"), I32(-123), false},
      {"string beyond 32 bits to integer", Def(ftString, 20), Def(ftInteger), Text("5000000000"), I32(0), true},
      {"string 70000 to smallint keeps the low bits", Def(ftString, 20), Def(ftSmallInt), Text("70000"), I16(4464),
       true},
      {"string -5 to word", Def(ftString, 20), Def(ftWord), Text("-5"), U16(65531), true},
      {"string to word", Def(ftString, 20), Def(ftWord), Text("65535"), U16(65535), false},
      {"string to date", Def(ftString, 20), Def(ftDate), Text("12/25/2020"), I32(kChristmas2020), false},
      {"string not a date", Def(ftString, 20), Def(ftDate), Text("soon"), I32(kZeroDay), true},
      {"string to time", Def(ftString, 20), Def(ftTime), Text("1:30:15 PM"), I32(48615000), false},
      {"string not a time", Def(ftString, 20), Def(ftTime), Text("noon"), I32(0), true},
      {"string to timestamp", Def(ftString, 30), Def(ftTimeStamp), Text("12/25/2020 6:00:00 AM"),
       F64(kChristmas2020 * kMsPerDay + 21600000), false},
      {"string not a timestamp", Def(ftString, 20), Def(ftTimeStamp), Text("x"), F64(kZeroDay * kMsPerDay), true},
      {"string True to boolean", Def(ftString, 20), Def(ftBoolean), Text("True"), I16(1), false},
      {"string False to boolean", Def(ftString, 20), Def(ftBoolean), Text("False"), I16(0), false},
      {"string yes to boolean", Def(ftString, 20), Def(ftBoolean), Text("yes"), I16(0), true},
      {"string to BCD with 2 decimals", Def(ftString, 20), Def(ftBCD, 0, 2), Text("12.345"), Stored(12352), false},
      {"string not a number to BCD", Def(ftString, 20), Def(ftBCD, 0, 2), Text("x"), Stored(2), true},
      {"string to bytes", Def(ftString, 5), Def(ftBytes, 4), Text("ab"), Text("ab"), false},
      {"string cut into bytes", Def(ftString, 5), Def(ftBytes, 3), Text("abcde"), Text("abc"), true},
      {"string cut to a shorter string", Def(ftString, 20), Def(ftString, 10), Text("abcdefghijklmnopqrst"),
       Text("abcdefghij"), true},
      {"string that fits a shorter string", Def(ftString, 20), Def(ftString, 10), Text("abc"), Text("abc"), false},
      {"string to a longer string", Def(ftString, 5), Def(ftString, 20), Text("abcde"), Text("abcde"), false},

      // From integer.
      {"integer 70000 to smallint", Def(ftInteger), Def(ftSmallInt), I32(70000), I16(4464), true},
      {"integer to smallint", Def(ftInteger), Def(ftSmallInt), I32(-1234), I16(-1234), false},
      {"integer -1 to word", Def(ftInteger), Def(ftWord), I32(-1), U16(65535), true},
      {"integer to string", Def(ftInteger), Def(ftString, 10), I32(42), Text("42"), false},
      {"integer cut to a short string", Def(ftInteger), Def(ftString, 5), I32(-2147483647 - 1), Text("-2147"), true},
      {"integer to float", Def(ftInteger), Def(ftFloat), I32(7), F64(7), false},
      {"integer to BCD", Def(ftInteger), Def(ftBCD, 0, 2), I32(7), Stored(7002), false},
      {"integer too large for BCD with 9 decimals", Def(ftInteger), Def(ftBCD, 0, 9), I32(2000000000), Stored(9), true},
      {"integer to bytes", Def(ftInteger), Def(ftBytes, 2), I32(258), Bytes{2, 1}, false},
      {"integer cut into bytes", Def(ftInteger), Def(ftBytes, 2), I32(0x01020304), Bytes{4, 3}, true},
      {"AutoInc to integer", AutoInc(), Def(ftInteger), I32(99), I32(99), false},

      // From smallint.
      {"smallint to string", Def(ftSmallInt), Def(ftString, 10), I16(-5), Text("-5"), false},
      {"smallint to integer is sign-extended", Def(ftSmallInt), Def(ftInteger), I16(-5), I32(-5), false},
      {"smallint -5 to word", Def(ftSmallInt), Def(ftWord), I16(-5), U16(65531), true},
      {"smallint to boolean", Def(ftSmallInt), Def(ftBoolean), I16(-5), I16(1), false},
      {"smallint 0 to boolean", Def(ftSmallInt), Def(ftBoolean), I16(0), I16(0), false},
      {"smallint to float", Def(ftSmallInt), Def(ftFloat), I16(-5), F64(-5), false},
      {"smallint to BCD", Def(ftSmallInt), Def(ftBCD), I16(-5), Stored(-50), false},
      {"smallint to bytes", Def(ftSmallInt), Def(ftBytes, 4), I16(-2), Bytes{0xFE, 0xFF}, false},

      // From word.
      {"word to string is unsigned", Def(ftWord), Def(ftString, 10), U16(65535), Text("65535"), false},
      {"word to integer", Def(ftWord), Def(ftInteger), U16(65535), I32(65535), false},
      {"word 65535 to smallint", Def(ftWord), Def(ftSmallInt), U16(65535), I16(-1), true},
      {"word to boolean", Def(ftWord), Def(ftBoolean), U16(2), I16(1), false},
      {"word to float", Def(ftWord), Def(ftFloat), U16(65535), F64(65535), false},
      {"word to BCD", Def(ftWord), Def(ftBCD, 0, 1), U16(65535), Stored(6553501), false},
      {"word to bytes", Def(ftWord), Def(ftBytes, 1), U16(7), Bytes{7}, false},

      // From boolean.
      {"boolean to string", Def(ftBoolean), Def(ftString, 10), I16(1), Text("True"), false},
      {"boolean cut to a short string", Def(ftBoolean), Def(ftString, 3), I16(0), Text("Fal"), true},
      {"boolean to smallint", Def(ftBoolean), Def(ftSmallInt), I16(1), I16(1), false},
      {"boolean to integer", Def(ftBoolean), Def(ftInteger), I16(1), I32(1), false},
      {"boolean to word", Def(ftBoolean), Def(ftWord), I16(0), U16(0), false},
      {"boolean True to BCD with 2 decimals is 1.00", Def(ftBoolean), Def(ftBCD, 0, 2), I16(1), Stored(1002), false},
      {"boolean to bytes", Def(ftBoolean), Def(ftBytes, 2), I16(1), Bytes{1, 0}, false},

      // From float.
      {"float to string", Def(ftFloat), Def(ftString, 10), F64(2.75), Text("2.75"), false},
      {"float to integer truncates toward zero", Def(ftFloat), Def(ftInteger), F64(-2.75), I32(-2), false},
      {"float beyond 32 bits to integer", Def(ftFloat), Def(ftInteger), F64(1e10), I32(1410065408), true},
      {"float NaN to integer", Def(ftFloat), Def(ftInteger), F64(kNaN), I32(0), true},
      {"float beyond 64 bits to word", Def(ftFloat), Def(ftWord), F64(1e30), U16(0), true},
      {"float 70000.9 to smallint", Def(ftFloat), Def(ftSmallInt), F64(70000.9), I16(4464), true},
      {"float to word", Def(ftFloat), Def(ftWord), F64(65535.9), U16(65535), false},
      {"float to BCD", Def(ftFloat), Def(ftBCD, 0, 1), F64(2.5), Stored(251), false},
      {"float beyond currency to BCD", Def(ftFloat), Def(ftBCD, 0, 1), F64(1e30), Stored(1), true},
      {"float to bytes", Def(ftFloat), Def(ftBytes, 8), F64(1), F64(1), false},

      // From BCD (12.5 with 2 decimals is stored 12502).
      {"BCD to string", Def(ftBCD, 0, 2), Def(ftString, 10), Stored(12502), Text("12.5"), false},
      {"BCD to float", Def(ftBCD, 0, 2), Def(ftFloat), Stored(12502), F64(12.5), false},
      {"BCD to integer", Def(ftBCD, 0, 2), Def(ftInteger), Stored(12502), I32(12), false},
      {"BCD to integer truncates toward zero", Def(ftBCD, 0, 1), Def(ftInteger), Stored(-791), I32(-7), false},
      {"BCD 40000 to smallint", Def(ftBCD, 0, 2), Def(ftSmallInt), Stored(40000002), I16(-25536), true},
      {"BCD to word", Def(ftBCD, 0, 2), Def(ftWord), Stored(40000002), U16(40000), false},
      {"BCD to fewer decimals is re-encoded", Def(ftBCD, 0, 2), Def(ftBCD, 0, 1), Stored(12502), Stored(1251), false},
      {"BCD to more decimals is re-encoded", Def(ftBCD, 0, 1), Def(ftBCD, 0, 3), Stored(1251), Stored(125003), false},
      {"BCD with its decimals kept", Def(ftBCD, 0, 2), Def(ftBCD, 0, 2), Stored(12502), Stored(12502), false},
      {"BCD to bytes", Def(ftBCD, 0, 2), Def(ftBytes, 8), Stored(12502), Stored(12502), false},

      // Dates and times.
      {"date to string", Def(ftDate), Def(ftString, 10), I32(kChristmas2020), Text("12/25/2020"), false},
      {"date before the first day to string", Def(ftDate), Def(ftString, 10), I32(0), Bytes{}, true},
      {"date to timestamp", Def(ftDate), Def(ftTimeStamp), I32(kChristmas2020), F64(kChristmas2020 * kMsPerDay), false},
      {"date to bytes", Def(ftDate), Def(ftBytes, 4), I32(kChristmas2020), I32(kChristmas2020), false},
      {"time to string", Def(ftTime), Def(ftString, 20), I32(48615000), Text("1:30:15 PM"), false},
      {"time to timestamp lies on day 0", Def(ftTime), Def(ftTimeStamp), I32(48615000),
       F64(kZeroDay * kMsPerDay + 48615000), false},
      {"time to bytes", Def(ftTime), Def(ftBytes, 4), I32(48615000), I32(48615000), false},
      {"timestamp to string", Def(ftTimeStamp), Def(ftString, 30), F64(kChristmas2020 * kMsPerDay + 21600000),
       Text("12/25/2020 6:00:00 AM"), false},
      {"timestamp to date", Def(ftTimeStamp), Def(ftDate), F64(kChristmas2020 * kMsPerDay + 21600000),
       I32(kChristmas2020), false},
      {"timestamp to time", Def(ftTimeStamp), Def(ftTime), F64(kChristmas2020 * kMsPerDay + 21600000), I32(21600000),
       false},
      {"timestamp NaN to date", Def(ftTimeStamp), Def(ftDate), F64(kNaN), I32(kZeroDay), true},
      {"timestamp to bytes", Def(ftTimeStamp), Def(ftBytes, 8), F64(1), F64(1), false},

      // Types carried as their stored bytes.
      {"bytes to integer", Def(ftBytes, 4), Def(ftInteger), Bytes{1, 0, 0, 0}, I32(1), false},
      {"bytes to string", Def(ftBytes, 4), Def(ftString, 10), Text("abcd"), Text("abcd"), false},
      {"bytes cut to a short string", Def(ftBytes, 4), Def(ftString, 2), Text("abcd"), Text("ab"), true},
      {"bytes to a shorter bytes field", Def(ftBytes, 4), Def(ftBytes, 2), Bytes{1, 2, 3, 4}, Bytes{1, 2}, true},
      {"bytes to a shorter field, zeros cut", Def(ftBytes, 4), Def(ftBytes, 2), Bytes{1, 2, 0, 0}, Bytes{1, 2}, false},
      {"varbytes to a shorter varbytes field", Def(ftVarBytes, 4), Def(ftVarBytes, 2), Bytes{1, 2, 3, 4}, Bytes{1, 2},
       true},
      {"longword to integer", Def(ftLongWord), Def(ftInteger), I32(5), I32(5), false},
      {"float10 to date", Def(ftFloat10), Def(ftDate), Bytes{1, 2, 3, 4, 5}, Bytes{1, 2, 3, 4}, true},

      // Kept as they are.
      {"float kept", Def(ftFloat), Def(ftFloat), F64(1.5), F64(1.5), false},
      {"date kept", Def(ftDate), Def(ftDate), I32(kChristmas2020), I32(kChristmas2020), false},
  };
  for (const Row& row : rows) Check(row);
}

TEST_F(ValueConversionTest, UnsupportedPairsLeaveZeroAndReportTheLoss) {
  const Row rows[] = {
      {"date to integer", Def(ftDate), Def(ftInteger), I32(kChristmas2020), {}, true, false},
      {"float to date", Def(ftFloat), Def(ftDate), F64(1), {}, true, false},
      {"integer to boolean", Def(ftInteger), Def(ftBoolean), I32(1), {}, true, false},
      {"boolean to float", Def(ftBoolean), Def(ftFloat), I16(1), {}, true, false},
      {"time to date", Def(ftTime), Def(ftDate), I32(1), {}, true, false},
      {"date to time", Def(ftDate), Def(ftTime), I32(kChristmas2020), {}, true, false},
      {"BCD to boolean", Def(ftBCD, 0, 2), Def(ftBoolean), Stored(1002), {}, true, false},
      {"integer to longword", Def(ftInteger), Def(ftLongWord), I32(1), {}, true, false},
      {"string to blob", Def(ftString, 10), Def(ftBlob), Text("memo"), {}, true, false},
      {"integer to blob", Def(ftInteger), Def(ftBlob), I32(512), {}, true, false},
      {"bytes to blob", Def(ftBytes, 4), Def(ftBlob), I32(512), {}, true, false},
      {"blob to string", Def(ftBlob), Def(ftString, 10), I32(512), {}, true, false},
  };
  for (const Row& row : rows) Check(row);
}

}  // namespace
}  // namespace kavrin::engine
