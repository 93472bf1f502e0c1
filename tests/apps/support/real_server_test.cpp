// SendMail against a real SMTP server (aiosmtpd), the messages read back with Python's email reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "apps/support/Inetmail.h"
#include "tests/apps/support/mail_test_support.h"
#include "tests/apps/support/smtp_server_process.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::support {
namespace {

using testing::ServerMessage;
using testing::SmtpServerProcess;

class RealServerTest : public MailTestBase {
 protected:
  static void SetUpTestSuite() {
    dir_ = new kavrin::testing::TempDir;
    server_ = new SmtpServerProcess(dir_->Path());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete dir_;
  }
  void SetUp() override {
    MailTestBase::SetUp();
    ASSERT_NE(server_->Port(), 0) << "the aiosmtpd test server did not start";
    Record(mail_);
    mail_.SetSMTP_Server("127.0.0.1");
    mail_.SMTP_Port = server_->Port();
    mail_.FROM_Name = "Jim Kirk";
    mail_.FROM_Address = "jim@example.com";
    mail_.TO_Name = "Support - Trevane Software";
    mail_.TO_Address = "support@example.com";
    mail_.Subject = "Incident Report";
  }

  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = files_.PathOf(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // Sends the message and returns what the server took.
  ServerMessage Send() {
    const int before = server_->Count();
    done_ = 0;
    mail_.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone());
    EXPECT_TRUE(mail_.MessageSent);
    EXPECT_EQ(mail_.LastMailError, 0);
    EXPECT_EQ(done_, 1);
    EXPECT_EQ(server_->Count(), before + 1);
    auto m = server_->Message(before + 1);
    EXPECT_TRUE(m.has_value());
    if (!m) return {};
    EXPECT_EQ(m->First("defects"), "0") << m->First("data");
    return *m;
  }

  // The server's records, shortened, for failure messages.
  static std::string Dump(const ServerMessage& m) {
    std::string out;
    for (const auto& r : m.records) {
      for (const std::string& f : r) out += f.substr(0, 120) + " | ";
      out += "\n";
    }
    return out;
  }
  static std::string Body(const ServerMessage& m) {
    const std::string data = m.First("data");
    return data.substr(data.find("\r\n\r\n") + 4);
  }
  static std::vector<std::string> Parts(const ServerMessage& m, std::size_t field) {
    std::vector<std::string> out;
    for (const auto& p : m.All("part")) out.push_back(p.at(field));
    return out;
  }

