// The filter-text parser: text -> exact block bytes, or a refusal with its position. The expected blocks
// are hand-computed: header | nodes in the order written (root first) | literal area.
#include "classlib/expr_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/filter_expr.h"
#include "runtime/format_settings.h"
#include "tests/classlib/filter_block_check.h"

namespace kavrin::classlib {
namespace {

using engine::TFieldDescriptor;

TFieldDescriptor Field(std::int16_t number, std::string name, std::uint8_t type, std::uint8_t size = 0,
                       std::uint8_t decimals = 0, std::uint8_t subtype = engine::fstNone) {
  TFieldDescriptor field;
  field.FieldNumber = number;
  field.Name = std::move(name);
  field.Type = type;
  field.Size = size;
  field.Decimals = decimals;
  field.Subtype = subtype;
  return field;
}

// Field numbers differ from positions, so that a block carrying a position instead shows.
std::vector<TFieldDescriptor> TableFields() {
  return {
      Field(11, "Name", engine::ftString, 8),
      Field(12, "Born", engine::ftDate),
      Field(13, "Notes", engine::ftBlob, 0, 0, engine::fstMemo),
      Field(14, "Active", engine::ftBoolean),
      Field(15, "Small", engine::ftSmallInt),
      Field(16, "Qty", engine::ftInteger),
      Field(17, "Ratio", engine::ftFloat),
      Field(18, "Amount", engine::ftBCD, 0, 2),
      Field(19, "Raw", engine::ftBytes, 4),
      Field(20, "At", engine::ftTime),
      Field(21, "Stamp", engine::ftTimeStamp),
      Field(22, "Count", engine::ftWord),
      Field(23, "Big", engine::ftLongWord),
      Field(24, "Ext", engine::ftFloat10),
      Field(25, "ID", engine::ftInteger, 0, 0, engine::fstAutoInc),
      Field(26, " And ", engine::ftString, 4),  // stored untrimmed, named like a keyword
      Field(27, "Last Name", engine::ftString, 6),
      Field(28, "VB", engine::ftVarBytes, 4),
  };
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

std::string WithoutSpaces(std::string text) {
  std::erase(text, ' ');
  return text;
}

const TFilterParseOptions kDefault{};
const TFilterParseOptions kCaseInsensitive{.CaseInsensitive = true};
const TFilterParseOptions kNoPartial{.NoPartialCompare = true};
const TFilterParseOptions kAnsi{.Transliterate = false};

class FilterTextTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime::ResetFormatSettings(); }
  void TearDown() override { runtime::ResetFormatSettings(); }

  std::vector<std::uint8_t> Parse(const std::string& text, const TFilterParseOptions& options = kDefault) {
    TExprParser parser(text, fields_, options);
    const auto& block = parser.FilterData();
    EXPECT_EQ(parser.DataSize(), block.size());
    EXPECT_EQ(testing::CheckFilterBlock(block, fields_), "");
    return block;
  }

  // The refusal's position and detail; fails the test when the text parses.
  std::pair<std::size_t, std::string> Refusal(const std::string& text, const TFilterParseOptions& options = kDefault) {
    try {
      TExprParser parser(text, fields_, options);
      ADD_FAILURE() << "parsed: " << text;
    } catch (const EExprParserError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Filter text error at position " + std::to_string(e.Position()) + ": " + e.Detail());
      return {e.Position(), e.Detail()};
    }
    return {0, ""};
  }

