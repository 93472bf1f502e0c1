// Number forms shared by the source readers: the engine's data form of a value (its bytes in machine
// order, which is little-endian as the engine's), and the big-endian, sign-flipped forms that Paradox
// records and dBase 7 indexes store so that their bytes sort like the numbers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace kavrin::transfer::detail {

template <typename T>
std::string Bytes(T value) {
  std::string out(sizeof value, '\0');
  std::memcpy(out.data(), &value, sizeof value);
  return out;
}

inline std::uint32_t LoadBigEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// A positive number has its sign bit set; a negative one has every bit inverted.
inline double DecodeSortedDouble(const std::uint8_t* p) {
  std::uint8_t b[8];
  std::memcpy(b, p, 8);
  if (b[0] & 0x80) {
    b[0] &= 0x7F;
  } else {
    for (std::uint8_t& x : b) x = static_cast<std::uint8_t>(~x);
  }
  std::uint64_t bits = 0;
  for (std::uint8_t x : b) bits = bits << 8 | x;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace kavrin::transfer::detail
