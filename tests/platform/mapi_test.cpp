#include "platform/mapi.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "tests/helpers/temp_dir.h"

namespace kavrin::platform {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Sets or clears an environment variable for one test, and puts it back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class MapiTest : public ::testing::Test {
 protected:
  // A stand-in mail program: records its arguments, one a line, and its input, then exits with code.
  std::string FakeProgram(const std::string& name, int code) {
    const std::string path = dir_.PathOf(name);
    std::ofstream(path) << "#!/bin/sh\n"
                        << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << dir_.PathOf("args") << "'\n"
                        << "cat > '" << dir_.PathOf("input") << "'\n"
                        << "exit " << code << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }
  ULONG Send(MapiMessage* m) { return MAPISendMail(0, 0, m, MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG, 0); }

  kavrin::testing::TempDir dir_;
  MapiRecipDesc to_{0, MAPI_TO, "Support - Trevane Software", "SMTP:support@example.com"};
  MapiMessage message_{0,
                       "Incident Report for KAVRIN Database System",
                       "Reported By: Jim\r\n.\r\nend",
                       nullptr,
                       nullptr,
                       nullptr,
                       0,
                       nullptr,
                       1,
                       &to_,
                       0,
                       nullptr};
  ScopedEnv display_{"DISPLAY", nullptr};
  ScopedEnv wayland_{"WAYLAND_DISPLAY", nullptr};
};

TEST_F(MapiTest, TheMailCommandGetsTheMessageAsSendmailDoes) {
  ScopedEnv command("KAVRIN_MAIL_COMMAND", FakeProgram("mailer", 0).c_str());
  EXPECT_EQ(Send(&message_), SUCCESS_SUCCESS);
  EXPECT_EQ(ReadFile(dir_.PathOf("args")), "-t\n-oi\n");
  EXPECT_EQ(ReadFile(dir_.PathOf("input")),
            "To: Support - Trevane Software <support@example.com>\n"
            "Subject: Incident Report for KAVRIN Database System\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\n"
            "Content-Transfer-Encoding: 7bit\n"
            "\n"
            "Reported By: Jim\n.\nend\n");
}

TEST_F(MapiTest, EightBitTextsAreLabelledAndHeadersEncoded) {
  ScopedEnv command("KAVRIN_MAIL_COMMAND", FakeProgram("mailer", 0).c_str());
  MapiRecipDesc recips[] = {{0, MAPI_TO, "M\xfcller, Hans", "hans@example.com"},
                            {0, MAPI_CC, "Smith, John", "john@example.com"},
                            {0, MAPI_BCC, nullptr, "hidden@example.com"}};
  MapiMessage m{0,
                "Gr\xfc\xdf\x65\r\nBcc: evil@example.com",
                "Stra\xdf\x65",
                nullptr,
                nullptr,
                nullptr,
                0,
                nullptr,
                3,
                recips,
                0,
                nullptr};
  EXPECT_EQ(Send(&m), SUCCESS_SUCCESS);
  const std::string input = ReadFile(dir_.PathOf("input"));
  EXPECT_NE(input.find("To: =?ISO-8859-1?Q?M=FCller=2C_Hans?= <hans@example.com>\n"), std::string::npos) << input;
  EXPECT_NE(input.find("Cc: \"Smith, John\" <john@example.com>\n"), std::string::npos) << input;
  EXPECT_NE(input.find("Bcc: hidden@example.com\n"), std::string::npos) << input;
  EXPECT_NE(input.find("Subject: =?ISO-8859-1?Q?Gr=FC=DFe=0D=0ABcc=3A_evil=40example=2Ecom?=\n"), std::string::npos)
      << input;
  EXPECT_NE(input.find("charset=\"ISO-8859-1\"\nContent-Transfer-Encoding: 8bit\n\nStra\xdf"
                       "e\n"),
            std::string::npos)
      << input;
  EXPECT_EQ(input.find("\nBcc: evil"), std::string::npos);
}

TEST_F(MapiTest, ExitCodesAndMissingProgramsGiveTheMapiCodes) {
  {
    ScopedEnv command("KAVRIN_MAIL_COMMAND", FakeProgram("failing", 3).c_str());
    EXPECT_EQ(Send(&message_), MAPI_E_FAILURE);
  }
  {
    ScopedEnv command("KAVRIN_MAIL_COMMAND", dir_.PathOf("missing").c_str());
    EXPECT_EQ(Send(&message_), MAPI_USER_ABORT);
  }
  {
    // Never a shell: the whole text is the program's name.
    ScopedEnv command("KAVRIN_MAIL_COMMAND", (FakeProgram("mailer", 0) + " -x; touch /tmp/x").c_str());
    EXPECT_EQ(Send(&message_), MAPI_USER_ABORT);
  }
  {
    ScopedEnv path("PATH", dir_.Path().c_str());
    FakeProgram("byname", 0);
    ScopedEnv command("KAVRIN_MAIL_COMMAND", "byname");
    EXPECT_EQ(Send(&message_), SUCCESS_SUCCESS);
  }
}

TEST_F(MapiTest, InADesktopSessionXdgEmailOpensTheMessage) {
  ScopedEnv command("KAVRIN_MAIL_COMMAND", nullptr);
  ScopedEnv display("DISPLAY", ":0");
  ScopedEnv path("PATH", dir_.Path().c_str());
  FakeProgram("xdg-email", 0);
  MapiRecipDesc recips[] = {to_, {0, MAPI_CC, nullptr, "cc@example.com"}};
  MapiMessage m = message_;
  m.nRecipCount = 2;
  m.lpRecips = recips;
  m.lpszNoteText = "Gr\xfc\xdf";
  EXPECT_EQ(Send(&m), SUCCESS_SUCCESS);
  EXPECT_EQ(ReadFile(dir_.PathOf("args")),
            "--utf8\n--cc\ncc@example.com\n--subject\nIncident Report for KAVRIN Database System\n"
            "--body\nGr\xc3\xbc\xc3\x9f\nmailto:support@example.com\n");
}

TEST_F(MapiTest, WithoutAnyMailProgramTheSendFailsWithOne) {
  ScopedEnv command("KAVRIN_MAIL_COMMAND", nullptr);
  ScopedEnv display("WAYLAND_DISPLAY", "wayland-0");
  ScopedEnv path("PATH", dir_.Path().c_str());  // no xdg-email here
  struct stat info {};
  if (::stat("/usr/sbin/sendmail", &info) == 0) GTEST_SKIP() << "this machine has /usr/sbin/sendmail";
  EXPECT_EQ(Send(&message_), MAPI_USER_ABORT);
}

TEST_F(MapiTest, BadRecipientsAreRefusedBeforeAnyProgramStarts) {
  ScopedEnv command("KAVRIN_MAIL_COMMAND", FakeProgram("mailer", 0).c_str());
  const char* bad[] = {"a@b.c\r\nBcc: x@y.z", "a b@c.d", "<a@b.c>", "-oQ/tmp@x", ""};
  for (const char* address : bad) {
    MapiRecipDesc r{0, MAPI_TO, nullptr, address};
    MapiMessage m = message_;
    m.lpRecips = &r;
    EXPECT_EQ(Send(&m), MAPI_E_INVALID_RECIPS) << address;
  }
  MapiRecipDesc r{0, 9, nullptr, "a@b.c"};
  MapiMessage m = message_;
  m.lpRecips = &r;
  EXPECT_EQ(Send(&m), MAPI_E_BAD_RECIPTYPE);
  m.nRecipCount = 0;
  EXPECT_EQ(Send(&m), MAPI_E_INVALID_RECIPS);
  MapiFileDesc file{0, 0, 0, "/etc/hostname", nullptr, nullptr};
  MapiMessage with_file = message_;
  with_file.nFileCount = 1;
  with_file.lpFiles = &file;
  EXPECT_EQ(Send(&with_file), MAPI_E_ATTACHMENT_NOT_FOUND);
  EXPECT_EQ(ReadFile(dir_.PathOf("args")), "") << "no program ran";
}

}  // namespace
}  // namespace kavrin::platform
