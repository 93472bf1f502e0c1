#include "components/ascii_text_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrin::components::ascifile {
namespace {

std::vector<std::string> Columns(const std::string& line, char delimiter, int count) {
  TAsciiColumnReader reader(line, delimiter);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(reader.NextColumn());
  return out;
}

TEST(AsciiColumnReaderTest, PiecesQuotesAndBlanks) {
  struct Case {
    const char* what;
    std::string line;
    char delimiter;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"quoted comma in the middle", "1,\"Smith, John\",5", ',', {"1", "Smith, John", "5"}},
      {"quoted comma as the last column", "1,\"Smith, John\"", ',', {"1", "Smith, John", ""}},
      {"blanks around the quotes", "1,  \"Smith, John\"  ,5", ',', {"1", "Smith, John", "5"}},
      {"fewer columns than asked", "7", ',', {"7", "", ""}},
      {"blanks only and an empty quote pair", "3,   ,\"\"", ',', {"3", "", ""}},
      {"embedded quotes are removed", "\"Say \"hi\" now\",2", ',', {"Say hi now", "2", ""}},
      {"a quote never closed takes the rest", "\"open, never, closed", ',', {"open, never, closed", "", ""}},
      {"a lone quote does not close", "\",\",9", ',', {",", "9", ""}},
      {"trailing delimiter", "1,", ',', {"1", "", ""}},
      {"tabs: an empty first column keeps its place", "\tBob\t3", '\t', {"", "Bob", "3"}},
      {"tabs: commas are text", "a,b\t\"c\td\"", '\t', {"a,b", "c\td", ""}},
      {"control characters trimmed", "\x01 x \x02,y", ',', {"x", "y", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Columns(c.line, c.delimiter, static_cast<int>(c.expected.size())), c.expected);
  }
}

TEST(AsciiColumnReaderTest, RewindStartsTheLineAgain) {
  TAsciiColumnReader reader("a,b", ',');
  EXPECT_EQ(reader.NextColumn(), "a");
  EXPECT_EQ(reader.NextColumn(), "b");
  EXPECT_TRUE(reader.AtEnd());
  reader.Rewind();
  EXPECT_EQ(reader.NextColumn(), "a");
}

std::vector<std::string> Lines(const std::string& text, std::size_t bufferSize) {
  classlib::TMemoryStream stream;
  stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  stream.SetPosition(0);
  TAsciiLineReader reader(stream, bufferSize);
  std::vector<std::string> out;
  std::string line;
  while (reader.ReadLine(line)) out.push_back(line);
  EXPECT_FALSE(reader.ReadLine(line));  // stays at the end
  EXPECT_LE(reader.Position(), static_cast<std::int64_t>(text.size()));
  return out;
}

TEST(AsciiLineReaderTest, LineEndsBlankLinesCtrlZAndByteOrderMark) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"CR LF lines", "a,1\r\nb,2\r\n", {"a,1", "b,2"}},
      {"no end on the last line", "a\r\nb", {"a", "b"}},
      {"lone CR and LF end lines too", "a\rb\nc\n\rd", {"a", "b", "c", "d"}},
      {"blank and control-only lines are skipped", "\r\n\r\n  \t\x01\r\na\r\n \r\n", {"a"}},
      {"leading blanks and tabs belong to the line", "\t2\t3\r\n  x\r\n", {"\t2\t3", "  x"}},
      {"Ctrl+Z before a line ends the file",
       "a\r\n\x1a"
       "b\r\n",
       {"a"}},
      {"Ctrl+Z inside a line ends it and the file",
       "ab\x1a"
       "cd\r\ne",
       {"ab"}},
      {"byte-order mark skipped",
       "\xEF\xBB\xBF"
       "1,x\r\n",
       {"1,x"}},
      {"a mark later is text",
       "a\r\n\xEF\xBB\xBF"
       "b",
       {"a",
        "\xEF\xBB\xBF"
        "b"}},
      {"empty file", "", {}},
      {"only a mark", "\xEF\xBB\xBF", {}},
      {"NUL bytes inside a line stay", std::string("a\0b", 3), {std::string("a\0b", 3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::size_t buffer : {std::size_t{1}, std::size_t{5}, TAsciiLineReader::DefaultBufferSize}) {
      SCOPED_TRACE(buffer);
      EXPECT_EQ(Lines(c.text, buffer), c.expected);
    }
  }
}

TEST(AsciiLineReaderTest, PositionRunsAheadByTheBuffer) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\r\n";
  classlib::TMemoryStream stream;
  stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  stream.SetPosition(0);
  TAsciiLineReader reader(stream, 64);
  std::string line;
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(reader.Position(), 64);
  std::int64_t last = 0;
  while (reader.ReadLine(line)) {
    EXPECT_GE(reader.Position(), last);
    last = reader.Position();
  }
  EXPECT_EQ(reader.Position(), static_cast<std::int64_t>(text.size()));
}

}  // namespace
}  // namespace kavrin::components::ascifile
