// Key parts and the key parts a comparison covers. A field's key part is its has-value byte (1 value,
// 0 null) followed by the order-preserving encoding of its value, the field's data size + 1 bytes: the
// bytes an index whose first key field is the field starts its keys with, and what a scan compares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/key_encoding.h"

namespace kavrin::engine {

// The key parts whose first Compared bytes lie from Low to High, byte by byte (both Compared bytes
// long); none at all when Empty. Blank tests decide by the has-value byte alone; a partial length p
// decides by it and the first p value bytes.
struct TKeyPartRange {
  bool Empty = false;
  std::size_t Compared = 0;
  std::vector<std::uint8_t> Low;
  std::vector<std::uint8_t> High;
};

// op is one of the blank tests or comparisons of the filter block; constant (data-size bytes, the
// field's stored form) is not read for the blank tests. Not equal covers what equal covers: the
// caller inverts. A comparison past the edge of the type (above the largest value, below the
// smallest) is Empty.
TKeyPartRange ComparisonRange(const TFieldDescriptor& field, std::int32_t op, const std::uint8_t* constant,
                              std::uint16_t partialLength, bool caseInsensitive);

// Whole key parts of width bytes from low to high: the rest padded 0x00 below and 0xFF above.
void ScanBounds(const TKeyPartRange& range, std::size_t width, std::uint8_t* low, std::uint8_t* high);
// Keys of keyLength bytes that begin with the key part, from low to high in the index's order: a
// descending index runs from the highest bytes down, so its low bound is the range's high end.
void IndexBounds(const TKeyPartRange& range, std::size_t keyLength, bool descending, std::uint8_t* low,
                 std::uint8_t* high);

}  // namespace kavrin::engine
