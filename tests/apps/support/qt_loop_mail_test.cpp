// One message through SendMail to the real SMTP server with the program's loop: the application's
// Qt event loop runs the look-up answer, the socket notices and the component's timer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/support/Inetmail.h"
#include "classlib/widgets/qt_message_loop.h"
#include "tests/apps/support/mail_test_support.h"
#include "tests/apps/support/smtp_server_process.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::support {
namespace {

class QtLoopMailTest : public MailTestBase {
 protected:
  // The application's loop stays: the poll loop of the base is never set.
  void SetUp() override {}
  void TearDown() override {
    platform::SetHostResolver(nullptr);
    platform::SetWinsockProvider(nullptr);
  }
};

TEST_F(QtLoopMailTest, AMessageReachesTheRealServerOnQtsLoop) {
  ASSERT_NE(dynamic_cast<classlib::QtMessageLoop*>(&platform::CurrentMessageLoop()), nullptr);
  kavrin::testing::TempDir dir;
  kavrin::testing::SmtpServerProcess server(dir.Path());
  ASSERT_NE(server.Port(), 0) << "the aiosmtpd test server did not start";

  SendMail mail;
  Record(mail);
  mail.SetSMTP_Server("127.0.0.1");
  mail.SMTP_Port = server.Port();
  mail.FROM_Name = "Jim Kirk";
  mail.FROM_Address = "jim@example.com";
  mail.TO_Name = "Support - Trevane Software";
  mail.TO_Address = "support@example.com";
  mail.Subject = "Incident Report";
  mail.MailText = {"Reported By: Jim", "", "Keywords:crash"};
  mail.SetAction(TMailAction::Send_Mail);

  ASSERT_TRUE(kavrin::testing::PumpUntil([&] { return done_ > 0; }, 8000)) << ::testing::PrintToString(events_);
  kavrin::testing::PumpIdle(100);
  EXPECT_EQ(done_, 1);
  EXPECT_TRUE(mail.MessageSent);
  EXPECT_EQ(mail.LastMailError, 0);
  for (const std::string& e : events_) EXPECT_NE(e.rfind("error", 0), 0u) << e;
  ASSERT_EQ(server.Count(), 1);
  const auto m = server.Message(1);
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->First("mail_from"), "jim@example.com");
  EXPECT_EQ(m->All("rcpt"), (std::vector<std::vector<std::string>>{{"support@example.com"}}));
  EXPECT_EQ(Masked(m->First("data")),
            "From: Jim Kirk <jim@example.com>\r\n"
            "To: Support - Trevane Software <support@example.com>\r\n"
            "Subject: Incident Report  \r\n"
            "Date: *\r\n"
            "Message-ID: *\r\n"
            "Mime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
            "\r\n"
            "Reported By: Jim\r\n\r\nKeywords:crash\r\n");
}

}  // namespace
}  // namespace kavrin::support
