#include "engine/filter_key_range.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/filter_block.h"
#include "engine/key_encoders.h"
#include "runtime/code_pages.h"

namespace kavrin::engine {

namespace {

// The bytes as one big-endian number, one up or down; false when it would pass the end.
bool Increment(std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = n; i-- > 0;) {
    if (bytes[i] != 0xFF) {
      ++bytes[i];
      std::fill(bytes + i + 1, bytes + n, 0x00);
      return true;
    }
  }
  return false;
}

bool Decrement(std::uint8_t* bytes, std::size_t n) {
  for (std::size_t i = n; i-- > 0;) {
    if (bytes[i] != 0x00) {
      --bytes[i];
      std::fill(bytes + i + 1, bytes + n, 0xFF);
      return true;
    }
  }
  return false;
}

}  // namespace

TKeyPartRange ComparisonRange(const TFieldDescriptor& field, std::int32_t op, const std::uint8_t* constant,
                              std::uint16_t partialLength, bool caseInsensitive) {
  TKeyPartRange range;
  if (op == foIsBlank || op == foNotBlank) {
    range.Compared = 1;
    range.Low = range.High = {static_cast<std::uint8_t>(op == foNotBlank ? 1 : 0)};
    return range;
  }
  const std::size_t size = static_cast<std::size_t>(FieldDataSize(field));
  std::vector<std::uint8_t> value(size + 1, 0);
  value[0] = 1;
  EncodeKeyValue(field, constant, caseInsensitive, value.data() + 1);
  // Bytes of the value that decide; a partial length never reaches past the value.
  const std::size_t decide = partialLength > 0 ? std::min<std::size_t>(partialLength, size) : size;
  range.Compared = decide + 1;
  value.resize(range.Compared);
  std::vector<std::uint8_t> lowest(range.Compared, 0x00), highest(range.Compared, 0xFF);
  lowest[0] = highest[0] = 1;
  switch (op) {
    case foEqual:
    case foNotEqual: range.Low = range.High = value; break;
    case foGreater:
      range.Empty = !Increment(value.data() + 1, decide);
      range.Low = value;
      range.High = highest;
      break;
    case foGreaterOrEqual:
      range.Low = value;
      range.High = highest;
      break;
    case foLess:
      range.Empty = !Decrement(value.data() + 1, decide);
      range.Low = lowest;
      range.High = value;
      break;
    case foLessOrEqual:
      range.Low = lowest;
      range.High = value;
      break;
    default: range.Empty = true; break;
  }
  return range;
}

void ScanBounds(const TKeyPartRange& range, std::size_t width, std::uint8_t* low, std::uint8_t* high) {
  const std::size_t n = std::min(range.Compared, width);
  std::memset(low, 0x00, width);
  std::memset(high, 0xFF, width);
  std::memcpy(low, range.Low.data(), n);
  std::memcpy(high, range.High.data(), n);
}

void IndexBounds(const TKeyPartRange& range, std::size_t keyLength, bool descending, std::uint8_t* low,
                 std::uint8_t* high) {
  const std::size_t n = std::min(range.Compared, keyLength);
  std::memset(low, descending ? 0xFF : 0x00, keyLength);
  std::memset(high, descending ? 0x00 : 0xFF, keyLength);
  std::memcpy(low, (descending ? range.High : range.Low).data(), n);
  std::memcpy(high, (descending ? range.Low : range.High).data(), n);
}

}  // namespace kavrin::engine
