// Order-preserving key encoders: the unsigned byte-by-byte order of the bytes they write is the order
// of the values, so the index compares keys only as bytes. Each writes a fixed number of bytes.
#pragma once

#include <cstdint>

#include "engine/byte_order.h"

namespace kavrin::engine {

// Eight bytes, big-endian; the sign bit set for values not negative, every bit inverted for negative.
inline void FloatToKey(double value, std::uint8_t* out) {
  if (value == 0) value = 0;  // -0 equals +0, so it takes the same key
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = (bits & 0x8000000000000000ull) ? ~bits : (bits | 0x8000000000000000ull);
  StoreBigEndian<8>(out, bits);
}

inline void IntegerToKey(std::int32_t value, std::uint8_t* out) {
  StoreBigEndian<4>(out, static_cast<std::uint32_t>(value) ^ 0x80000000u);
}

inline void Int64ToKey(std::int64_t value, std::uint8_t* out) {
  StoreBigEndian<8>(out, static_cast<std::uint64_t>(value) ^ 0x8000000000000000ull);
}

inline void SmallIntToKey(std::int16_t value, std::uint8_t* out) {
  StoreBigEndian<2>(out, static_cast<std::uint16_t>(value) ^ 0x8000u);
}

inline void WordToKey(std::uint16_t value, std::uint8_t* out) { StoreBigEndian<2>(out, value); }

// The record slot of an open blob holds its handle negated.
inline std::int32_t NegateValue(std::int32_t value) {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(value));
}

}  // namespace kavrin::engine
