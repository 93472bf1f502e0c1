#include "engine/primitives.h"

#include <gtest/gtest.h>

#include "platform/ticks.h"
#include "runtime/format_settings.h"

namespace kavrin::engine {
namespace {

TEST(StringHelpers, CasesOfEachHelper) {
  EXPECT_EQ(PadLeft("7", 3, '0'), "007");
  EXPECT_EQ(PadLeft("1234", 3, '0'), "1234");
  EXPECT_EQ(PadRight("ab", 4, '.'), "ab..");
  EXPECT_EQ(PadRight("abcd", 2, '.'), "abcd");
  EXPECT_EQ(LeftString("abcdef", 3), "abc");
  EXPECT_EQ(LeftString("ab", 5), "ab");
  EXPECT_EQ(LastPos("ab", "xabyab"), 5u);
  EXPECT_EQ(LastPos("zz", "xabyab"), 0u);
  EXPECT_EQ(LastPos("a", "a"), 1u);
  EXPECT_EQ(TrimBlanks(" \t name \r\n\f\t "), "name");
  EXPECT_EQ(TrimBlanks("\nname"), "\nname");  // line feeds are cut only at the end
  EXPECT_EQ(TrimBlanks(" \t "), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(BoolToText(true), "True");
  EXPECT_EQ(BoolToText(false), "False");
  EXPECT_TRUE(TextToBool("True"));
  EXPECT_FALSE(TextToBool("true"));
  EXPECT_FALSE(TextToBool("TRUE"));
  EXPECT_FALSE(TextToBool("1"));
  EXPECT_EQ(Max(-3, 2), 2);
  EXPECT_EQ(Min(-3, 2), -3);
}

TEST(PathHelpers, CasesOfEachHelper) {
  struct Case {
    const char* in;
    const char* stripped;
    const char* added;
    const char* removed;
  };
  const Case cases[] = {
      {"/data/orders.dat", "/data/orders", "/data/orders.dat/", "/data/orders.dat"},
      {"/data.v2/orders", "/data.v2/orders", "/data.v2/orders/", "/data.v2/orders"},
      {"/data/", "/data/", "/data/", "/data"},
      {"dir\\", "dir\\", "dir\\", "dir"},
      {"archive.tar.gz", "archive.tar", "archive.tar.gz/", "archive.tar.gz"},
      {"", "", "", ""},
      {"   ", "   ", "", ""},
      {"  /tmp  ", "  /tmp  ", "/tmp/", "/tmp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StripExtension(c.in), c.stripped) << c.in;
    EXPECT_EQ(AddBackslash(c.in), c.added) << c.in;
    EXPECT_EQ(RemoveBackslash(c.in), c.removed) << c.in;
  }
}

TEST(WaitMilliseconds, ZeroWaitsForTheTickToMove) {
  const std::uint32_t start = platform::GetTickCount();
  WaitMilliseconds(0);
  EXPECT_GE(platform::GetTickCount() - start, 1u);
}

int messageCalls = 0;

TEST(WaitMilliseconds, KeepsTheMessageHookRunning) {
  messageCalls = 0;
  platform::SetMessageHook([] { ++messageCalls; });
  WaitMilliseconds(5);
  platform::SetMessageHook(nullptr);
  EXPECT_GT(messageCalls, 0);
}

class ValueTextChecks : public ::testing::Test {
 protected:
  void SetUp() override { runtime::ResetFormatSettings(); }
};

TEST_F(ValueTextChecks, AcceptWhatConvertsAndRefuseTheRest) {
  struct Case {
    bool (*check)(std::string_view);
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {IsValidWordText, "0", true},
      {IsValidWordText, "65535", true},
      {IsValidWordText, "65536", false},
      {IsValidWordText, "-1", false},
      {IsValidWordText, "abc", false},
      {IsValidSmallIntText, "-32768", true},
      {IsValidSmallIntText, "32767", true},
      {IsValidSmallIntText, "32768", false},
      {IsValidSmallIntText, "-32769", false},
      {IsValidIntegerText, "-2147483648", true},
      {IsValidIntegerText, "2147483648", false},
      {IsValidIntegerText, "", false},
      {IsValidIntegerText, "12x", false},
      {IsValidBooleanText, "anything", true},
      {IsValidBooleanText, "", true},
      {IsValidFloatText, "1.5E3", true},
      {IsValidFloatText, "1,5", false},
      {IsValidCurrencyText, "12.3456", true},
      {IsValidCurrencyText, "1e30", false},
      {IsValidDateText, "2/29/2024", true},
      {IsValidDateText, "2/29/2023", false},
      {IsValidDateText, "13/1/2024", false},
      {IsValidTimeText, "1:30:00 PM", true},
      {IsValidTimeText, "25:00", false},
      {IsValidDateTimeText, "12/31/1999 11:59:59 PM", true},
      {IsValidDateTimeText, "12/31/1999 24:00", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.check(c.text), c.ok) << c.text;
}

}  // namespace
}  // namespace kavrin::engine