  std::vector<TFieldDescriptor> fields_ = TableFields();
};

TEST_F(FilterTextTest, EveryConstantTypeAndShapeGivesItsBlock) {
  struct Case {
    const char* text;
    const char* hex;
  };
  const Case cases[] = {
      {"Name = 'Smith'",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500536d69746800000000"},
      {"Born = '1/2/2000'",
       "02003d0003000a003400 03000000030000000000000010001c00 04000000000000000c000000 "
       "0500000000000000020004000500 426f726e0009240b00"},
      {"Active = True",
       "02003d0003000a003400 03000000030000000000000010001c00 04000000000000000e000000 "
       "0500000000000000040002000700 416374697665000100"},
      {"Active <> 'false'",
       "02003d0003000a003400 03000000040000000000000010001c00 04000000000000000e000000 "
       "0500000000000000040002000700 416374697665000000"},
      {"Small = -5",
       "02003c0003000a003400 03000000030000000000000010001c00 04000000000000000f000000 "
       "0500000000000000050002000600 536d616c6c00fbff"},
      {"Small >= 32767",
       "02003c0003000a003400 03000000070000000000000010001c00 04000000000000000f000000 "
       "0500000000000000050002000600 536d616c6c00ff7f"},
      {"Qty <> 1000000",
       "02003c0003000a003400 03000000040000000000000010001c00 040000000000000010000000 "
       "0500000000000000060004000400 5174790040420f00"},
      {"Qty < '-12'",
       "02003c0003000a003400 03000000060000000000000010001c00 040000000000000010000000 "
       "0500000000000000060004000400 51747900f4ffffff"},
      {"Ratio < 2.5",
       "0200420003000a003400 03000000060000000000000010001c00 040000000000000011000000 "
       "0500000000000000070008000600 526174696f000000000000000440"},
      {"Ratio > -1.25e-3",
       "0200420003000a003400 03000000050000000000000010001c00 040000000000000011000000 "
       "0500000000000000070008000600 526174696f007b14ae47e17a54bf"},
      {"Amount >= 10.5",
       "0200430003000a003400 03000000070000000000000010001c00 040000000000000012000000 "
       "0500000000000000080008000700 416d6f756e74000629000000000000"},
      {"Amount = '-0.07'",
       "0200430003000a003400 03000000030000000000000010001c00 040000000000000012000000 "
       "0500000000000000080008000700 416d6f756e7400b8ffffffffffffff"},
      {"At = '10:30'",
       "02003b0003000a003400 03000000030000000000000010001c00 040000000000000014000000 "
       "05000000000000000a0004000300 41740040c84002"},
      {"Stamp > '1/2/2000 10:30:15'",
       "0200420003000a003400 03000000050000000000000010001c00 040000000000000015000000 "
       "05000000000000000b0008000600 5374616d7000006c1fc5c4afcc42"},
      {"Count = 65535",
       "02003c0003000a003400 03000000030000000000000010001c00 040000000000000016000000 "
       "05000000000000000c0002000600 436f756e7400ffff"},
      {"Big = 4294967295",
       "02003c0003000a003400 03000000030000000000000010001c00 040000000000000017000000 "
       "05000000000000000d0004000400 42696700ffffffff"},
      {"Ext <= 1.5",
       "0200420003000a003400 03000000080000000000000010001c00 040000000000000018000000 "
       "05000000000000000e000a000400 4578740000000000000000c0ff3f"},
      {"ID = 7",
       "02003b0003000a003400 03000000030000000000000010001c00 040000000000000019000000 "
       "0500000000000000060004000300 49440007000000"},
      {"[Last Name] = 'O''Brien'",
       "0200450003000a003400 03000000030000000000000010001c00 04000000000000001b000000 "
       "0500000000000000010007000a00 4c617374204e616d65004f274272696500"},
      {"[ and ] = 'x'",
       "02003d0003000a003400 03000000030000000000000010001c00 04000000000000001a000000 "
       "0500000000000000010005000400 416e64007800000000"},
      {"Name = 'Who?'",  // a question mark of its own is no unconvertible character
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d650057686f3f0000000000"},
      {"name = 12345",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500313233343500000000"},
      {"10 < Qty",
       "02003c0003000a003400 03000000050000000000000010001c00 040000000000000010000000 "
       "0500000000000000060004000400 517479000a000000"},
      {"10 >= Qty",
       "02003c0003000a003400 03000000080000000000000010001c00 040000000000000010000000 "
       "0500000000000000060004000400 517479000a000000"},
      {"'Smith' <> Name",
       "0200420003000a003400 03000000040000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500536d69746800000000"},
      {"'1/2/2000' > Born",
       "02003d0003000a003400 03000000060000000000000010001c00 04000000000000000c000000 "
       "0500000000000000020004000500 426f726e0009240b00"},
      {"Name = 'Sm*'",
       "0200420003000a003400 03000000030000000000020010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500536d00000000000000"},
      {"Name <> 'Smithsonian*'",
       "0200420003000a003400 03000000040000000000080010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500536d697468736f6e00"},
      {"Name = 'S*m'",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500532a6d000000000000"},
      {"Name = '*'", "0200250002000a002000 01000000020000000a00 04000000000000000b000000 4e616d6500"},
      {"Name <> '*'", "0200250002000a002000 01000000010000000a00 04000000000000000b000000 4e616d6500"},
      {"Notes IS NULL", "0200260002000a002000 01000000010000000a00 04000000000000000d000000 4e6f74657300"},
      {"Qty is not null", "0200240002000a002000 01000000020000000a00 040000000000000010000000 51747900"},
      {"Qty = 1 or Qty = 2 and not Qty = 3",
       "0200c2000c000a00aa00 020000000b0000000c003600 0300000003000000000000001c002800 "
       "040000000000000010000000 0500000000000000060004000400 020000000a00000042006c00 "
       "03000000030000000000000052005e00 040000000000000010000800 0500000000000000060004000c00 "
       "01000000090000007600 03000000030000000000000086009200 040000000000000010001000 "
       "0500000000000000060004001400 517479000100000051747900020000005174790003000000"},
      {"(Qty = 1 OR Qty = 2) AND Qty = 3",
       "0200b8000b000a00a000 020000000a0000000c006c00 020000000b00000018004200 "
       "03000000030000000000000028003400 040000000000000010000000 0500000000000000060004000400 "
       "03000000030000000000000052005e00 040000000000000010000800 0500000000000000060004000c00 "
       "0300000003000000000000007c008800 040000000000000010001000 0500000000000000060004001400 "
       "517479000100000051747900020000005174790003000000"},
      {"not (Qty = 1 and Born is null)",
       "02006d0007000a006000 01000000090000000a00 020000000a00000016004000 "
       "03000000030000000000000026003200 040000000000000010000000 0500000000000000060004000400 "
       "01000000010000004a00 04000000000000000c000800 5174790001000000426f726e00"},
      {"Qty=1 or Qty=2 or Qty=3",
       "0200b8000b000a00a000 020000000b0000000c006c00 020000000b00000018004200 "
       "03000000030000000000000028003400 040000000000000010000000 0500000000000000060004000400 "
       "03000000030000000000000052005e00 040000000000000010000800 0500000000000000060004000c00 "
       "0300000003000000000000007c008800 040000000000000010001000 0500000000000000060004001400 "
       "517479000100000051747900020000005174790003000000"},
      {"Qty=1 and Qty=2 and Qty=3 and Qty=4",
       "0200f6000f000a00d600 020000000a0000000c006c00 020000000a00000018004200 "
       "03000000030000000000000028003400 040000000000000010000000 0500000000000000060004000400 "
       "03000000030000000000000052005e00 040000000000000010000800 0500000000000000060004000c00 "
       "020000000a0000007800a200 03000000030000000000000088009400 040000000000000010001000 "
       "0500000000000000060004001400 030000000300000000000000b200be00 040000000000000010001800 "
       "0500000000000000060004001c00 "
       "5174790001000000517479000200000051747900030000005174790004000000"},
      {"NOT NOT Active = False",
       "0200510005000a004800 01000000090000000a00 01000000090000001400 "
       "03000000030000000000000024003000 04000000000000000e000000 0500000000000000040002000700 "
       "416374697665000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ToHex(Parse(c.text)), WithoutSpaces(c.hex));
  }
}

TEST_F(FilterTextTest, OptionsSetTheCaseFlagPartialLengthAndCodePage) {
  struct Case {
    TFilterParseOptions options;
    const char* text;
    const char* hex;
  };
  const Case cases[] = {
      {kCaseInsensitive, "Name = 'smith'",
       "0200420003000a003400 03000000030000000100000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500736d69746800000000"},
      {kCaseInsensitive, "Name = 'sm*' and Qty = 5",
       "0200800007000a006a00 020000000a0000000c003600 0300000003000000010002001c002800 "
       "04000000000000000b000000 0500000000000000010009000500 03000000030000000000000046005200 "
       "040000000000000010000e00 0500000000000000060004001200 "
       "4e616d6500736d000000000000005174790005000000"},
      {kNoPartial, "Name = 'Sm*'",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500536d2a000000000000"},
      {kNoPartial, "Name > 'Sm*'",
       "0200420003000a003400 03000000050000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500536d2a000000000000"},
      {kDefault, "Name = 'Café'",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500436166820000000000"},
      {kAnsi, "Name = 'Café'",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500436166e90000000000"},
      {kAnsi, "Name = '€'",
       "0200420003000a003400 03000000030000000000000010001c00 04000000000000000b000000 "
       "0500000000000000010009000500 4e616d6500800000000000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ToHex(Parse(c.text, c.options)), WithoutSpaces(c.hex));
  }
}

TEST_F(FilterTextTest, RefusalsNameTheirPosition) {
  struct Case {
    std::string text;
    std::size_t position;
    const char* detail;  // a part of the detail
  };
  const Case cases[] = {
      // Nothing, or what the engine would let every record through for.
      {"", 1, "empty"},
      {"  \t ", 1, "empty"},
      {"1 = 1", 1, "needs a field on one side"},
      {"'a' <> 'b'", 1, "needs a field on one side"},
      {"Name = Qty", 8, "comparing field 'Name' with field 'Qty'"},
      {"Qty + 1 = 5", 5, "arithmetic ('+')"},
      {"Qty = 5 - 3", 9, "arithmetic ('-')"},
      {"Qty = 5 -3", 9, "arithmetic ('-')"},
      {"Qty = 2 * 3", 9, "arithmetic ('*')"},
      {"Name = 'a' + 'b'", 12, "arithmetic ('+')"},
      {"Upper(Name) = 'X'", 1, "functions are not supported ('Upper')"},
      {"Qty", 4, "expected a comparison operator"},
      {"Active", 7, "expected a comparison operator"},
      // Names.
      {"Amout = 5", 1, "unknown field name 'Amout'"},
      {"Name = 'Sm*' and [Amount] >= 10.5 or Amout is null", 38, "unknown field name 'Amout'"},
      {"[ Amout ] = 5", 1, "unknown field name 'Amout'"},
      {"And = 'x'", 1, "expected a field name or a constant, found 'And'"},
      // Constants that do not convert to the field's type.
      {"Qty = 'abc'", 7, "'abc' is not a valid value for integer field 'Qty'"},
      {"Qty = 10.5", 7, "10.5 is not a valid value for integer field 'Qty'"},
      {"Qty = 2147483648", 7, "out of range for integer field 'Qty'"},
      {"Qty = 99999999999999999999", 7, "out of range"},
      {"Small = 70000", 9, "70000 is out of range for smallint field 'Small'"},
      {"Small = -32769", 9, "out of range"},
      {"Count = -1", 9, "out of range for word field 'Count'"},
      {"Big = 4294967296", 7, "out of range for longword field 'Big'"},
      {"ID = 'x'", 6, "autoinc field 'ID'"},
      {"Born = '2/30/2000'", 8, "'2/30/2000' is not a valid value for date field 'Born'"},
      {"Born = '1/2/2000 10:00'", 8, "not a valid value for date field"},
      {"Born = 36527", 8, "the number 36527 cannot be compared with date field 'Born'"},
      {"At = '25:00'", 6, "time field 'At'"},
      {"At = 1030", 6, "quoted text"},
      {"Stamp = 'soon'", 9, "timestamp field 'Stamp'"},
      {"Active = 1", 10, "use True or False"},
      {"Active = 'yes'", 10, "boolean field 'Active'"},
      {"Qty = True", 7, "True cannot be compared with integer field 'Qty'"},
      {"Name = False", 8, "string field 'Name'"},
      {"Amount = 10.555", 10, "has more decimals than BCD field 'Amount' holds (2)"},
      {"Amount = 1.0555e1", 10, "more decimals"},
      {"Amount = 1e30", 10, "out of range"},
      {"Amount = 'ten'", 10, "not a valid value"},
      {"Ratio = 1e999", 9, "not a valid value for float field"},
      {"Ext = 'x'", 7, "10-byte float field 'Ext'"},
      {"Name = 'Жук'", 8, "code page (CP437) cannot store"},
      {"Name = '€'", 8, "code page (CP437) cannot store"},
      // Fields that take no comparison.
      {"Notes = 'x'", 1, "blob field 'Notes' cannot be compared; only IS NULL and IS NOT NULL"},
      {"'x' = Notes", 7, "blob field 'Notes' cannot be compared"},
      {"Raw = 'ab'", 1, "bytes field 'Raw'"},
      {"VB > 'ab'", 1, "varbytes field 'VB'"},
      // Partial comparisons mean something only with = and <>.
      {"Name > 'Sm*'", 8, "works only with = and <>"},
      {"'Sm*' <= Name", 1, "works only with = and <>"},
      // Blank tests.
      {"Name = null", 8, "NULL can only be tested with IS NULL"},
      {"'x' is null", 5, "IS NULL needs a field on its left"},
      {"Qty is 5", 8, "expected NULL, found '5'"},
      {"Qty is not", 11, "expected NULL, found the end of the text"},
      // Structure.
      {"Qty = ", 7, "expected a field name or a constant, found the end of the text"},
      {"Qty = 5 and", 12, "found the end of the text"},
      {"not", 4, "found the end of the text"},
      {"Qty = 5 Name = 'x'", 9, "expected AND, OR or the end of the text, found 'Name'"},
      {"Qty = 5)", 8, "found ')'"},
      {"(Qty = 5", 9, "expected ')', AND or OR, found the end of the text"},
      {"()", 2, "found ')'"},
      {"Qty = (5)", 7, "found '('"},
      {"Qty != 5", 5, "'!=' is not an operator; use <>"},
      {"Qty == 5", 6, "found '='"},
      {"Name = \"x\"", 8, "single quotes"},
      {"Qty = 5 ; Qty = 6", 9, "unexpected character ';'"},
      {"Qty = 5 \xC3\xA9", 9, "unexpected character '\xC3\xA9'"},
      // Lexical faults.
      {"Name = 'abc", 8, "string constant not closed"},
      {"[Name = 'x'", 1, "field name not closed"},
      {"Qty = 5abc", 7, "malformed number '5abc'"},
      {"Qty = 1e", 7, "malformed number '1e'"},
      {"Qty = 1.2.3", 7, "malformed number '1.2.3'"},
      {"Qty = 0x10", 7, "malformed number '0x10'"},
      {"Qty = \x01", 7, "control character (code 1)"},
      {std::string("Name = 'a\0b'", 12), 10, "NUL"},
      {std::string("[Na\0me] = 'a'", 13), 4, "NUL"},
      // Positions count characters, not bytes: 'é' is two bytes.
      {"Name = 'é' and Zzz = 1", 16, "unknown field name 'Zzz'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto [position, detail] = Refusal(c.text);
    EXPECT_EQ(position, c.position);
    EXPECT_NE(detail.find(c.detail), std::string::npos) << detail;
  }
}

TEST_F(FilterTextTest, NumbersAndDatesFollowTheFormatSettings) {
  auto& settings = runtime::FormatSettings();
  settings.DecimalSeparator = ',';
  settings.ShortDateFormat = "d.m.yyyy";
  settings.DateSeparator = '.';
  // Ratio < 2,5 and Born = 2 January 2000, as with the default settings' 2.5 and 1/2/2000.
  EXPECT_EQ(ToHex(Parse("Ratio < 2,5")),
            WithoutSpaces("0200420003000a003400 03000000060000000000000010001c00 040000000000000011000000 "
                          "0500000000000000070008000600 526174696f000000000000000440"));
  EXPECT_EQ(ToHex(Parse("Born = '2.1.2000'")),
            WithoutSpaces("02003d0003000a003400 03000000030000000000000010001c00 04000000000000000c000000 "
                          "0500000000000000020004000500 426f726e0009240b00"));
  EXPECT_EQ(ToHex(Parse("Amount >= 10,5")).substr(2 * (52 + 7)), "0629000000000000");
  // The point is no separator now: it cannot continue a number.
  EXPECT_EQ(Refusal("Ratio < 2.5").first, 10u);
  EXPECT_EQ(Refusal("Born = '1/2/2000'").first, 8u);
}

TEST_F(FilterTextTest, KeywordsAndNamesIgnoreCaseAndBlanks) {
  const auto expected = Parse("NOT (Qty = 1 AND Born IS NULL) OR Name IS NOT NULL");
  EXPECT_EQ(Parse("not (qty = 1 and BORN is null) or nAmE iS nOt NuLl"), expected);
  EXPECT_EQ(Parse(" \t\r\nnot(Qty=1 and[ born ]is null)or[Name]is not null\n"), expected);
}

TEST_F(FilterTextTest, NestingIsBounded) {
  const auto nested = [](int levels) {
    return std::string(static_cast<std::size_t>(levels), '(') + "Qty = 1" +
           std::string(static_cast<std::size_t>(levels), ')');
  };
  EXPECT_EQ(Parse(nested(MaxFilterNesting)), Parse("Qty = 1"));
  const auto [position, detail] = Refusal(nested(MaxFilterNesting + 1));
  EXPECT_EQ(position, static_cast<std::size_t>(MaxFilterNesting + 1));
  EXPECT_NE(detail.find("nests more than"), std::string::npos);

  std::string nots;
  for (int i = 0; i < MaxFilterNesting + 1; ++i) nots += "not ";
  EXPECT_EQ(Refusal(nots + "Qty = 1").first, static_cast<std::size_t>(MaxFilterNesting * 4 + 1));
}

TEST_F(FilterTextTest, LongRunsStayShallowAndTooLongTextIsRefused) {
  // 62 bytes per term: 1000 fit in a block, 1100 do not.
  const auto run = [](int terms) {
    std::string text = "Qty = 0";
    for (int i = 1; i < terms; ++i) text += " or Qty = " + std::to_string(i);
    return text;
  };
  TExprParser parser(run(1000), fields_, kDefault);
  testing::TBlockShape shape;
  ASSERT_EQ(testing::CheckFilterBlock(parser.FilterData(), fields_, &shape), "");
  EXPECT_EQ(engine::LoadU16(parser.FilterData().data() + 4), 1000 * 3 + 999);
  // Balanced: ten levels of ors for 1000 terms, then the compare node and its operands.
  EXPECT_EQ(shape.Depth, 10 + 2);

  const auto [position, detail] = Refusal(run(1100));
  EXPECT_GT(position, 1u);
  EXPECT_NE(detail.find("passes 65535 bytes"), std::string::npos);
}

}  // namespace
}  // namespace kavrin::classlib
