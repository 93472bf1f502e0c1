#include "engine/key_encoders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace kavrin::engine {
namespace {

template <std::size_t N>
using Key = std::array<std::uint8_t, N>;

Key<8> Float(double v) {
  Key<8> k;
  FloatToKey(v, k.data());
  return k;
}

TEST(KeyEncoders, KnownBytes) {
  EXPECT_EQ(Float(0.0), (Key<8>{0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Float(-1.0), (Key<8>{0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Float(1.0), (Key<8>{0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Float(-0.0), Float(0.0));  // equal values, equal keys

  Key<4> i;
  IntegerToKey(-1, i.data());
  EXPECT_EQ(i, (Key<4>{0x7F, 0xFF, 0xFF, 0xFF}));
  IntegerToKey(0, i.data());
  EXPECT_EQ(i, (Key<4>{0x80, 0, 0, 0}));
  IntegerToKey(0x01020304, i.data());
  EXPECT_EQ(i, (Key<4>{0x81, 0x02, 0x03, 0x04}));

  Key<2> s;
  SmallIntToKey(-32768, s.data());
  EXPECT_EQ(s, (Key<2>{0x00, 0x00}));
  WordToKey(0xABCD, s.data());
  EXPECT_EQ(s, (Key<2>{0xAB, 0xCD}));

  Key<8> l;
  Int64ToKey(std::numeric_limits<std::int64_t>::max(), l.data());
  EXPECT_EQ(l, (Key<8>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  EXPECT_EQ(NegateValue(5), -5);
  EXPECT_EQ(NegateValue(std::numeric_limits<std::int32_t>::min()), std::numeric_limits<std::int32_t>::min());
}

// Sorting values and sorting their keys as bytes must give the same order.
template <typename T, std::size_t N, typename Encode>
void ExpectOrderPreserved(std::vector<T> values, Encode encode) {
  std::sort(values.begin(), values.end());
  for (std::size_t i = 1; i < values.size(); ++i) {
    Key<N> a, b;
    encode(values[i - 1], a.data());
    encode(values[i], b.data());
    if (values[i - 1] == values[i]) {
      EXPECT_EQ(a, b);
    } else {
      EXPECT_LT(std::memcmp(a.data(), b.data(), N), 0) << values[i - 1] << " < " << values[i];
    }
  }
}

TEST(KeyEncoders, ByteOrderIsValueOrder) {
  const double inf = std::numeric_limits<double>::infinity();
  ExpectOrderPreserved<double, 8>({-inf, -1e300, -2.0, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.0, 1e300, inf}, FloatToKey);
  ExpectOrderPreserved<std::int32_t, 4>(
      {std::numeric_limits<std::int32_t>::min(), -65536, -1, 0, 1, 255, 256, std::numeric_limits<std::int32_t>::max()},
      IntegerToKey);
  ExpectOrderPreserved<std::int64_t, 8>(
      {std::numeric_limits<std::int64_t>::min(), -12502, -1, 0, 70, 12502, std::numeric_limits<std::int64_t>::max()},
      Int64ToKey);
  ExpectOrderPreserved<std::int16_t, 2>({-32768, -256, -1, 0, 1, 256, 32767}, SmallIntToKey);
  ExpectOrderPreserved<std::uint16_t, 2>({0, 1, 255, 256, 65535}, WordToKey);
}

}  // namespace
}  // namespace kavrin::engine
