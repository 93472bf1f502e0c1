#include "apps/support/mime_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "apps/support/smtp_data.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::support {
namespace {

// Collects what SendMail would put on the wire after "DATA", and the info events.
class Collector : public TMimeSink {
 public:
  void SendLine(std::string_view text) override {
    SendData(std::string(text.substr(0, std::min<std::size_t>(text.size(), 253))) + "\r\n");
  }
  void SendData(std::string_view text) override { wire += writer.Encode(text); }
  bool Stopped() const override { return stop_after_infos >= 0 && static_cast<int>(infos.size()) >= stop_after_infos; }
  void Info(int code, const std::string& text) override { infos.emplace_back(code, text); }
  bool FeedData(std::string& data) override {
    if (no_feed_handler) return false;
    data.clear();
    if (feed.empty()) return true;
    data = feed.front();
    feed.erase(feed.begin());
    return true;
  }

  TSmtpDataWriter writer;
  std::string wire;
  std::vector<std::pair<int, std::string>> infos;
  std::vector<std::string> feed;
  bool no_feed_handler = true;
  int stop_after_infos = -1;
};

std::string Write(const TMimeMessage& m, Collector* c = nullptr) {
  Collector local;
  Collector& sink = c != nullptr ? *c : local;
  WriteMimeMessage(m, sink);
  return sink.wire;
}

TMimeMessage Basic() {
  TMimeMessage m;
  m.FROM_Name = "Jim Kirk";
  m.FROM_Address = "jim@example.com";
  m.ListTo = {"support@example.com|Support - Trevane Software"};
  m.Subject = "Incident Report";
  m.MailText = {"Reported By: Jim", "Keywords:crash"};
  return m;
}

TEST(MimeWriter, APlainMessageIsHeadersTextAndTheEmptyLines) {
  EXPECT_EQ(Write(Basic()),
            "From: Jim Kirk <jim@example.com>\r\n"
            "To: Support - Trevane Software <support@example.com>\r\n"
            "Subject: Incident Report  \r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "\r\n"
            "Reported By: Jim\r\nKeywords:crash\r\n");
}

TEST(MimeWriter, AnEmptyMessageStillEndsWithTheEmptyLineAfterTheHeaders) {
  TMimeMessage m;
  m.FROM_Address = "a@b.c";
  m.ListTo = {"x@y.z"};
  EXPECT_EQ(Write(m),
            "From:  <a@b.c>\r\n"
            "To: x@y.z\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "\r\n"
            "\r\n");
}

TEST(MimeWriter, RecipientsAreOneFieldEachCcHeaderButNoBcc) {
  TMimeMessage m = Basic();
  m.ListTo = {"a@x.org|Alice", "b@x.org", "c@x.org|Smith, John"};
  m.Listcc = {"d@x.org|M\xfcller", "e@x.org"};
  const std::string wire = Write(m);
  EXPECT_NE(wire.find("To: Alice <a@x.org>,\r\n b@x.org,\r\n \"Smith, John\" <c@x.org>\r\n"), std::string::npos)
      << wire;
  EXPECT_NE(wire.find("cc: =?ISO-8859-1?Q?M=FCller?= <d@x.org>,\r\n e@x.org\r\n"), std::string::npos) << wire;
}

TEST(MimeWriter, EncodedWordsAndDisplayNames) {
  const std::pair<std::string, std::string> words[] = {
      {"Hello world", "Hello world"},
      {"Gr\xfc\xdf\x65 aus K\xf6ln", "=?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?="},
      {"a_b?c=d \xe9", "=?ISO-8859-1?Q?a=5Fb=3Fc=3Dd_=E9?="},
      {"line\r\nBcc: x@y", "=?ISO-8859-1?Q?line=0D=0ABcc:_x@y?="},
      {"tab\there", "=?ISO-8859-1?Q?tab=09here?="},
  };
  for (const auto& [in, out] : words) EXPECT_EQ(EncodedWord(in), out) << in;
  const std::pair<std::string, std::string> names[] = {
      {"Jim Kirk", "Jim Kirk"},
      {"Smith, John", "\"Smith, John\""},
      {"a \"quoted\" \\ name", "\"a \\\"quoted\\\" \\\\ name\""},
      {"<evil>", "\"<evil>\""},
      {"M\xfcller, Hans", "=?ISO-8859-1?Q?M=FCller=2C_Hans?="},
      {"x\r\nBcc: y@z", "=?ISO-8859-1?Q?x=0D=0ABcc=3A_y=40z?="},
  };
  for (const auto& [in, out] : names) EXPECT_EQ(DisplayName(in), out) << in;
}

TEST(MimeWriter, HeaderLinesEncodeTheirValueOnly) {
  const std::pair<std::string, std::string> lines[] = {
      {"Subject: Gr\xfc\xdf\x65", "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=  "},
      {"Subject: plain", "Subject: plain  "},
      {"X-Priority:1", "X-Priority:1"},
      {"X-Note: a: b", "X-Note: a: b  "},
  };
  for (const auto& [in, out] : lines) EXPECT_EQ(EncodeHeaderLine(in), out) << in;
}

// The lines of a folded field, and the field unfolded again (RFC 5322 section 2.2.3).
std::vector<std::string> Lines(const std::string& folded) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = folded.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(folded.substr(at, end - at));
  lines.push_back(folded.substr(at));
  return lines;
}
std::string Unfolded(const std::string& folded) {
  std::string out;
  for (const std::string& line : Lines(folded)) out += line;
  return out;
}

