#include "engine/key_encoding.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/key_encoders.h"
#include "runtime/code_pages.h"

namespace kavrin::engine {

void EncodeKeyValue(const TFieldDescriptor& field, const std::uint8_t* value, bool caseInsensitive, std::uint8_t* out) {
  const std::size_t width = static_cast<std::size_t>(FieldDataSize(field));
  std::memset(out, 0, width);
  switch (field.Type) {
    case ftString: {
      const std::size_t length = std::find(value, value + field.Size, 0) - value;
      std::memcpy(out, value, length);
      if (caseInsensitive) runtime::AnsiUpperBytes(out, length);
      break;
    }
    case ftDate:
    case ftInteger:
    case ftTime: IntegerToKey(LoadI32(value), out); break;
    case ftBoolean:
    case ftWord: WordToKey(LoadU16(value), out); break;
    case ftSmallInt: SmallIntToKey(LoadI16(value), out); break;
    case ftFloat:
    case ftTimeStamp: FloatToKey(LoadF64(value), out); break;
    case ftBCD: Int64ToKey(LoadI64(value), out); break;
    default: std::memcpy(out, value, width); break;
  }
}

void EncodeKeyPart(const TFieldDescriptor& field, bool isNull, const std::uint8_t* value, bool caseInsensitive,
                   std::uint8_t* out) {
  out[0] = isNull ? 0 : 1;
  if (isNull) {
    std::memset(out + 1, 0, static_cast<std::size_t>(FieldDataSize(field)));
  } else {
    EncodeKeyValue(field, value, caseInsensitive, out + 1);
  }
}

}  // namespace kavrin::engine
