#include "runtime/code_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/conversions.h"

namespace kavrin::runtime {
namespace {

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

TEST(CodePages, EveryOemByteRoundTrips) {
  const std::string bytes = AllBytes();
  std::string utf8 = OemToUtf8(bytes);
  EXPECT_EQ(Utf8ToOem(utf8), bytes);
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToOem(OemToUtf8(one)), one) << "byte " << b;
  }
}

TEST(CodePages, EveryAnsiByteRoundTrips) {
  const std::string bytes = AllBytes();
  std::string utf8 = AnsiToUtf8(bytes);
  EXPECT_EQ(Utf8ToAnsi(utf8), bytes);
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(one)), one) << "byte " << b;
  }
}

TEST(CodePages, KnownCharacters) {
  struct Case {
    std::string (*decode)(std::string_view);
    std::string byte;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {OemToUtf8, "A", "A"},
      {OemToUtf8, std::string(1, '\0'), std::string(1, '\0')},
      {OemToUtf8, "\x80", "\u00C7"},  // C cedilla
      {OemToUtf8, "\x82", "\u00E9"},
      {OemToUtf8, "\xE1", "\u00DF"},  // sharp s
      {OemToUtf8, "\xB0", "\u2591"},  // light shade
      {OemToUtf8, "\xC9", "\u2554"},  // box drawing
      {OemToUtf8, "\xFF", "\u00A0"},
      {AnsiToUtf8, "\x80", "\u20AC"},  // euro sign
      {AnsiToUtf8, "\x9F", "\u0178"},
      {AnsiToUtf8, "\xE9", "\u00E9"},
      {AnsiToUtf8, "\xA0", "\u00A0"},
      // The five bytes Windows-1252 leaves undefined stand for the C1 controls of the same value.
      {AnsiToUtf8, "\x81", "\u0081"},
      {AnsiToUtf8, "\x8D", "\u008D"},
      {AnsiToUtf8, "\x8F", "\u008F"},
      {AnsiToUtf8, "\x90", "\u0090"},
      {AnsiToUtf8, "\x9D", "\u009D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(c.decode(c.byte), c.utf8);
  }
  EXPECT_EQ(OemToUtf8("Gr\x81\xE1 Gott"), "Gr\u00FC\u00DF Gott");
  EXPECT_EQ(AnsiToUtf8("Gr\xFC\xDF Gott"), "Gr\u00FC\u00DF Gott");
}

TEST(CodePages, CharactersWithoutEquivalentBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToOem("\u20AC"), "?");  // no euro sign in CP437
  EXPECT_EQ(Utf8ToAnsi("\u2591"), "?");
  EXPECT_EQ(Utf8ToAnsi("a\u6F22b"), "a?b");
  EXPECT_EQ(Utf8ToOem("\U0001F600!"), "?!");  // one mark for a four-byte character
  EXPECT_EQ(Utf8ToAnsi("\u0100"), "?");
  EXPECT_EQ(Utf8ToOem("caf\u00E9"), "caf\x82");
  EXPECT_EQ(Utf8ToAnsi("\u20AC 5"), "\x80 5");
}

TEST(CodePages, InvalidUtf8BecomesOneQuestionMarkPerByte) {
  struct Case {
    std::string utf8;
    std::string ansi;
  };
  const std::vector<Case> cases = {
      {"\xFF", "?"},
      {"a\x80z", "a?z"},   // stray continuation byte
      {"\xE2\x82", "??"},  // truncated euro sign
      {"\xE2\x82x", "??x"},
      {"\xC0\xAF", "??"},                 // overlong "/"
      {"\xE0\x80\xAF", "???"},            // overlong, three bytes
      {"\xED\xA0\x80", "???"},            // a surrogate
      {"\xF4\x90\x80\x80", "????"},       // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", "?????"},  // five-byte form
      {"\xC3", "?"},                      // truncated at the end
      {"\xC3\xA9\xC3", "\xE9?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ansi);
    EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi);
    EXPECT_EQ(Utf8ToOem(c.utf8).size(), c.ansi.size());
  }
}

