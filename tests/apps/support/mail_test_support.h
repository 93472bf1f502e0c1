// What the SMTP tests share: a poll loop for the component, and a recorder of its events.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/support/Inetmail.h"
#include "platform/poll_message_loop.h"
#include "platform/winsock.h"

namespace kavrin::support {

// Wire text with the values of the Date and Message-ID fields, which change with every message,
// replaced by "*".
inline std::string Masked(std::string wire) {
  for (const char* field : {"\r\nDate: ", "\r\nMessage-ID: "}) {
    for (std::size_t at = wire.find(field); at != std::string::npos; at = wire.find(field, at + 1)) {
      const std::size_t value = at + std::char_traits<char>::length(field);
      const std::size_t end = wire.find("\r\n", value);
      if (end == std::string::npos) break;
      wire.replace(value, end - value, "*");
    }
  }
  return wire;
}

class MailTestBase : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetMessageLoop(&loop_); }
  void TearDown() override {
    platform::SetHostResolver(nullptr);
    platform::SetWinsockProvider(nullptr);
    platform::SetMessageLoop(nullptr);
  }

  // Records info (but the noisy "sending" 2), error and done events as lines of text; on_event, when
  // set, runs after each one.
  void Record(SendMail& mail) {
    mail.OnMailInfo = [this](SendMail*, SendMailInfo code, const std::string& text) {
      if (code == smiSending) {
        sent_.push_back(text);
        return;
      }
      Event("info " + std::to_string(code) + " " + text);
    };
    mail.OnMailError = [this](SendMail*, SendMailError code, const std::string& text) {
      Event("error " + std::to_string(code) + " " + text);
    };
    mail.OnDone = [this](SendMail*) {
      ++done_;
      Event("done");
    };
  }
  void Event(const std::string& e) {
    events_.push_back(e);
    if (on_event_) on_event_(e);
  }
  // Runs the loop until OnDone, then a little longer so that a second OnDone would show.
  bool RunToDone(std::uint32_t limit_ms = 6000) {
    const bool done = loop_.RunUntil([&] { return done_ > 0; }, limit_ms);
    loop_.RunFor(100);
    return done;
  }

  static std::string HostName() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
  }

  platform::PollMessageLoop loop_;
  std::vector<std::string> events_;
  std::vector<std::string> sent_;
  std::function<void(const std::string&)> on_event_;
  int done_ = 0;
};

}  // namespace kavrin::support
