// TFieldType: the class library's field types. The order is the class library's own; programs that store
// or compare these values rely on it.
#pragma once

#include <cstdint>

namespace kavrin::classlib {

// Text alignment of fields and of the controls that show them.
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

enum class TFieldType : std::uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
};

// The blob types run from ftBlob to ftTypedBinary.
constexpr bool IsBlobFieldType(TFieldType type) {
  return type >= TFieldType::ftBlob && type <= TFieldType::ftTypedBinary;
}

}  // namespace kavrin::classlib