  static kavrin::testing::TempDir* dir_;
  static SmtpServerProcess* server_;
  kavrin::testing::TempDir files_;
  SendMail mail_;
};

kavrin::testing::TempDir* RealServerTest::dir_ = nullptr;
SmtpServerProcess* RealServerTest::server_ = nullptr;

TEST_F(RealServerTest, AnAsciiMessageArrivesByteForByte) {
  mail_.MailText = {"Reported By: Jim", "", "Keywords:crash"};
  const ServerMessage m = Send();
  EXPECT_EQ(m.First("helo"), HostName());
  EXPECT_EQ(m.First("mail_from"), "jim@example.com");
  EXPECT_EQ(m.All("rcpt"), (std::vector<std::vector<std::string>>{{"support@example.com"}}));
  EXPECT_EQ(Masked(m.First("data")),
            "From: Jim Kirk <jim@example.com>\r\n"
            "To: Support - Trevane Software <support@example.com>\r\n"
            "Subject: Incident Report  \r\n"
            "Date: *\r\n"
            "Message-ID: *\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "\r\n"
            "Reported By: Jim\r\n\r\nKeywords:crash\r\n");
  EXPECT_EQ(Parts(m, 2), (std::vector<std::string>{"Reported By: Jim\r\n\r\nKeywords:crash\r\n"}));
}

TEST_F(RealServerTest, TabsEightBitAndLongLinesComeBackThroughQuotedPrintable) {
  const std::vector<TStringList> texts = {
      {"with\ta tab", "and trailing blank "},
      {"Gr\xfc\xdf\x65 aus K\xf6ln", "=3D is not a code"},
      {std::string(3000, 'x') + "y", "short"},
  };
  for (const TStringList& text : texts) {
    mail_.MailText = text;
    const ServerMessage m = Send();
    const std::string joined = JoinLines(text);
    const std::string part = Parts(m, 2).at(0);
    // The text's own line ends travel encoded; the one line end behind the text is the writer's.
    EXPECT_EQ(part.substr(0, joined.size()), joined);
    EXPECT_LE(part.size(), joined.size() + 2);
    EXPECT_NE(m.First("data").find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    const bool eight = HasEightBit(joined);
    EXPECT_NE(m.First("data").find(eight ? "charset=\"ISO-8859-1\"" : "charset=\"us-ascii\""), std::string::npos);
  }
}

TEST_F(RealServerTest, DotLinesAtEveryBlockBoundaryAndALoneDotStayText) {
  // Lines whose starts fall on 2048 and 4096, a CR LF split across a block boundary, and a lone ".".
  TStringList text;
  std::string joined;
  auto add = [&](const std::string& line) {
    text.push_back(line);
    joined = JoinLines(text);
  };
  // Lines of filler, none over 998, so that the next line starts at offset start.
  auto fill_to = [&](std::size_t start, char c) {
    while (joined.size() + 4 < start) add(std::string(std::min<std::size_t>(998, start - joined.size() - 4), c));
  };
  fill_to(2048, 'a');
  add(".second block");
  fill_to(4097, 'b');  // the line end before the next line is CR at 4095, LF at 4096
  add(".");
  add("..two dots");
  add(".");
  add("end");
  ASSERT_EQ(joined.substr(2048, 2), ".s");
  ASSERT_EQ(joined.substr(4095, 3), "\r\n.");
  ASSERT_FALSE(TextNeedsQuotedPrintable(joined));
  mail_.MailText = text;
  const ServerMessage m = Send();
  EXPECT_EQ(Body(m), joined + "\r\n");
  EXPECT_EQ(Parts(m, 2).at(0), joined + "\r\n");
}

TEST_F(RealServerTest, CcAndBccReachTheServerButBccStaysOutOfTheHeader) {
  mail_.ListTo = {"second@example.com|Second, Person"};
  mail_.Listcc = {"carol@example.com|Carol M\xfcller", "dave@example.com"};
  mail_.ListBcc = {"hidden@example.com"};
  const ServerMessage m = Send();
  EXPECT_EQ(m.All("rcpt"), (std::vector<std::vector<std::string>>{{"support@example.com"},
                                                                  {"second@example.com"},
                                                                  {"carol@example.com"},
                                                                  {"dave@example.com"},
                                                                  {"hidden@example.com"}}));
  EXPECT_EQ(m.All("address"), (std::vector<std::vector<std::string>>{
                                  {"From", "Jim Kirk", "jim@example.com"},
                                  {"To", "Support - Trevane Software", "support@example.com"},
                                  {"To", "Second, Person", "second@example.com"},
                                  {"cc", "Carol M\xfcller", "carol@example.com"},
                                  {"cc", "", "dave@example.com"},
                              }));
  EXPECT_EQ(m.First("data").find("hidden"), std::string::npos);
  EXPECT_EQ(mail_.ListTo.size(), 1u) << "the caller's list is left as it was";
}

TEST_F(RealServerTest, FedDataGoesBeforeTheText) {
  int calls = 0;
  mail_.OnFeedData = [&calls](SendMail*, std::string& data) {
    ++calls;
    if (calls == 1) data = "Fed line one\r\n.fed dot line\r\n";
    if (calls == 2) data = "Fed line two\r\n";
  };
  mail_.MailText = {"The text"};
  const ServerMessage m = Send();
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(Body(m), "Fed line one\r\n.fed dot line\r\nFed line two\r\nThe text\r\n");
}

TEST_F(RealServerTest, EveryAttachmentEncodingDecodesBackToTheFile) {
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 131 + i / 7) & 0xFF);
  const std::string text = "first line\r\nsecond = line\r\n.dot line\r\n";
  const std::string latin = "Stra\xdf\x65 = street\r\n" + std::string(200, 'q') + "\r\n";
  mail_.MailText = {"See the files."};
  mail_.Attachments = {File("default.bin", binary), File("auto.txt", text), File("latin.txt", latin),
                       File("data.BIN", binary), File("exact.bin", std::string(57, 'e'))};
  TAttachmentSettings automatic;
  TAttachmentSettings qp;
  qp.Encoding = TAttachEncoding::QuotedPrintable;
  TAttachmentSettings uu;
  uu.Encoding = TAttachEncoding::UUEncode;
  ASSERT_TRUE(mail_.SetAttachmentSettings(2, automatic));
  ASSERT_TRUE(mail_.SetAttachmentSettings(3, qp));
  ASSERT_TRUE(mail_.SetAttachmentSettings(4, uu));
  const ServerMessage m = Send();
  const auto parts = m.All("part");
  ASSERT_EQ(parts.size(), 6u) << Dump(m);
  EXPECT_EQ(parts[0][0], "text/plain");
  EXPECT_EQ(parts[0][2], "See the files.");
  EXPECT_EQ(parts[1], (std::vector<std::string>{"application/octet-stream", "default.bin", binary}));
  EXPECT_EQ(parts[2], (std::vector<std::string>{"text/plain", "auto.txt", text}));
  EXPECT_EQ(parts[3], (std::vector<std::string>{"text/plain", "latin.txt", latin}));
  EXPECT_EQ(parts[4][1], "data.uue");
  EXPECT_EQ(m.All("uu"), (std::vector<std::vector<std::string>>{{"data.BIN", binary}}));
  EXPECT_EQ(parts[5], (std::vector<std::string>{"application/octet-stream", "exact.bin", std::string(57, 'e')}));
}

