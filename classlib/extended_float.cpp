#include "classlib/extended_float.h"

#include <bit>
#include <cstring>

#include "engine/byte_order.h"

namespace kavrin::classlib {

void DoubleToExtended(double value, std::uint8_t* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

  std::uint64_t significand = 0;
  int biased = 0;
  if (exponent == 0x7FF) {
    biased = 0x7FFF;
    significand = (std::uint64_t{1} << 63) | (fraction << 11);
  } else if (exponent != 0) {
    biased = exponent - 1023 + 16383;
    significand = (std::uint64_t{1} << 63) | (fraction << 11);
  } else if (fraction != 0) {
    // A double subnormal is a normal extended value: shift its top bit up to the integer bit.
    const int top = 63 - std::countl_zero(fraction);
    biased = top - 1074 + 16383;
    significand = fraction << (63 - top);
  }
  engine::StoreU64(out, significand);
  engine::StoreU16(out + 8, static_cast<std::uint16_t>((negative ? 0x8000 : 0) | biased));
}

}  // namespace kavrin::classlib