TEST(MimeWriter, FoldingBreaksOnlyBeforeBlanksOutsideQuotes) {
  const std::string words =
      "Subject: " + std::string(60, 'a') + " " + std::string(60, 'b') + " " + std::string(60, 'c');
  const std::string quoted = "From: \"" + std::string(50, 'q') + " " + std::string(50, 'r') + "\" <a@x.org>";
  const std::string encoded = "Subject: " + EncodedWord(std::string(100, '\xe4') + " end");
  const struct {
    std::string field;
    std::vector<std::string> lines;  // empty: only the general rules are checked
  } cases[] = {
      {"Subject: short  ", {"Subject: short  "}},
      {words, {"Subject: " + std::string(60, 'a'), " " + std::string(60, 'b'), " " + std::string(60, 'c')}},
      // Trailing blanks never become a line of their own.
      {"X: " + std::string(76, 'x') + "  ", {"X:", " " + std::string(76, 'x') + "  "}},
      // One long run cannot be folded, only moved off the name.
      {"X-Long: " + std::string(300, 'L'), {"X-Long:", " " + std::string(300, 'L')}},
      {quoted, {"From:", " \"" + std::string(50, 'q') + " " + std::string(50, 'r') + "\"", " <a@x.org>"}},
      {encoded, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field.substr(0, 40));
    const std::string folded = FoldHeader(c.field);
    EXPECT_EQ(Unfolded(folded), c.field);
    if (!c.lines.empty()) {
      EXPECT_EQ(Lines(folded), c.lines);
    }
    for (const std::string& line : Lines(folded)) {
      EXPECT_NE(line.find_first_not_of(" \t"), std::string::npos) << "a line of blanks only";
      // An encoded word is never split across lines.
      EXPECT_EQ(std::count(line.begin(), line.end(), '?') % 4, 0) << line;
    }
  }
  for (const std::string& line : Lines(FoldHeader(encoded))) EXPECT_LE(line.size(), 78u) << line;
}

TEST(MimeWriter, LongEncodedValuesBecomeSeveralWordsOfAtMost75) {
  const std::string text = std::string(40, '\xfc') + " and _?= " + std::string(100, 'z');
  const std::string words = EncodedWord(text);
  std::string decoded;
  std::size_t count = 0;
  for (std::size_t at = 0; at < words.size();) {
    std::size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    const std::string word = words.substr(at, end - at);
    ++count;
    EXPECT_LE(word.size(), 75u) << word;
    ASSERT_EQ(word.substr(0, 15), "=?ISO-8859-1?Q?");
    ASSERT_EQ(word.substr(word.size() - 2), "?=");
    const std::string body = word.substr(15, word.size() - 17);
    for (std::size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '_') {
        decoded += ' ';
      } else if (body[i] == '=') {
        ASSERT_LE(i + 2, body.size() - 1) << "a =XX split between words";
        decoded += static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        decoded += body[i];
      }
    }
    at = end + 1;
  }
  EXPECT_EQ(decoded, text);
  EXPECT_GT(count, 3u);
  // A plain value stays as it is unless no folded line could hold it.
  EXPECT_EQ(EncodedWord(std::string(300, 'a')), std::string(300, 'a'));
  EXPECT_EQ(EncodedWord(std::string(1000, 'a')).substr(0, 15), "=?ISO-8859-1?Q?");
}