TEST_F(RealServerTest, AnUnreadableAttachmentIsReportedAndTheRestIsSent) {
  mail_.MailText = {"Two files, one missing."};
  const std::string missing = files_.PathOf("missing.bin");
  mail_.Attachments = {missing, File("here.bin", "present")};
  const ServerMessage m = Send();
  EXPECT_NE(std::find(events_.begin(), events_.end(), "info 12 " + missing), events_.end());
  EXPECT_EQ(Parts(m, 1), (std::vector<std::string>{"", "here.bin"}));
  EXPECT_EQ(Parts(m, 2).at(1), "present");
}

// Every header line within RFC 5322's 998 characters, nothing above 126 anywhere in the message.
void ExpectSevenBitFoldedHeader(const std::string& data) {
  const std::string header = data.substr(0, data.find("\r\n\r\n") + 2);
  for (std::size_t at = 0, end; (end = header.find("\r\n", at)) != std::string::npos; at = end + 2)
    EXPECT_LE(end - at, 998u) << header.substr(at, 80);
  EXPECT_FALSE(HasEightBit(data)) << header;
}

TEST_F(RealServerTest, DateAndMessageIdComeWithEveryMessage) {
  const std::time_t before = std::time(nullptr);
  const ServerMessage first = Send();
  const ServerMessage second = Send();
  for (const ServerMessage* m : {&first, &second}) {
    ASSERT_FALSE(m->First("date").empty()) << Dump(*m);
    const long long moment = std::stoll(m->First("date"));
    EXPECT_GE(moment, before);
    EXPECT_LE(moment, std::time(nullptr));
  }
  const auto id = [](const ServerMessage& m) {
    for (const auto& header : m.All("header"))
      if (header.at(0) == "Message-ID") return header.at(1);
    return std::string();
  };
  EXPECT_NE(id(first), "");
  EXPECT_EQ(id(first).find("@example.com>"), id(first).size() - 13) << id(first);
  EXPECT_NE(id(first), id(second));
  // A Date the caller gives is the only one.
  mail_.Headers = {"Date: Mon, 1 Jun 2026 10:00:00 +0200"};
  const ServerMessage given = Send();
  EXPECT_EQ(given.All("date"), (std::vector<std::vector<std::string>>{{"1780300800"}}));
}

