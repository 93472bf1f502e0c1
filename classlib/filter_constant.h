// A constant of a filter text turned into the stored form of the field it is compared with: exactly the
// field's data size in bytes, as the engine reads it from the literal area.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/data_file_format.h"

namespace kavrin::classlib {

enum class TConstantKind {
  String,   // a quoted text, quotes removed and '' undone (UTF-8)
  Number,   // as written
  Boolean,  // True or False
};

struct TFilterConstant {
  TConstantKind Kind = TConstantKind::String;
  std::string Text;
  bool BoolValue = false;
};

struct TStoredConstant {
  std::vector<std::uint8_t> Value;
  // A string constant that ended in '*' with partial comparison allowed: only the first PartialLength
  // stored characters count, and PartialLength may be 0.
  bool Partial = false;
  std::uint16_t PartialLength = 0;
};

// Why a constant does not fit its field; the parser adds the position.
class EConstantConversion : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Blob, bytes and varbytes fields (and types the table format does not know) take no comparison.
bool IsComparableField(const engine::TFieldDescriptor& field);
// "integer", "date", ... as the messages name a field's type.
const char* FieldTypeName(const engine::TFieldDescriptor& field);

// Strings go through the table's code page (CP437 when transliterate is on, else Windows-1252) and are
// cut to the field size; every other type must convert exactly or is refused.
TStoredConstant ConvertFilterConstant(const engine::TFieldDescriptor& field, const TFilterConstant& constant,
                                      bool partialAllowed, bool transliterate);

}  // namespace kavrin::classlib
