#include "platform/registry_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrin::platform::detail {
namespace {

constexpr const char* kRoot = "HKEY_CURRENT_USER";

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(RegistryTextTest, CanonicalFileRoundTripsByteForByte) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Maker]\n"
      "\"Quoted\"=\"say \\\"hi\\\" to C:\\\\Data\"\n"
      "\"Empty\"=\"\"\n"
      "@=\"default\"\n"
      "\"Count\"=dword:0000000f\n"
      "\"Raw\"=hex:05,00,00,00,00,00,00,00,00,00,00,00,00,00,04,40\n"
      "\"Nothing\"=hex:\n"
      "\"Expand\"=hex(2):25,00\n"
      "\"Big type\"=hex(ffff0000):01\n"
      "\"Gr\xC3\xBC\xC3\x9F\x65\"=\"\xC3\x84rger\"\n"
      "\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Maker\\Empty key]\n"
      "\n"
      "[HKEY_CURRENT_USER]\n"
      "\"At root\"=dword:ffffffff\n"
      "\n";
  auto document = ParseRegistryText(text, kRoot);
  ASSERT_TRUE(document);
  EXPECT_EQ(WriteRegistryText(*document, kRoot), text);

  RegistryKey* key = document->FindKey("software\\MAKER");
  ASSERT_NE(key, nullptr);
  struct Case {
    const char* name;
    DWORD type;
    std::vector<std::uint8_t> data;
  };
  const Case cases[] = {
      {"quoted", kRegSz, Bytes(std::string("say \"hi\" to C:\\Data") + '\0')},
      {"EMPTY", kRegSz, {0}},
      {"", kRegSz, Bytes(std::string("default") + '\0')},
      {"count", kRegDword, {0x0f, 0, 0, 0}},
      {"Raw", kRegBinary, {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0x40}},
      {"Nothing", kRegBinary, {}},
      {"expand", 2, {0x25, 0}},
      {"big TYPE", 0xffff0000u, {1}},
      {"GR\xC3\x9C\xC3\x9F\x45", kRegSz, Bytes(std::string("\xC3\x84rger") + '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RegistryValue* value = key->FindValue(c.name);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
  }
  EXPECT_NE(document->FindKey("Software\\Maker\\EMPTY KEY"), nullptr);
  EXPECT_NE(document->FindKey("SOFTWARE"), nullptr) << "a parent exists without a section";
  EXPECT_EQ(document->FindKey("SOFTWARE\\Other"), nullptr);
}

TEST(RegistryTextTest, LooserFormsReadAsTheSameValues) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "; a comment\r\n"
      "[HKEY_CURRENT_USER\\K]   \r\n"
      "\r\n"
      "\"a\" = dword:F\r\n"
      "\"b\"=hex:01,02,\\\r\n"
      "    03, 04\r\n"
      "\"\"=\"unnamed\"\r\n";
  auto document = ParseRegistryText(text, kRoot);
  ASSERT_TRUE(document);
  RegistryKey* key = document->FindKey("k");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->FindValue("a")->data, (std::vector<std::uint8_t>{15, 0, 0, 0}));
  EXPECT_EQ(key->FindValue("b")->data, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(key->FindValue("")->data, Bytes(std::string("unnamed") + '\0'));
  EXPECT_EQ(WriteRegistryText(*document, kRoot),
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n"
            "\"a\"=dword:0000000f\n\"b\"=hex:01,02,03,04\n@=\"unnamed\"\n\n");
}

TEST(RegistryTextTest, FilesThatDoNotParse) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::string key = "[HKEY_CURRENT_USER\\K]\n";
  const struct {
    const char* why;
    std::string text;
  } cases[] = {
      {"empty file", ""},
      {"other header", "REGEDIT4\n\n" + key},
      {"UTF-16 export", std::string("\xFF\xFEW\0i\0", 6)},
      {"value before any key", header + "\"a\"=\"b\"\n" + key},
      {"key of another root", header + "[HKEY_LOCAL_MACHINE\\K]\n"},
      {"root name only as prefix", header + "[HKEY_CURRENT_USERS\\K]\n"},
      {"empty component", header + "[HKEY_CURRENT_USER\\A\\\\B]\n"},
      {"trailing backslash", header + "[HKEY_CURRENT_USER\\A\\]\n"},
      {"unclosed section", header + "[HKEY_CURRENT_USER\\A\n"},
      {"key named twice", header + key + "\n[HKEY_CURRENT_USER\\k]\n"},
      {"value named twice", header + key + "\"a\"=\"1\"\n\"A\"=\"2\"\n"},
      {"unknown escape", header + key + "\"a\"=\"x\\ny\"\n"},
      {"unterminated text", header + key + "\"a\"=\"xy\n"},
      {"text after the text", header + key + "\"a\"=\"x\" y\n"},
      {"no data", header + key + "\"a\"=\n"},
      {"no equals sign", header + key + "\"a\" \"b\"\n"},
      {"deletion", header + key + "\"a\"=-\n"},
      {"deleted key", header + "[-HKEY_CURRENT_USER\\K]\n"},
      {"dword too long", header + key + "\"a\"=dword:000000001\n"},
      {"dword not hex", header + key + "\"a\"=dword:0000000g\n"},
      {"dword empty", header + key + "\"a\"=dword:\n"},
      {"hex byte too wide", header + key + "\"a\"=hex:100\n"},
      {"hex trailing comma", header + key + "\"a\"=hex:01,\n"},
      {"hex type unclosed", header + key + "\"a\"=hex(2:01\n"},
      {"continuation at end of file", header + key + "\"a\"=hex:01,\\\n"},
      {"a stray line", header + key + "hello\n"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(ParseRegistryText(c.text, kRoot)) << c.why;
  }
}