TEST_F(RealServerTest, LongHeadersFoldAndEightBitNamesAreEncoded) {
  std::string long_words;
  for (int i = 0; i < 40; ++i) long_words += "Wort" + std::to_string(i) + " \xfc\xdf ";
  long_words += "Ende";
  const std::string long_name = std::string(120, 'N') + " " + std::string(100, 'M') + ", Jr.";
  const std::string umlaut_file =
      "Pr\xfc\x66"
      "bericht M\xe4rz \"1\".txt";
  const std::string long_file = std::string(200, 'f') + ".log";
  struct Case {
    const char* what;
    std::string from_name, subject, header, file;
  };
  const Case cases[] = {
      {"an 8-bit subject of 400 characters", "Jim Kirk", long_words, "", ""},
      {"a From name of 230 characters", long_name, "Incident Report", "", ""},
      {"an 8-bit From name", "M\xfcller " + long_words, "Incident Report", "", ""},
      {"a header value without blanks", "Jim Kirk", "Incident Report", "X-Long: " + std::string(300, 'L'), ""},
      {"an 8-bit attachment name", "Jim Kirk", "Incident Report", "", umlaut_file},
      {"a long attachment name", "Jim Kirk", "Incident Report", "", long_file},
      {"a long 8-bit attachment name", "Jim Kirk", "Incident Report", "", "\xe9" + long_file},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mail_.FROM_Name = c.from_name;
    mail_.Subject = c.subject;
    mail_.TO_Address = "support@example.com";
    mail_.Headers = c.header.empty() ? TStringList{} : TStringList{c.header};
    mail_.Attachments = c.file.empty() ? TStringList{} : TStringList{File(c.file, "attached")};
    mail_.MailText = {"body"};
    const ServerMessage m = Send();
    ExpectSevenBitFoldedHeader(m.First("data"));
    EXPECT_EQ(m.All("address").at(0), (std::vector<std::string>{"From", c.from_name, "jim@example.com"})) << Dump(m);
    bool subject_seen = false;
    for (const auto& header : m.All("header")) {
      if (header.at(0) != "Subject") continue;
      subject_seen = true;
      EXPECT_EQ(header.at(1).substr(0, c.subject.size()), c.subject);
    }
    EXPECT_TRUE(subject_seen);
    if (!c.header.empty()) {
      std::string unfolded = m.First("data");
      for (std::size_t at; (at = unfolded.find("\r\n ")) != std::string::npos;) unfolded.erase(at, 2);
      EXPECT_NE(unfolded.find("\r\n" + c.header + "  \r\n"), std::string::npos);
    }
    if (!c.file.empty()) {
      EXPECT_EQ(Parts(m, 1), (std::vector<std::string>{"", c.file}));
      EXPECT_EQ(Parts(m, 2).at(1), "attached");
    }
  }
}