TEST(MimeWriter, ParametersUseRfc2231ForEightBitAndLongValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"report.txt", "filename=\"report.txt\""},
      {"a \"b\".txt", "filename=\"a \\\"b\\\".txt\""},
      {"M\xe4rz 1.txt", "filename*=ISO-8859-1''M%E4rz%201.txt"},
      {"x\r\ny.txt", "filename=\"x__y.txt\""},
      {std::string(70, 'f'),
       "filename*0=\"" + std::string(60, 'f') + "\"; filename*1=\"" + std::string(10, 'f') + "\""},
      {std::string(20, '\xe9'),
       "filename*0*=ISO-8859-1''%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9%E9; "
       "filename*1*=%E9%E9%E9%E9"},
  };
  for (const auto& [value, parameter] : cases) EXPECT_EQ(MimeParameter("filename", value), parameter) << value;
}

TEST(MimeWriter, DateAndMessageIdFollowTheSubjectUnlessTheHeadersGiveThem) {
  TMimeMessage m = Basic();
  m.Date = "Fri, 11 Dec 2026 16:41:10 +0000";
  m.MessageId = "<1@example.com>";
  std::string wire = Write(m);
  EXPECT_NE(wire.find("Subject: Incident Report  \r\nDate: Fri, 11 Dec 2026 16:41:10 +0000\r\n"
                      "Message-ID: <1@example.com>\r\nMime-Version: 1.0\r\n"),
            std::string::npos)
      << wire;
  m.Headers = {"date: Mon, 1 Jun 2026 10:00:00 +0200", "Message-Id: <given@example.com>"};
  wire = Write(m);
  EXPECT_EQ(wire.find("Date: Fri"), std::string::npos);
  EXPECT_EQ(wire.find("<1@example.com>"), std::string::npos);
  EXPECT_NE(wire.find("\r\nMessage-Id: <given@example.com>  \r\n"), std::string::npos) << wire;

  // RFC 5322's date-time: day, date, time and the zone's offset.
  const std::string date = RfcDate(0);
  EXPECT_TRUE(date.size() == 31 || date.size() == 30) << date;
  EXPECT_NE(date.find(" 1970 "), std::string::npos) << date;
  EXPECT_TRUE(date[date.size() - 5] == '+' || date[date.size() - 5] == '-') << date;
  EXPECT_NE(NewMessageId("a@example.com"), NewMessageId("a@example.com"));
  const std::string id = NewMessageId("no domain");
  EXPECT_EQ(id.front(), '<');
  EXPECT_EQ(id.back(), '>');
  EXPECT_EQ(id.find(' '), std::string::npos) << id;
}

TEST(MimeWriter, TextEncodingFollowsItsBytesAndLineLengths) {
  struct Case {
    TStringList text;
    const char* type_lines;
  };
  const Case cases[] = {
      {{"plain ascii"}, "Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\n"},
      {{"one\ttab"},
       "Content-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"},
      {{"Stra\xdf\x65"},
       "Content-Type: text/plain; charset=\"ISO-8859-1\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"},
      {{std::string(998, 'a')}, "Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\n"},
      {{std::string(999, 'a')},
       "Content-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"},
  };
  for (const Case& c : cases) {
    TMimeMessage m = Basic();
    m.MailText = c.text;
    const std::string wire = Write(m);
    EXPECT_NE(wire.find(std::string("Mime-Version: 1.0\r\n") + c.type_lines), std::string::npos)
        << c.text[0].substr(0, 20);
  }
}

TEST(MimeWriter, QuotedPrintableMakesSoftBrokenLinesOf71To73) {
  TQuotedPrintable qp;
  EXPECT_EQ(qp.Encode("a=b c\t\r\n\xfc~"), "a=3Db=20c=09=0D=0A=FC~");
  qp.Reset();
  const std::string encoded = qp.Encode(std::string(100, 'x') + std::string(30, '\xff') + std::string(100, 'y'));
  std::size_t at = 0;
  int lines = 0;
  while (true) {
    const std::size_t end = encoded.find("=\r\n", at);
    if (end == std::string::npos) break;
    const std::size_t length = end - at;
    EXPECT_GE(length, 71u);
    EXPECT_LE(length, 73u);
    at = end + 3;
    ++lines;
  }
  EXPECT_GT(lines, 2);
}

