#include "components/word_wrap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrin::components::rptworks {
namespace {

// One pixel per UTF-8 character.
std::int32_t Chars(std::string_view s) {
  std::int32_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

struct WrapCase {
  const char* name;
  std::string text;
  std::int32_t width;
  std::vector<std::string> lines;
};

TEST(WordWrap, LinesAsAMemoOfThatWidthShowsThem) {
  const WrapCase cases[] = {
      {"fits", "aaa bbb", 7, {"aaa bbb"}},
      {"breaks at the blank", "aaa bbb ccc", 7, {"aaa bbb", "ccc"}},
      {"blanks at a break go", "ab    cd", 3, {"ab", "cd"}},
      {"inner blanks stay", "a  b", 10, {"a  b"}},
      {"leading blanks stay", "  abc", 10, {"  abc"}},
      {"over-long word at the last character that fits", "abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"over-long word after a short one", "ab abcdefgh", 5, {"ab", "abcde", "fgh"}},
      {"paragraphs at LF", "a\nb", 10, {"a", "b"}},
      {"empty paragraph", "a\n\nb", 10, {"a", "", "b"}},
      {"CR LF", "a\r\nb", 10, {"a", "b"}},
      {"final LF starts no line", "a\n", 10, {"a"}},
      {"empty text", "", 10, {}},
      {"width too small still ends", "abc", 0, {"a", "b", "c"}},
      {"negative width", "ab cd", -25, {"a", "b", "c", "d"}},
      {"never inside a character", "\xC3\xA9\xC3\xA9\xC3\xA9", 2, {"\xC3\xA9\xC3\xA9", "\xC3\xA9"}},
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(WrapText(c.text, c.width, Chars), c.lines) << c.name;
  }
}

TEST(WordWrap, MeasuresWithTheInjectedMeasurer) {
  // "w" is wide, everything else narrow: the break follows the measurer, not the character count.
  auto measure = [](std::string_view s) {
    std::int32_t w = 0;
    for (char c : s) w += c == 'w' ? 5 : 1;
    return w;
  };
  EXPECT_EQ(WrapText("ww iiiii", 10, measure), (std::vector<std::string>{"ww", "iiiii"}));
  EXPECT_EQ(WrapText("ii iiiii", 10, measure), (std::vector<std::string>{"ii iiiii"}));
}

}  // namespace
}  // namespace kavrin::components::rptworks
