// The 10-byte extended float of 10-byte float fields (x87 layout, little-endian: 64-bit significand with
// its integer bit, then sign and 15-bit exponent biased by 16383), made from a double without loss.
#pragma once

#include <cstdint>

namespace kavrin::classlib {

void DoubleToExtended(double value, std::uint8_t* out);  // writes 10 bytes

}  // namespace kavrin::classlib
