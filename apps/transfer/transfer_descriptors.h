// The field and index images the transfer fills from a source table's definitions, and the routines
// that read a dBase key expression as a field list.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "apps/transfer/readers/source_table.h"
#include "classlib/data/field_type.h"

namespace kavrin::transfer {

// What the transfer takes of the class library's 62-byte field image.
struct TFieldImage {
  std::string Name;          // as the engine stores it, in Windows-1252
  std::uint8_t Type = 0;     // engine field type
  std::uint8_t Subtype = 0;  // engine subtype
  std::uint16_t Units1 = 0;  // size
  std::uint16_t Units2 = 0;  // decimals
};

// What the transfer takes of the class library's 893-byte index image.
struct TIndexImage {
  std::string Name;  // as the engine stores it, in Windows-1252
  bool Primary = false;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Maintained = false;
  std::uint16_t KeyFieldCount = 0;
  std::array<std::int16_t, 16> KeyFields{};
};

// Names come in UTF-8; one that Windows-1252 cannot hold raises runtime::EConvertError naming it.
void BuildFieldDescriptor(TFieldImage& image, std::string_view name, int size, classlib::TFieldType type);
// Key field numbers are positions (from 1) in fields of the names in the ";"-separated list, or of the
// expression's "+" parts when the options hold ixExpression; a name not there gives 0.
void BuildIndexDescriptor(TIndexImage& image, std::string_view name, std::uint8_t options, std::string_view expression,
                          std::string_view fieldList, const std::vector<TSourceField>& fields);
bool IsPlainIndexExpression(std::string_view expression);
std::string ExpressionToFieldList(std::string_view expression);

}  // namespace kavrin::transfer
