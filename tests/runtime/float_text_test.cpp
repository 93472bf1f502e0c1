#include <gtest/gtest.h>

#include <cmath>
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

class FloatText : public RuntimeTest {};

TEST_F(FloatText, ParseTable) {
  struct Case {
    std::string text;
    std::optional<double> value;
  };
  const std::vector<Case> cases = {
      {"0", 0.0},
      {"1.5", 1.5},
      {"-2.25", -2.25},
      {"+3", 3.0},
      {"  1.5  ", 1.5},
      {"1.", 1.0},
      {".5", 0.5},
      {"-.5", -0.5},
      {"1e3", 1000.0},
      {"1E+3", 1000.0},
      {"2.5e-3", 0.0025},
      {"1.e2", 100.0},
      {"0.1", 0.1},
      {"123456789012345678", 123456789012345678.0},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"1e-400", 0.0},  // below every subnormal: zero, not an error
      {"000000000000000000000000000001.5", 1.5},
      {"1e309", std::nullopt},  // overflow
      {"-1e309", std::nullopt},
      {"1e99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"  ", std::nullopt},
      {".", std::nullopt},
      {"-", std::nullopt},
      {"e5", std::nullopt},
      {"1e", std::nullopt},
      {"1e+", std::nullopt},
      {"1,5", std::nullopt},
      {"1,000", std::nullopt},
      {"1.5x", std::nullopt},
      {"1 .5", std::nullopt},
      {"- 1", std::nullopt},
      {"INF", std::nullopt},
      {"NAN", std::nullopt},
      {"inf", std::nullopt},
      {"0x10", std::nullopt},
      {"$10", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    double out = -7.0;
    ASSERT_EQ(TryStrToFloat(c.text, out), c.value.has_value());
    if (c.value) {
      EXPECT_EQ(out, *c.value);
      EXPECT_EQ(StrToFloat(c.text), *c.value);
    } else {
      EXPECT_EQ(out, -7.0);
      EXPECT_THROW(StrToFloat(c.text), EConvertError);
    }
  }
}

TEST_F(FloatText, ParseIsCorrectlyRounded) {
  // Values whose nearest double needs every digit: a digit-by-digit accumulator gets them wrong.
  double out = 0;
  ASSERT_TRUE(TryStrToFloat("2.2250738585072011e-308", out));
  EXPECT_EQ(out, 2.2250738585072011e-308);
  ASSERT_TRUE(TryStrToFloat("9007199254740993", out));
  EXPECT_EQ(out, 9007199254740992.0);
  ASSERT_TRUE(TryStrToFloat("0.30000000000000004", out));
  EXPECT_EQ(out, 0.1 + 0.2);
}

TEST_F(FloatText, FloatToStrTable) {
  struct Case {
    double value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.0, "1"},
      {1.5, "1.5"},
      {-2.5, "-2.5"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {100.0, "100"},
      {1e20, "1E20"},
      {1.5e-7, "1.5E-7"},
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {0.00001, "1E-5"},
      {-0.00001, "-1E-5"},
      {123456789012345678.0, "1.23456789012346E17"},
      {1e15, "1E15"},
      {999999999999999.0, "999999999999999"},
      {123456789012345.0, "123456789012345"},
      {9999999999999999.0, "1E16"},
      {0.9999999999999999, "1"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      {4.9406564584124654e-324, "4.94065645841247E-324"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FloatToStr(c.value), c.text);
  }
}

TEST_F(FloatText, TextRoundTripsAtFifteenDigits) {
  for (double v : {1.5, -2.25, 0.1, 1234.5678, 6.02214076e23, 1.602176634e-19, 299792458.0, -0.000123}) {
    std::string text = FloatToStr(v);
    double back = StrToFloat(text);
    EXPECT_EQ(FloatToStr(back), text);
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << text;
  }
}

TEST_F(FloatText, DecimalSeparatorComesFromTheSettings) {
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(FloatToStr(1.5), "1,5");
  EXPECT_EQ(FloatToStr(1.5e-7), "1,5E-7");
  double out = 0;
  ASSERT_TRUE(TryStrToFloat("1,5", out));
  EXPECT_EQ(out, 1.5);
  EXPECT_FALSE(TryStrToFloat("1.5", out));
}

TEST_F(FloatText, ErrorMessageQuotesTheText) {
  try {
    StrToFloat("abc");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
  }
}

}  // namespace
}  // namespace kavrin::runtime
