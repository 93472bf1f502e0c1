// Carrying one field value from a field's old definition into its new one, as restructure does for
// every non-null, non-blob value of a field that stays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/data_file_format.h"

namespace kavrin::engine {

// The largest data size of any field: a string of 245 characters and its terminating zero.
inline constexpr std::size_t FieldValueBufferSize = 246;

// value: FieldValueBufferSize bytes holding the old field's value as TDataFile::GetField gives it; it
// receives the new field's value as TDataFile::SetField takes it.
//
// Returns false when the pair of types cannot be converted; value is then all zero. valueLost tells
// whether the new value fails to carry the old one: an unsupported pair, text cut to a shorter field,
// a number outside the new type's range, text that does not convert, raw bytes cut. Whatever is
// reported, value holds what the new field stores.
bool ConvertFieldValue(const TFieldDescriptor& oldField, const TFieldDescriptor& newField, std::uint8_t* value,
                       bool& valueLost);

}  // namespace kavrin::engine
