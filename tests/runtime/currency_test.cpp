#include "runtime/currency.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "runtime/conversions.h"
#include "runtime/format_settings.h"
#include "runtime_test_support.h"

namespace kavrin::runtime {
namespace {

using testing::RuntimeTest;

constexpr std::int64_t kMaxRaw = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinRaw = std::numeric_limits<std::int64_t>::min();

class CurrencyTest : public RuntimeTest {};

TEST_F(CurrencyTest, FromIntScalesAndRefusesOverflow) {
  EXPECT_EQ(Currency::FromInt(7).Raw(), 70000);
  EXPECT_EQ(Currency::FromInt(-7).Raw(), -70000);
  EXPECT_EQ(Currency::FromInt(922337203685477).Raw(), 9223372036854770000);
  EXPECT_EQ(Currency::FromInt(-922337203685477).Raw(), -9223372036854770000);
  EXPECT_THROW(Currency::FromInt(922337203685478), EConvertError);
  EXPECT_THROW(Currency::FromInt(-922337203685478), EConvertError);
  EXPECT_THROW(Currency::FromInt(std::numeric_limits<std::int64_t>::min()), EConvertError);
}

TEST_F(CurrencyTest, FromDoubleRoundsHalvesToEven) {
  struct Case {
    double value;
    std::int64_t raw;
  };
  // Only dyadic values can be exact halves of a ten-thousandth; those are the ties.
  const std::vector<Case> cases = {
      {0.0, 0},
      {1.5, 15000},
      {-2.25, -22500},
      {0.03125, 312},  // 312.5 -> even 312
      {0.09375, 938},  // 937.5 -> even 938
      {-0.03125, -312},
      {-0.09375, -938},
      {0.00015, 1},  // the double is just below 1.5 ten-thousandths
      {0.12345678, 1235},
      {-0.12345678, -1235},
      {1e-30, 0},
      {5e-324, 0},
      {922337203685477.0, 9223372036854770000},
      {-922337203685477.5, -9223372036854775000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FloatToStr(c.value));
    EXPECT_EQ(Currency::FromDouble(c.value).Raw(), c.raw);
  }
}

TEST_F(CurrencyTest, FromDoubleRefusesWhatCannotBeACurrency) {
  for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), 922337203685477.6, -922337203685477.7, 1e15, -1e300}) {
    SCOPED_TRACE(FloatToStr(v));
    EXPECT_THROW(Currency::FromDouble(v), EConvertError);
  }
}

TEST_F(CurrencyTest, ParseTable) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> raw;
  };
  const std::vector<Case> cases = {
      {"0", 0},
      {"-0", 0},
      {"7", 70000},
      {"12.5", 125000},
      {"  -0.0001  ", -1},
      {"1.23456", 12346},
      {"1.23455", 12346},  // tie -> even
      {"1.23445", 12344},  // tie -> even
      {"1.234450000000000000001", 12345},
      {"-1.23455", -12346},
      {"0.00005", 0},
      {"0.00015", 2},
      {"0.000050000001", 1},
      {".5", 5000},
      {"5.", 50000},
      {"1.5e2", 1500000},
      {"15E-1", 15000},
      {"1e-5", 0},
      {"5e-5", 0},
      {"1.5e-4", 2},
      {"1e-99999999999", 0},
      {"0e99999999999", 0},
      {"922337203685477.5807", kMaxRaw},
      {"-922337203685477.5808", kMinRaw},
      {"922337203685477.58074", kMaxRaw},
      {"922337203685477.5808", std::nullopt},
      {"922337203685477.58075", std::nullopt},  // rounds up past the limit
      {"-922337203685477.5809", std::nullopt},
      {"9223372036854775807e-4", kMaxRaw},
      {"1e15", std::nullopt},
      {"1e99999999999", std::nullopt},
      {"00000000000000000000000000000001.25", 12500},
      {"", std::nullopt},
      {"1,5", std::nullopt},
      {"1.5.", std::nullopt},
      {"$5", std::nullopt},
      {"1e", std::nullopt},
      {"NAN", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    Currency out = Currency::FromRaw(42);
    ASSERT_EQ(TryStrToCurr(c.text, out), c.raw.has_value());
    if (c.raw) {
      EXPECT_EQ(out.Raw(), *c.raw);
      EXPECT_EQ(StrToCurr(c.text).Raw(), *c.raw);
    } else {
      EXPECT_EQ(out.Raw(), 42);
      EXPECT_THROW(StrToCurr(c.text), EConvertError);
    }
  }
}

TEST_F(CurrencyTest, CurrToStrTable) {
  struct Case {
    std::int64_t raw;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, "0"},
      {125000, "12.5"},
      {70000, "7"},
      {-1, "-0.0001"},
      {10, "0.001"},
      {-12345678, "-1234.5678"},
      {12345670000, "1234567"},
      {kMaxRaw, "922337203685477.5807"},
      {kMinRaw, "-922337203685477.5808"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CurrToStr(Currency::FromRaw(c.raw)), c.text);
    EXPECT_EQ(StrToCurr(c.text).Raw(), c.raw);
  }
}

TEST_F(CurrencyTest, DecimalSeparatorComesFromTheSettings) {
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(CurrToStr(Currency::FromRaw(125000)), "12,5");
  Currency out;
  ASSERT_TRUE(TryStrToCurr("12,5", out));
  EXPECT_EQ(out.Raw(), 125000);
  EXPECT_FALSE(TryStrToCurr("12.5", out));
}

}  // namespace
}  // namespace kavrin::runtime
