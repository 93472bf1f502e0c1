// Arbitrary filter text against a table with a field of every type: parsing must end in a block or an
// EExprParserError, and every block must be one the engine can walk (offsets in bounds, sizes true,
// node and operator pairs it knows, constants of their fields' types and sizes).
// The first byte picks the options; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "classlib/expr_parser.h"
#include "engine/data_file_format.h"
#include "runtime/format_settings.h"
#include "tests/classlib/filter_block_check.h"

namespace {

using kavrin::engine::TFieldDescriptor;

TFieldDescriptor Field(std::int16_t number, const char* name, std::uint8_t type, std::uint8_t size = 0,
                       std::uint8_t decimals = 0, std::uint8_t subtype = 0) {
  TFieldDescriptor field;
  field.FieldNumber = number;
  field.Name = name;
  field.Type = type;
  field.Size = size;
  field.Decimals = decimals;
  field.Subtype = subtype;
  return field;
}

const std::vector<TFieldDescriptor>& Fields() {
  namespace e = kavrin::engine;
  static const std::vector<TFieldDescriptor> fields = {
      Field(1, "S", e::ftString, 10),
      Field(2, "D", e::ftDate),
      Field(3, "M", e::ftBlob, 0, 0, e::fstMemo),
      Field(4, "L", e::ftBoolean),
      Field(5, "SI", e::ftSmallInt),
      Field(6, "I", e::ftInteger),
      Field(7, "F", e::ftFloat),
      Field(8, "B", e::ftBCD, 0, 2),
      Field(9, "BY", e::ftBytes, 3),
      Field(10, "T", e::ftTime),
      Field(11, "TS", e::ftTimeStamp),
      Field(12, "W", e::ftWord),
      Field(13, "LW", e::ftLongWord),
      Field(14, "X", e::ftFloat10),
      Field(15, "VB", e::ftVarBytes, 5),
      Field(16, "A", e::ftInteger, 0, 0, e::fstAutoInc),
      Field(17, "Long Name", e::ftString, 1),
      Field(-3, "B4", e::ftBCD, 0, 4),
  };
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  kavrin::classlib::TFilterParseOptions options;
  options.CaseInsensitive = (flags & 1) != 0;
  options.NoPartialCompare = (flags & 2) != 0;
  options.Transliterate = (flags & 4) != 0;
  kavrin::runtime::ResetFormatSettings();
  if (flags & 8) kavrin::runtime::FormatSettings().DecimalSeparator = ',';

  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    kavrin::classlib::TExprParser parser(text, Fields(), options);
    if (!kavrin::classlib::testing::CheckFilterBlock(parser.FilterData(), Fields()).empty()) __builtin_trap();
  } catch (const kavrin::classlib::EExprParserError&) {
  }
  return 0;
}