TEST(CodePages, AnsiUpperTable) {
  struct Case {
    std::uint8_t byte;
    std::uint8_t upper;
  };
  const std::vector<Case> changed = {
      {'a', 'A'},   {'m', 'M'},   {'z', 'Z'},   {0xE0, 0xC0}, {0xE9, 0xC9}, {0xF6, 0xD6},
      {0xF8, 0xD8}, {0xFE, 0xDE}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E}, {0xFF, 0x9F},
  };
  for (const Case& c : changed) EXPECT_EQ(AnsiUpperByte(c.byte), c.upper) << int(c.byte);

  for (int b = 0; b < 256; ++b) {
    auto byte = static_cast<std::uint8_t>(b);
    bool lower = (b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7) || b == 0x9A || b == 0x9C ||
                 b == 0x9E || b == 0xFF;
    if (!lower) {
      EXPECT_EQ(AnsiUpperByte(byte), byte) << "byte " << b;  // 0xB5, 0xDF, 0xF7 among them
    }
    EXPECT_EQ(AnsiUpperByte(AnsiUpperByte(byte)), AnsiUpperByte(byte)) << "byte " << b;
  }

  std::uint8_t key[] = {'k', 0xE4, 'y', 0xDF, '1', 0xFF, 0xF7};
  AnsiUpperBytes(key, sizeof key);
  const std::uint8_t expected[] = {'K', 0xC4, 'Y', 0xDF, '1', 0x9F, 0xF7};
  for (std::size_t k = 0; k < sizeof key; ++k) EXPECT_EQ(key[k], expected[k]) << k;
}

TEST(CodePages, SingleByteCodePointsMarkUndefinedBytesAndUnknownPages) {
  const auto ansi = SingleByteCodePoints("CP1252");
  ASSERT_TRUE(ansi.has_value());
  EXPECT_EQ((*ansi)['A'], 'A');
  EXPECT_EQ((*ansi)[0x80], 0x20AC);  // euro sign
  EXPECT_EQ((*ansi)[0x81], -1);      // left undefined by the page
  const auto oem = SingleByteCodePoints("CP437");
  ASSERT_TRUE(oem.has_value());
  EXPECT_EQ((*oem)[0x89], 0xEB);  // e with diaeresis
  EXPECT_FALSE(SingleByteCodePoints("CP99999").has_value());
}

TEST(DescriptorText, StoredInWindows1252BothWays) {
  struct Case {
    std::string stored;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"CUSTNO", "CUSTNO"},
      {"Gr\xF6\xDF"
       "e",
       "Gr\u00F6\u00DFe"},
      {"CAF\xC9", "CAF\u00C9"},
      {"PRICE\x80", "PRICE\u20AC"},  // a character CP437 lacks
      {"\x8A\x9F", "\u0160\u0178"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(DescriptorTextToUtf8(c.stored), c.utf8);
    EXPECT_EQ(Utf8ToDescriptorText(c.utf8, "Field name"), c.stored);
  }
  const std::string bytes = AllBytes();
  EXPECT_EQ(Utf8ToDescriptorText(DescriptorTextToUtf8(bytes), "Description"), bytes);
}

TEST(DescriptorText, RefusesWhatWindows1252LacksNamingTheText) {
  struct Case {
    std::string utf8;
    bool quote;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"ALPHA\u03A9", true,
       "Field name 'ALPHA\u03A9' has a character that the ANSI code page (Windows-1252) of table definitions "
       "lacks: '\u03A9'"},
      {"NAME\u4E2D", true,
       "Field name 'NAME\u4E2D' has a character that the ANSI code page (Windows-1252) of table definitions "
       "lacks: '\u4E2D'"},
      {"bad\xFFutf8", true, "Field name 'bad\xFFutf8' is not UTF-8 text"},
      {"secret\u03A9", false,
       "Field name has a character that the ANSI code page (Windows-1252) of table definitions lacks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    try {
      Utf8ToDescriptorText(c.utf8, "Field name", c.quote);
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

TEST(DescriptorText, NamesCompareWithTheWindows1252UpperCaseTable) {
  struct Case {
    std::string a;
    std::string b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"custno", "CUSTNO", true},
      {"caf\u00E9", "CAF\u00C9", true},
      {"\u0161tevilo", "\u0160TEVILO", true},  // s caron, upper-cased at 0x9A -> 0x8A
      {"stra\u00DFe", "STRASSE", false},       // sharp s has no upper case in the page
      {"caf\u00E9", "CAFE", false},
      {"NAME", "NAME ", false},
      {"\u03A9", "\u03A9", true},
      {"a\u03A9", "A\u03A9", true},
      {"\u03C9", "\u03A9", false},
      {"\u03A9", "?", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b);
    EXPECT_EQ(SameDescriptorName(c.a, c.b), c.same);
    EXPECT_EQ(SameDescriptorName(c.b, c.a), c.same);
  }
}

}  // namespace
}  // namespace kavrin::runtime
