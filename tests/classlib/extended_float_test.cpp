#include "classlib/extended_float.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace kavrin::classlib {
namespace {

std::string Hex(const std::uint8_t* bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 10; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0xF];
  }
  return hex;
}

TEST(ExtendedFloat, KnownPatterns) {
  struct Case {
    double value;
    const char* hex;  // significand (8 bytes) then sign and exponent, little-endian
  };
  const Case cases[] = {
      {0.0, "00000000000000000000"},
      {-0.0, "00000000000000000080"},
      {1.0, "0000000000000080ff3f"},
      {-1.5, "00000000000000c0ffbf"},
      {1024.0, "00000000000000800940"},
      {std::numeric_limits<double>::denorm_min(), "0000000000000080cd3b"},  // 2^-1074
      {std::numeric_limits<double>::infinity(), "0000000000000080ff7f"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::uint8_t out[10];
    DoubleToExtended(c.value, out);
    EXPECT_EQ(Hex(out), c.hex);
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Where long double is the x87 format, the conversion must agree with the hardware's, subnormals included.
TEST(ExtendedFloat, AgreesWithTheX87Format) {
  const double values[] = {1.0 / 3.0,
                           -2.5e-300,
                           6.02214076e23,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min() * 12345,
                           -std::numeric_limits<double>::denorm_min()};
  for (double value : values) {
    SCOPED_TRACE(value);
    std::uint8_t expected[16] = {};
    const long double wide = value;
    std::memcpy(expected, &wide, 10);
    std::uint8_t out[10];
    DoubleToExtended(value, out);
    EXPECT_EQ(Hex(out), Hex(expected));
  }
}
#endif

}  // namespace
}  // namespace kavrin::classlib