TEST(MimeWriter, TheTextGoesInBlocksOf2048WithProgress) {
  TMimeMessage m = Basic();
  m.MailText = {std::string(5000, 'q')};
  Collector c;
  Write(m, &c);
  const std::vector<std::pair<int, std::string>> expected = {{10, "5000"}, {11, "2048"}, {11, "4096"}, {11, "5000"}};
  EXPECT_EQ(c.infos, expected);
}

TEST(MimeWriter, FedDataGoesBeforeTheTextWithItsRunningTotal) {
  TMimeMessage m = Basic();
  Collector c;
  c.no_feed_handler = false;
  c.feed = {"fed one\r\n", ".hidden\r\n"};
  const std::string wire = Write(m, &c);
  EXPECT_NE(wire.find("\r\n\r\nfed one\r\n..hidden\r\nReported By"), std::string::npos) << wire;
  EXPECT_EQ(c.infos[0], (std::pair<int, std::string>{11, "9"}));
  EXPECT_EQ(c.infos[1], (std::pair<int, std::string>{11, "18"}));
}

TEST(SmtpData, EveryLineEndsInCrLfAndLeadingDotsAreDoubled) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"a\rb\nc\r\nd"}, "a\r\nb\r\nc\r\nd"},
      {{"a\r", "\nb"}, "a\r\nb"},
      {{"a\r", "\r\n"}, "a\r\n\r\n"},
      {{".\r\n"}, "..\r\n"},
      {{"x\n.\n..\n"}, "x\r\n..\r\n...\r\n"},
      {{"x\r", ".y"}, "x\r\n..y"},
      {{"a.b"}, "a.b"},
      {{"\n\r"}, "\r\n\r\n"},
  };
  for (const auto& [pieces, wire] : cases) {
    TSmtpDataWriter w;
    std::string out;
    for (const std::string& p : pieces) out += w.Encode(p);
    EXPECT_EQ(out, wire) << pieces[0];
  }
  TSmtpDataWriter w;
  EXPECT_EQ(w.Encode("no end"), "no end");
  EXPECT_EQ(w.Finish(), "\r\n.\r\n");
  EXPECT_EQ(w.Finish(), ".\r\n");
}

class AttachmentTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.PathOf(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  kavrin::testing::TempDir dir_;
};

TEST_F(AttachmentTest, WithoutSettingsAFileGoesBase64AsOctetStream) {
  TMimeMessage m = Basic();
  m.MailText = {"see file"};
  std::string bytes;
  for (int i = 0; i < 58; ++i) bytes += static_cast<char>(i * 7);
  m.Attachments = {File("data.bin", bytes)};
  Collector c;
  const std::string wire = Write(m, &c);
  const std::string b = "==============ghyurgtfy573======___";
  EXPECT_EQ(wire.substr(wire.find("Mime-Version")),
            "Mime-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"" +
                b +
                "\"\r\n"
                "\r\n"
                "--" +
                b +
                "\r\n"
                "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
                "\r\n"
                "see file\r\n"
                "--" +
                b +
                "\r\n"
                "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                "Content-Transfer-Encoding: base64\r\n"
                "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                "\r\n"
                "AAcOFRwjKjE4P0ZNVFtiaXB3foWMk5qhqK+2vcTL0tng5+71/AMKERgfJi00O0JJUFdeZWxzeoGI\r\n"
                "jw==\r\n"
                "--" +
                b +
                "--\r\n"
                "\r\n");
  const std::vector<std::pair<int, std::string>> infos = {{10, "8"}, {11, "8"}, {5, m.Attachments[0]},
                                                          {6, "58"}, {7, "57"}, {7, "60"}};
  EXPECT_EQ(c.infos, infos);
}