TEST(RegistryTextTest, HexListsWrapAndTextThatCannotBeQuotedGoesAsHex) {
  RegistryDocument document;
  bool created = false;
  RegistryKey& key = document.CreateKey("K", &created);
  EXPECT_TRUE(created);
  std::vector<std::uint8_t> long_data;
  for (int i = 0; i < 70; ++i) long_data.push_back(static_cast<std::uint8_t>(i));
  key.values.push_back({"Long", kRegBinary, long_data});
  key.values.push_back({"Line break", kRegSz, Bytes(std::string("a\nb") + '\0')});
  key.values.push_back({"No NUL", kRegSz, Bytes("ab")});
  key.values.push_back({"Latin-1", kRegSz, Bytes(std::string("\xE4") + '\0')});
  key.values.push_back({"Short dword", kRegDword, {1, 2}});
  const std::string text = WriteRegistryText(document, kRoot);
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    start = end + 1;
  }
  EXPECT_NE(text.find("\"Line break\"=hex(1):61,0a,62,00\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"No NUL\"=hex(1):61,62\n"), std::string::npos);
  EXPECT_NE(text.find("\"Latin-1\"=hex(1):e4,00\n"), std::string::npos);
  EXPECT_NE(text.find("\"Short dword\"=hex(4):01,02\n"), std::string::npos);

  auto back = ParseRegistryText(text, kRoot);
  ASSERT_TRUE(back);
  RegistryKey* read = back->FindKey("K");
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->values.size(), key.values.size());
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    EXPECT_EQ(read->values[i].name, key.values[i].name);
    EXPECT_EQ(read->values[i].type, key.values[i].type);
    EXPECT_EQ(read->values[i].data, key.values[i].data);
  }
  EXPECT_EQ(WriteRegistryText(*back, kRoot), text);
}

TEST(RegistryTextTest, ParentSectionAfterItsChildRoundTrips) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\a\\B]\n\"x\"=\"1\"\n\n"
      "[HKEY_CURRENT_USER\\A]\n\"y\"=\"2\"\n\n";
  auto document = ParseRegistryText(text, kRoot);
  ASSERT_TRUE(document);
  EXPECT_EQ(WriteRegistryText(*document, kRoot), text);
  ASSERT_NE(document->FindKey("a"), nullptr);
  EXPECT_NE(document->FindKey("a")->FindValue("Y"), nullptr);
}

TEST(RegistryTextTest, CreatedKeysKeepTheCaseFirstWritten) {
  RegistryDocument document;
  bool created = false;
  document.CreateKey("Software\\Maker", &created);
  document.CreateKey("SOFTWARE\\MAKER\\Sub", &created);
  EXPECT_TRUE(created);
  document.CreateKey("software\\maker", &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(WriteRegistryText(document, kRoot),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Maker]\n\n[HKEY_CURRENT_USER\\Software\\Maker\\Sub]\n\n");
}

TEST(RegistryTextTest, NamesCompareWithoutCaseByAFixedTable) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"Lock Retry Count", "LOCK retry count", true},
      {"\xC3\xA4", "\xC3\x84", true},   // a umlaut
      {"\xC3\xBF", "\xC5\xB8", true},   // y diaeresis
      {"\xC5\x82", "\xC5\x81", true},   // l stroke
      {"\xCE\xB1", "\xCE\x91", true},   // alpha
      {"\xCF\x82", "\xCE\xA3", true},   // final sigma
      {"\xD0\xB6", "\xD0\x96", true},   // zhe
      {"\xD1\x91", "\xD0\x81", true},   // io
      {"\xC3\xB7", "\xC3\x97", false},  // division and multiplication signs
      {"a", "ab", false},
      {"\xE4", "\xC4", false},  // not UTF-8: bytes compare as they are
      {"\xE4", "\xE4", true},
      {"", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RegistryNamesEqual(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

}  // namespace
}  // namespace kavrin::platform::detail
