// The key part of a field: its has-value byte (1 value, 0 null) followed by the order-preserving
// encoding of its value, the field's data size + 1 bytes. Every key of every index is made of these,
// so records, searches, ranges, bookmarks and filter bounds all build them here.
#pragma once

#include <cstdint>

#include "engine/data_file_format.h"

namespace kavrin::engine {

// The value's encoding, data-size bytes; value holds at least that many bytes in the stored form.
// Strings stop at their first zero or the field size and are upper-cased when caseInsensitive.
void EncodeKeyValue(const TFieldDescriptor& field, const std::uint8_t* value, bool caseInsensitive, std::uint8_t* out);
// The whole key part; a null value gives 0 and zeros.
void EncodeKeyPart(const TFieldDescriptor& field, bool isNull, const std::uint8_t* value, bool caseInsensitive,
                   std::uint8_t* out);

}  // namespace kavrin::engine