TEST_F(RealServerTest, ContentThatLooksLikeHeadersOrCommandsStaysWhereItWasPut) {
  struct Case {
    const char* what;
    std::string from_name, to_name, subject, header;
    TStringList text;
  };
  const Case cases[] = {
      {"name", "Jim\r\nBcc: evil@example.com", "Support\r\nX-Injected: yes", "Incident Report", "", {"body"}},
      {"subject", "Jim Kirk", "Support", "Report\r\nBcc: evil@example.com\r\n\r\nfake body", "", {"body"}},
      {"header value", "Jim Kirk", "Support", "Incident Report", "X-Note: a\r\nBcc: evil@example.com", {"body"}},
      {"body",
       "Jim Kirk",
       "Support",
       "Incident Report",
       "",
       {"line", ".", "QUIT", "RSET", "MAIL FROM:<evil@example.com>", ".\r\nRCPT TO:<evil@example.com>", "\n.\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mail_.FROM_Name = c.from_name;
    mail_.TO_Name = c.to_name;
    mail_.Subject = c.subject;
    mail_.TO_Address = "support@example.com";
    mail_.Headers = c.header.empty() ? TStringList{} : TStringList{c.header};
    mail_.MailText = c.text;
    const ServerMessage m = Send();
    EXPECT_EQ(m.All("rcpt"), (std::vector<std::vector<std::string>>{{"support@example.com"}}));
    ASSERT_GE(m.All("header").size(), 3u) << Dump(m);
    for (const auto& header : m.All("header")) {
      EXPECT_NE(header[0], "Bcc");
      EXPECT_NE(header[0], "X-Injected");
    }
    EXPECT_EQ(m.All("address").at(0), (std::vector<std::string>{"From", c.from_name, "jim@example.com"}));
    EXPECT_EQ(m.All("address").at(1), (std::vector<std::string>{"To", c.to_name, "support@example.com"}));
    EXPECT_EQ(m.All("header").back(), (std::vector<std::string>{"Subject", c.subject + "  "}));
    // Bare line ends in the text arrive as CR LF; nothing else changes.
    std::string expected;
    const std::string joined = JoinLines(c.text);
    for (std::size_t i = 0; i < joined.size(); ++i) {
      if (joined[i] == '\n' && (i == 0 || joined[i - 1] != '\r')) expected += '\r';
      expected += joined[i];
    }
    EXPECT_EQ(Parts(m, 2).at(0), expected + "\r\n");
  }
}

TEST_F(RealServerTest, BadAddressesAndHeaderLinesAreRefusedBeforeConnecting) {
  struct Case {
    const char* what;
    std::string from, to;
    TStringList list_to, list_cc, list_bcc, headers;
  };
  const Case cases[] = {
      {"FROM with CR LF", "jim@example.com>\r\nRCPT TO:<evil@example.com", "support@example.com", {}, {}, {}, {}},
      {"TO with a blank", "jim@example.com", "support@example.com evil@example.com", {}, {}, {}, {}},
      {"TO with <", "jim@example.com", "<support@example.com>", {}, {}, {}, {}},
      {"ListTo line", "jim@example.com", "support@example.com", {"a@example.com\r\nDATA|x"}, {}, {}, {}},
      {"Listcc line", "jim@example.com", "support@example.com", {}, {"c@example.com\n"}, {}, {}},
      {"ListBcc line", "jim@example.com", "support@example.com", {}, {}, {"b@example.com\tx"}, {}},
      {"empty list line", "jim@example.com", "support@example.com", {""}, {}, {}, {}},
      {"Headers name with CR LF", "jim@example.com", "support@example.com", {}, {}, {}, {"X-A\r\nBcc: x@y.z: v"}},
      {"Headers line without a name", "jim@example.com", "support@example.com", {}, {}, {}, {" continuation"}},
      {"Headers line without colon", "jim@example.com", "support@example.com", {}, {}, {}, {"just words"}},
      // A comma splits the header's address list; RFC 5321 and 5322 carry no byte above 126.
      {"TO with a comma", "jim@example.com", "support@example.com,evil@example.com", {}, {}, {}, {}},
      {"ListTo line with a comma",
       "jim@example.com",
       "support@example.com",
       {"a@example.com,b@example.com|A"},
       {},
       {},
       {}},
      {"FROM with 8-bit bytes", "j\xfcrgen@example.com", "support@example.com", {}, {}, {}, {}},
      {"Listcc line with 8-bit bytes", "jim@example.com", "support@example.com", {}, {"m\xfcller@example.com"}, {}, {}},
      {"TO too long for a command line", "jim@example.com", std::string(230, 'a') + "@example.com", {}, {}, {}, {}},
  };
  const int before = server_->Count();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    events_.clear();
    done_ = 0;
    mail_.FROM_Address = c.from;
    mail_.TO_Address = c.to;
    mail_.ListTo = c.list_to;
    mail_.Listcc = c.list_cc;
    mail_.ListBcc = c.list_bcc;
    mail_.Headers = c.headers;
    mail_.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone());
    EXPECT_EQ(events_, (std::vector<std::string>{"error 18 Mail Destination Error", "done"}));
    EXPECT_EQ(mail_.LastMailError, 18);
    EXPECT_FALSE(mail_.HasSocket());
  }
  EXPECT_EQ(server_->Count(), before);
}

}  // namespace
}  // namespace kavrin::support
