#include "engine/bcd.h"

#include <gtest/gtest.h>

#include <limits>

#include "engine/engine_error.h"

namespace kavrin::engine {
namespace {

using runtime::Currency;

Currency C(std::int64_t raw) { return Currency::FromRaw(raw); }

TEST(Bcd, StoredFormsAndBack) {
  struct Case {
    int decimals;
    std::int64_t raw;     // value x 10^4
    std::int64_t stored;  // CurrencyToBCD
    std::int64_t back;    // BCDToCurrency(stored), x 10^4
  };
  const Case cases[] = {
      {2, 123450, 12352, 123500},  // 12.345 -> 12.35, halves away from zero
      {2, -123450, -12352, -123500},
      {2, 125000, 12502, 125000},  // 12.5
      {2, -125000, -12502, -125000},
      {0, 70000, 70, 70000},  // 7
      {0, 5000, 10, 10000},   // 0.5 rounds to 1
      {0, -5000, -10, -10000},
      {4, 5000, 50004, 5000},       // 0.5
      {4, 1, 14, 1},                // 0.0001
      {2, 0, 2, 0},                 // zero is its digit and the places
      {2, 40, 2, 0},                // 0.004 rounds to 0.00
      {6, 15000, 15000006, 15000},  // 1.5 with six places
      {9, 10000, 10000000009, 10000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CurrencyToBCD(c.decimals, C(c.raw)), c.stored) << c.raw << " N=" << c.decimals;
    EXPECT_EQ(BCDToCurrency(c.stored).Raw(), c.back) << c.stored;
  }
}

TEST(Bcd, RoundAndHelpers) {
  EXPECT_EQ(RoundCurrency(2, C(123450)).Raw(), 123500);
  EXPECT_EQ(RoundCurrency(2, C(123449)).Raw(), 123400);
  EXPECT_EQ(RoundCurrency(1, C(-5)).Raw(), 0);
  EXPECT_EQ(RoundCurrency(0, C(-15000)).Raw(), -20000);
  EXPECT_EQ(RoundCurrency(7, C(12345)).Raw(), 12345);
  EXPECT_EQ(TruncCurrency(C(-19999)).Raw(), -10000);
  EXPECT_EQ(TruncCurrency(C(19999)).Raw(), 10000);
  EXPECT_EQ(CurrencyPower(0).Raw(), 10000);
  EXPECT_EQ(CurrencyPower(2).Raw(), 100);
  EXPECT_EQ(CurrencyPower(4).Raw(), 1);
}

TEST(Bcd, ExtremesAreExactOrRefused) {
  const std::int64_t max = std::numeric_limits<std::int64_t>::max();
  // Four places of the largest Currency: 922337203685477.5807 x 10^4 x 10 overflows 64 bits.
  EXPECT_THROW(CurrencyToBCD(4, C(max)), EDBEngineError);
  EXPECT_EQ(CurrencyToBCD(2, C(max - 10)), 922337203685477582);
  EXPECT_THROW(CurrencyToBCD(9, C(10000000000000)), EDBEngineError);  // 10^9 with nine places
  // Decoding works with integers: more digits than a double holds come back exactly.
  const std::int64_t stored = 9223372036854775800;  // 922337203685477580.0 with 0 places: too large
  EXPECT_THROW(BCDToCurrency(stored), EDBEngineError);
  EXPECT_EQ(BCDToCurrency(12345678901234564).Raw(), 1234567890123456);  // 123456789012.3456
  EXPECT_EQ(CurrencyToBCD(4, C(1234567890123456)), 12345678901234564);
  // A damaged stored value decodes without overflow: eight places, rounded half to even.
  EXPECT_EQ(BCDToCurrency(std::numeric_limits<std::int64_t>::min()).Raw(), -92233720368548);
}

}  // namespace
}  // namespace kavrin::engine
