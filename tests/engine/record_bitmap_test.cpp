#include "engine/record_bitmap.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

namespace kavrin::engine {
namespace {

TEST(RecordBitmap, LengthAndBitPlacesFollowTheRecordNumbers) {
  TRecordBitmap bitmap(8);
  EXPECT_EQ(bitmap.Length(), 2);
  bitmap.Set(8);
  EXPECT_EQ(bitmap.Byte(1), 0x01);
  bitmap.Set(3);
  EXPECT_EQ(bitmap.Byte(0), 0x08);
  // Out of bounds and record 0 are ignored.
  bitmap.Set(0);
  bitmap.Set(16);
  bitmap.Set(-5);
  EXPECT_FALSE(bitmap.Test(0));
  EXPECT_FALSE(bitmap.Test(16));
  EXPECT_EQ(bitmap.CountBits(8), 2);
  bitmap.Clear(8);
  EXPECT_FALSE(bitmap.Test(8));
  EXPECT_EQ(TRecordBitmap::LengthForSlots(0), 1);
  EXPECT_EQ(TRecordBitmap::LengthForSlots(65536 * 8 - 1), 65536);
}

TEST(RecordBitmap, CountsAndScansStopAtTheSlots) {
  TRecordBitmap bitmap(200);
  bitmap.FillOnes();
  EXPECT_EQ(bitmap.Length(), 26);
  EXPECT_EQ(bitmap.CountBits(200), 200);  // not bit 0, not the bits past slot 200
  EXPECT_EQ(bitmap.CountBits(64), 64);
  EXPECT_EQ(bitmap.CountBits(1000), 26 * 8 - 1);
  bitmap.FillZeros();
  for (int n : {1, 63, 64, 65, 127, 128, 199}) bitmap.Set(n);
  std::vector<std::int32_t> seen;
  for (std::int32_t n = 0; bitmap.NextSetBit(n, 150);) seen.push_back(n);
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 63, 64, 65, 127, 128}));
  std::int32_t n = 128;
  EXPECT_FALSE(bitmap.NextSetBit(n, 198));
  EXPECT_EQ(n, 0);
}

TEST(RecordBitmap, SetOperationsAgreeWithASetOfNumbersOverAnyLength) {
  std::mt19937 random(11);
  // Lengths that end inside a word, on a word, and on a multiple of 65536 bytes.
  for (std::int32_t slots : {1, 7, 63, 64, 500, 65536 * 8 - 1, 65536 * 8 + 130}) {
    TRecordBitmap a(slots), b(slots);
    std::set<std::int32_t> sa, sb;
    for (int i = 0; i < 3000; ++i) {
      const auto x = static_cast<std::int32_t>(random() % slots) + 1;
      const auto y = static_cast<std::int32_t>(random() % slots) + 1;
      a.Set(x);
      sa.insert(x);
      b.Set(y);
      sb.insert(y);
    }
    TRecordBitmap both = a, either = a, inverse(slots);
    both.And(b);
    either.Or(b);
    inverse.Not(a);
    std::int32_t bothCount = 0, eitherCount = 0;
    for (std::int32_t n = 1; n <= slots; ++n) {
      const bool inA = sa.count(n) > 0, inB = sb.count(n) > 0;
      ASSERT_EQ(both.Test(n), inA && inB) << slots << " " << n;
      ASSERT_EQ(either.Test(n), inA || inB) << slots << " " << n;
      ASSERT_EQ(inverse.Test(n), !inA) << slots << " " << n;
      bothCount += inA && inB;
      eitherCount += inA || inB;
    }
    EXPECT_EQ(both.CountBits(slots), bothCount);
    EXPECT_EQ(either.CountBits(slots), eitherCount);
    EXPECT_EQ(inverse.CountBits(slots), slots - static_cast<std::int32_t>(sa.size()));
    EXPECT_EQ(inverse.Byte(inverse.Length()), 0);
  }
}

TEST(RecordBitmap, CombiningWithAShorterBitmapLeavesTheRestAlone) {
  TRecordBitmap longer(100), shorter(20);
  longer.FillOnes();
  shorter.FillZeros();
  longer.And(shorter);
  EXPECT_FALSE(longer.Test(23));  // byte 2, inside the shorter bitmap
  EXPECT_TRUE(longer.Test(24));   // byte 3, beyond it
  EXPECT_TRUE(longer.Test(100));
}

}  // namespace
}  // namespace kavrin::engine