TEST_F(AttachmentTest, UUEncodedPartsAreNamedUueAndEndWithTheZeroLine) {
  const std::pair<std::string, std::string> names[] = {
      {"report.TXT", "report.uue"}, {"README", "README.uue"}, {"a.b.c", "a.b.uue"}};
  for (const auto& [in, out] : names) EXPECT_EQ(UUName(in), out);
  TMimeMessage m = Basic();
  m.Attachments = {File("report.TXT", "Cat")};
  TAttachmentSettings s;
  s.Encoding = TAttachEncoding::UUEncode;
  m.Settings[1] = s;
  const std::string wire = Write(m);
  EXPECT_NE(wire.find("Content-Type: application/octet-stream; name=\"report.uue\"\r\n"
                      "Content-Disposition: attachment; filename=\"report.uue\"\r\n"
                      "\r\n" +
                      std::string(61, '=') +
                      "\r\n"
                      "begin 666 report.TXT\r\n"
                      "#0V%T\r\n"
                      "`\r\n"
                      "end\r\n"),
            std::string::npos)
      << wire;
  EXPECT_EQ(UULine(std::string(45, '\0')), "M" + std::string(60, ' '));
}

TEST_F(AttachmentTest, SettingsChooseEncodingTypeDispositionAndDescription) {
  TMimeMessage m = Basic();
  m.Attachments = {File("notes.txt", "line one\nline two\n"), File("bin.dat", "\x01\x80\xff"), File("q.txt", "a=b")};
  TAttachmentSettings automatic;
  automatic.Description = "Notes \xfc";
  m.Settings[1] = automatic;
  m.Settings[2] = TAttachmentSettings{};
  TAttachmentSettings qp;
  qp.Encoding = TAttachEncoding::QuotedPrintable;
  qp.Name = "Shown.txt";
  qp.Disposition = "inline";
  m.Settings[3] = qp;
  const std::string wire = Write(m);
  EXPECT_NE(wire.find("Content-Type: text/plain; name=\"notes.txt\"\r\n"
                      "Content-Disposition: attachment; filename=\"notes.txt\"\r\n"
                      "Content-Description: =?ISO-8859-1?Q?Notes_=FC?=\r\n\r\n"
                      "line one\r\nline two\r\n\r\n--"),
            std::string::npos)
      << wire;
  EXPECT_NE(wire.find("Content-Type: application/octet-stream; name=\"bin.dat\"\r\n"
                      "Content-Transfer-Encoding: base64\r\n"),
            std::string::npos);
  EXPECT_NE(wire.find("Content-Type: text/plain; name=\"Shown.txt\"\r\n"
                      "Content-Transfer-Encoding: Quoted-Printable\r\n"
                      "Content-Disposition: inline; filename=\"q.txt\"\r\n\r\n"
                      "a=3Db\r\n--"),
            std::string::npos)
      << wire;
}

TEST_F(AttachmentTest, AnUnreadableFileIsReportedAndLeavesNoPart) {
  TMimeMessage m = Basic();
  const std::string missing = dir_.PathOf("missing.bin");
  const std::string directory = dir_.Path();
  m.Attachments = {missing, directory, File("ok.bin", "ok")};
  Collector c;
  const std::string wire = Write(m, &c);
  EXPECT_EQ(wire.find("missing.bin"), std::string::npos);
  EXPECT_NE(wire.find("name=\"ok.bin\""), std::string::npos);
  std::vector<std::string> failed;
  for (const auto& [code, text] : c.infos)
    if (code == 12) failed.push_back(text);
  EXPECT_EQ(failed, (std::vector<std::string>{missing, directory}));
  EXPECT_EQ(wire.substr(wire.size() - 43), "--==============ghyurgtfy573======___--\r\n\r\n");
}

TEST_F(AttachmentTest, AttachmentNamesNeverBreakTheHeader) {
  TMimeMessage m = Basic();
  m.Attachments = {File("we\"ird\rname.bin", "x")};
  const std::string wire = Write(m);
  EXPECT_NE(wire.find("name=\"we\\\"ird_name.bin\""), std::string::npos) << wire;
}

TEST(MimeWriter, StoppingEndsTheWritingAtOnce) {
  TMimeMessage m = Basic();
  m.MailText = {std::string(10000, 'Z')};
  Collector c;
  c.stop_after_infos = 2;  // after the size and the first block
  const std::string wire = Write(m, &c);
  EXPECT_EQ(c.infos.size(), 2u);
  EXPECT_EQ(std::count(wire.begin(), wire.end(), 'Z'), 2048);
}

}  // namespace
}  // namespace kavrin::support
