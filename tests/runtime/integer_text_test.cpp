#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "runtime/conversions.h"
#include "runtime_test_support.h"

namespace kavrin::runtime {
namespace {

using testing::RuntimeTest;

struct IntCase {
  std::string text;
  std::optional<std::int32_t> value;  // nullopt: not an integer
};

class IntegerText : public RuntimeTest {};

TEST_F(IntegerText, Int32Table) {
  const std::vector<IntCase> cases = {
      {"0", 0},
      {"7", 7},
      {"-7", -7},
      {"+7", 7},
      {"007", 7},
      {"   42", 42},
      {"  -42", -42},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"$FF", 255},
      {"$ff", 255},
      {"0x1F", 31},
      {"0X1f", 31},
      {"-$10", -16},
      {"$7FFFFFFF", 2147483647},
      // Hexadecimal is the 32-bit pattern, as the class library reads it.
      {"$80000000", std::numeric_limits<std::int32_t>::min()},
      {"$FFFFFFFF", -1},
      {"$100000000", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"$G", std::nullopt},
      {"0xFG", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"12 ", std::nullopt},
      {"12a", std::nullopt},
      {"1 2", std::nullopt},
      {"- 5", std::nullopt},
      {"1.0", std::nullopt},
      {"1e3", std::nullopt},
      {"\t5", std::nullopt},
      {"++5", std::nullopt},
      {"FF", std::nullopt},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    std::int32_t out = 12345;
    bool ok = TryStrToInt(c.text, out);
    ASSERT_EQ(ok, c.value.has_value());
    if (ok) {
      EXPECT_EQ(out, *c.value);
      EXPECT_EQ(StrToInt(c.text), *c.value);
      EXPECT_EQ(StrToIntDef(c.text, -99), *c.value);
    } else {
      EXPECT_EQ(out, 12345) << "a failed conversion leaves the output alone";
      EXPECT_THROW(StrToInt(c.text), EConvertError);
      EXPECT_EQ(StrToIntDef(c.text, -99), -99);
    }
  }
}

TEST_F(IntegerText, Int64Limits) {
  struct Case {
    std::string text;
    std::optional<std::int64_t> value;
  };
  const std::vector<Case> cases = {
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"2147483648", 2147483648LL},
      {"$FFFFFFFF", 0xFFFFFFFFLL},
      {"$FFFFFFFFFFFFFFFF", -1},
      {"$10000000000000000", std::nullopt},
      {" -0x10", -16},
      {"1 ", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    std::int64_t out = 0;
    ASSERT_EQ(TryStrToInt64(c.text, out), c.value.has_value());
    if (c.value) {
      EXPECT_EQ(out, *c.value);
      EXPECT_EQ(StrToInt64(c.text), *c.value);
    } else {
      EXPECT_THROW(StrToInt64(c.text), EConvertError);
    }
  }
}

TEST_F(IntegerText, ErrorMessageQuotesTheText) {
  try {
    StrToInt("12x");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
}

TEST_F(IntegerText, IntToStrRoundTripsTheLimits) {
  for (std::int64_t v : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{123456789},
                         std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
    std::string text = IntToStr(v);
    EXPECT_EQ(StrToInt64(text), v) << text;
  }
  EXPECT_EQ(IntToStr(-2147483648LL), "-2147483648");
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

}  // namespace
}  // namespace kavrin::runtime
