#include "apps/support/Inetmail.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/support/mail_test_support.h"
#include "tests/apps/support/scripted_peer.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::support {
namespace {

using testing::Deaf;
using testing::Dribble;
using testing::Hangup;
using testing::Hear;
using testing::HearData;
using testing::HearUntilClosed;
using testing::Pause;
using testing::PeerStep;
using testing::Say;
using testing::ScriptedPeer;

using Events = std::vector<std::string>;

const char kMessage[] =
    "From: Jim <jim@example.com>\r\n"
    "To: support@example.com\r\n"
    "Subject: Test  \r\n"
    "Date: *\r\n"
    "Message-ID: *\r\n"
    "Mime-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
    "\r\n"
    "Hello\r\n"
    ".\r\n";

std::string Transcript(bool quit = true) {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return std::string("HELO ") + host + "\r\nMAIL FROM:<jim@example.com>\r\nRCPT TO:<support@example.com>\r\nDATA\r\n" +
         kMessage + (quit ? "QUIT\r\n" : "");
}

// The whole dialogue of one message, every reply ended by eol, each sent whole or a byte at a time.
std::vector<PeerStep> Dialogue(const std::string& eol = "\r\n", bool bytewise = false) {
  auto say = [&](const std::string& text) { return bytewise ? Dribble(text + eol) : Say(text + eol); };
  return {say("220 ready"), Hear(),           say("250 hello"), Hear(),     say("250 ok"),     Hear(),
          say("250 ok"),    Hear(),           say("354 go"),    HearData(), say("250 queued"), Hear(),
          say("221 bye"),   HearUntilClosed()};
}

Events Sent(Events before = {}) {
  Events e = std::move(before);
  const Events rest = {"info 1 250 hello", "info 1 250 ok",     "info 9 support@example.com",
                       "info 1 250 ok",    "info 1 354 go",     "info 10 5",
                       "info 11 5",        "info 1 250 queued", "info 4 ",
                       "info 1 221 bye",   "info 3 ",           "done"};
  e.insert(e.end(), rest.begin(), rest.end());
  return e;
}

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class SendMailTest : public MailTestBase {
 protected:
  void Fill(SendMail& mail, std::uint16_t port) {
    mail.SetSMTP_Server("127.0.0.1");
    mail.SMTP_Port = port;
    mail.FROM_Name = "Jim";
    mail.FROM_Address = "jim@example.com";
    mail.TO_Address = "support@example.com";
    mail.Subject = "Test";
    mail.MailText = {"Hello"};
  }
};

struct FaultCase {
  const char* name;
  std::vector<PeerStep> steps;
  Events events;
  SendMailError last_error;
  bool sent;
  std::string peer_got;
  Events also = {};  // another sequence as right as events, where timing picks one
};

TEST_F(SendMailTest, FaultTable) {
  const std::string long_text(1500, '2');
  const FaultCase cases[] = {
      {"greeting 421",
       {Say("421 busy\r\n"), HearUntilClosed()},
       {"info 0 127.0.0.1", "info 1 421 busy", "error 13 Unexpected response: 421 busy", "done"},
       13,
       false,
       ""},
      {"MAIL FROM refused",
       {Say("220 ready\r\n"), Hear(), Say("250 hello\r\n"), Hear(), Say("550 denied\r\n"), HearUntilClosed()},
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 550 denied",
        "error 13 Unexpected response: 550 denied", "done"},
       13,
       false,
       Transcript().substr(0, Transcript().find("RCPT"))},
      {"multi-line replies advance once",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s[0] = Say("220-first\r\n220-second\r\n220 ready\r\n");
         s[2] = Say("250-hello\r\n250-SIZE 1000\r\n250 hello\r\n");
         return s;
       }(),
       [] {
         Events e = Sent({"info 0 127.0.0.1", "info 1 220-first", "info 1 220-second", "info 1 220 ready",
                          "info 1 250-hello", "info 1 250-SIZE 1000"});
         return e;
       }(),
       0, true, Transcript()},
      {"LF-only replies", Dialogue("\n"), Sent({"info 0 127.0.0.1", "info 1 220 ready"}), 0, true, Transcript()},
      {"one byte at a time", Dialogue("\r\n", true), Sent({"info 0 127.0.0.1", "info 1 220 ready"}), 0, true,
       Transcript()},
      {"over-long line",
       {Say(long_text), Pause(2000)},
       {"info 0 127.0.0.1", "error 13 Unexpected response: " + long_text.substr(0, 1000), "done"},
       13,
       false,
       ""},
      {"over-long complete line",
       {Say("220 " + long_text + "\r\n"), Pause(2000)},
       {"info 0 127.0.0.1", "error 13 Unexpected response: " + ("220 " + long_text).substr(0, 1000), "done"},
       13,
       false,
       ""},
      {"close after the greeting",
       {Say("220 ready\r\n"), Hear(), Hangup()},
       {"info 0 127.0.0.1", "info 1 220 ready", "info 3 ", "error 17 Prematurely Disconnected", "done"},
       17,
       false,
       "HELO " + HostName() + "\r\n"},
      {"close mid-DATA",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s.resize(10);
         s.push_back(Hangup());
         return s;
       }(),
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 250 ok", "info 9 support@example.com",
        "info 1 250 ok", "info 1 354 go", "info 10 5", "info 11 5", "info 3 ", "error 17 Prematurely Disconnected",
        "done"},
       17,
       false,
       Transcript(false)},
      {"bare codes without text",
       {Say("220\r\n"), Hear(), Say("250\r\n"), Hear(), Say("250\r\n"), Hear(), Say("250\r\n"), Hear(), Say("354\r\n"),
        HearData(), Say("250\r\n"), Hear(), Say("221\r\n"), HearUntilClosed()},
       {"info 0 127.0.0.1", "info 1 220", "info 1 250", "info 1 250", "info 9 support@example.com", "info 1 250",
        "info 1 354", "info 10 5", "info 11 5", "info 1 250", "info 4 ", "info 1 221", "info 3 ", "done"},
       0,
       true,
       Transcript()},
      // Replies are read by their whole code (RFC 5321 section 4.2): the message goes out only after a
      // 354, is sent only with a 2yz to its end, and a line that is no reply stops the dialogue.
      {"250 to DATA",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s[8] = Say("250 ok\r\n");
         s.resize(9);
         s.push_back(HearUntilClosed());
         return s;
       }(),
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 250 ok", "info 9 support@example.com",
        "info 1 250 ok", "info 1 250 ok", "error 13 Unexpected response: 250 ok", "done"},
       13,
       false,
       Transcript().substr(0, Transcript().find("From:"))},
      {"a stray empty line",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s[2] = Say("250 hello\r\n\r\n");
         s.resize(3);
         s.push_back(HearUntilClosed());
         return s;
       }(),
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 ",
        "error 13 Unexpected response: ", "done"},
       13,
       false,
       Transcript().substr(0, Transcript().find("RCPT"))},
      {"554 to the message",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s[10] = Say("554 rejected\r\n");
         s.resize(11);
         s.push_back(HearUntilClosed());
         return s;
       }(),
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 250 ok", "info 9 support@example.com",
        "info 1 250 ok", "info 1 354 go", "info 10 5", "info 11 5", "info 1 554 rejected",
        "error 13 Unexpected response: 554 rejected", "done"},
       13,
       false,
       Transcript(false)},
      {"a multi-line reply whose code changes",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s[2] = Say("250-hello\r\n550 no\r\n");
         s.resize(3);
         s.push_back(HearUntilClosed());
         return s;
       }(),
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250-hello", "info 1 550 no",
        "error 13 Unexpected response: 550 no", "done"},
       13,
       false,
       Transcript().substr(0, Transcript().find("MAIL"))},
      {"a code of two digits",
       {Say("22 ready\r\n"), HearUntilClosed()},
       {"info 0 127.0.0.1", "info 1 22 ready", "error 13 Unexpected response: 22 ready", "done"},
       13,
       false,
       ""},
      // The message was taken at the 250 to its end: whatever answers "QUIT" only ends the dialogue, so a
      // program never sends it again.
      {"a refusal of QUIT after the message was taken",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s[12] = Say("421 closing\r\n");
         return s;
       }(),
       [] {
         Events e = Sent({"info 0 127.0.0.1", "info 1 220 ready"});
         std::replace(e.begin(), e.end(), std::string("info 1 221 bye"), std::string("info 1 421 closing"));
         return e;
       }(),
       0, true, Transcript()},
      {"221 but the server stays",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s.back() = Pause(3000);
         return s;
       }(),
       Sent({"info 0 127.0.0.1", "info 1 220 ready"}), 0, true, Transcript()},
      {"accept, 221 and close in one write",
       [] {
         std::vector<PeerStep> s = Dialogue();
         s.resize(10);
         s.push_back(Say("250 queued\r\n221 bye\r\n"));
         s.push_back(Hangup());
         return s;
       }(),
       // When the close is seen while "QUIT" is being sent, the "221" behind it is not read.
       [] {
         Events e = Sent({"info 0 127.0.0.1", "info 1 220 ready"});
         e.erase(std::find(e.begin(), e.end(), "info 1 221 bye"));
         return e;
       }(),
       0, true, Transcript(false), Sent({"info 0 127.0.0.1", "info 1 220 ready"})},
      {"recipient refused, the next one tried",
       {Say("220 ready\r\n"), Hear(), Say("250 hello\r\n"), Hear(), Say("250 ok\r\n"), Hear(), Say("250 ok\r\n"),
        Hear(), Say("550 no such user\r\n"), Hear(), Say("354 go\r\n"), HearData(), Say("250 queued\r\n"), Hear(),
        Say("221 bye\r\n"), HearUntilClosed()},
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 250 ok", "info 9 support@example.com",
        "info 1 250 ok", "info 9 second@example.com", "info 1 550 no such user", "info 8 second@example.com",
        "info 1 354 go", "info 10 5", "info 11 5", "info 1 250 queued", "info 4 ", "info 1 221 bye", "info 3 ", "done"},
       0,
       true,
       ""},
      {"all recipients refused",
       {Say("220 ready\r\n"), Hear(), Say("250 hello\r\n"), Hear(), Say("250 ok\r\n"), Hear(), Say("550 no\r\n"),
        Hear(), Say("554 no valid recipients\r\n"), HearUntilClosed()},
       {"info 0 127.0.0.1", "info 1 220 ready", "info 1 250 hello", "info 1 250 ok", "info 9 support@example.com",
        "info 1 550 no", "info 8 support@example.com", "info 1 554 no valid recipients",
        "error 13 Unexpected response: 554 no valid recipients", "done"},
       13,
       false,
       Transcript().substr(0, Transcript().find("From:"))},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    done_ = 0;
    ScriptedPeer peer(c.steps);
    SendMail mail;
    Record(mail);
    Fill(mail, peer.Port());
    if (std::string(c.name).find("recipient refused") != std::string::npos) mail.ListTo = {"second@example.com"};
    mail.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone());
    if (c.also.empty() || events_ != c.also) {
      EXPECT_EQ(events_, c.events);
    }
    EXPECT_EQ(done_, 1);
    EXPECT_EQ(mail.LastMailError, c.last_error);
    EXPECT_EQ(mail.MessageSent, c.sent);
    EXPECT_FALSE(mail.Busy());
    if (!c.peer_got.empty() || c.events.size() < 5) {
      EXPECT_EQ(Masked(peer.Got()), c.peer_got);
    }
  }
}

TEST_F(SendMailTest, ARefusedConnectIsErrorTwelve) {
  SendMail mail;
  Record(mail);
  Fill(mail, FreePort());
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, (Events{"error 12 Connection Refused", "done"}));
  EXPECT_EQ(mail.LastMailError, 12);
  EXPECT_FALSE(mail.MessageSent);
}

TEST_F(SendMailTest, AFailedLookupIsErrorSixteen) {
  platform::SetHostResolver(
      [](const std::string&, std::vector<std::array<std::uint8_t, 4>>*) { return platform::WSAHOST_NOT_FOUND; });
  SendMail mail;
  Record(mail);
  Fill(mail, 25);
  mail.SetSMTP_Server("no.such.host.example");
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, (Events{"info 15 no.such.host.example", "error 16 Address resolution error", "done"}));
  EXPECT_EQ(mail.LastMailError, 16);
}

TEST_F(SendMailTest, AHostNameIsLookedUpThenConnected) {
  ScriptedPeer peer(Dialogue());
  std::vector<std::string> asked;
  platform::SetHostResolver([&asked](const std::string& name, std::vector<std::array<std::uint8_t, 4>>* out) {
    asked.push_back(name);
    out->push_back({127, 0, 0, 1});
    return 0;
  });
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.SetSMTP_Server("3com-mail.example");  // starts with a digit, still a name
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, Sent({"info 15 3com-mail.example", "info 14 127.0.0.1", "info 0 127.0.0.1", "info 1 220 ready"}));
  EXPECT_EQ(asked, (std::vector<std::string>{"3com-mail.example"}));
  EXPECT_EQ(Masked(peer.Got()), Transcript());
}

TEST_F(SendMailTest, TimeoutArpEndsALookupThatNeverAnswers) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  platform::SetHostResolver([&](const std::string&, std::vector<std::array<std::uint8_t, 4>>* out) {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return release; });
    out->push_back({127, 0, 0, 1});
    return 0;
  });
  {
    SendMail mail;
    Record(mail);
    Fill(mail, 25);
    mail.SetSMTP_Server("silent.example");
    mail.TimeoutArp = 1;
    mail.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone(4000));
    {
      std::lock_guard lock(m);
      release = true;
    }
    cv.notify_all();
    loop_.RunFor(200);  // the late answer reaches nobody
    EXPECT_EQ(events_, (Events{"info 15 silent.example", "error 8 Connection timed out", "done"}));
    EXPECT_EQ(mail.LastMailError, 8);
    EXPECT_FALSE(mail.LookupPending());
  }
}

TEST_F(SendMailTest, ASecondStartWhileBusyOnlySaysSo) {
  ScriptedPeer peer(Dialogue());
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  on_event_ = [&](const std::string& e) {
    if (e == "info 0 127.0.0.1") mail.SetAction(TMailAction::Send_Mail);
  };
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, Sent({"info 0 127.0.0.1", "info 13 ", "info 1 220 ready"}));
  EXPECT_EQ(done_, 1);
  EXPECT_EQ(Masked(peer.Got()), Transcript());
}

TEST_F(SendMailTest, CancelOnASilentPeerEndsTheSendAtOnce) {
  ScriptedPeer peer({Pause(3000)});
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.SetAction(TMailAction::Send_Mail);
  ASSERT_TRUE(loop_.RunUntil([&] { return !events_.empty(); }, 3000));
  loop_.RunFor(100);
  mail.SetAction(TMailAction::Cancel_SendMail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, (Events{"info 0 127.0.0.1", "done"}));
  EXPECT_EQ(mail.LastMailError, 14);
  EXPECT_FALSE(mail.MessageSent);
  EXPECT_TRUE(mail.ListTo.empty());
  EXPECT_EQ(Masked(peer.Got()), "");
  // Cancelling again, or while idle, does nothing.
  mail.SetAction(TMailAction::Cancel_SendMail);
  loop_.RunFor(100);
  EXPECT_EQ(done_, 1);
}

TEST_F(SendMailTest, CancelDuringTheDataSendsNoMore) {
  ScriptedPeer peer({Say("220 ready\r\n"), Hear(), Say("250 hello\r\n"), Hear(), Say("250 ok\r\n"), Hear(),
                     Say("250 ok\r\n"), Hear(), Say("354 go\r\n"), HearUntilClosed()});
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.MailText = {std::string(20000, 'a')};
  on_event_ = [&](const std::string& e) {
    if (e == "info 11 2048") mail.SetAction(TMailAction::Cancel_SendMail);
  };
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_.back(), "done");
  EXPECT_EQ(events_[events_.size() - 2], "info 11 2048");
  EXPECT_EQ(done_, 1);
  EXPECT_FALSE(mail.MessageSent);
  const std::string got = Masked(peer.Got());
  const std::string body = got.substr(got.find("\r\n\r\n", got.find("DATA")) + 4);
  EXPECT_EQ(std::count(body.begin(), body.end(), 'a'), 2048) << body;
  EXPECT_EQ(got.find("\r\n.\r\n"), std::string::npos) << "the message was never ended";
}

TEST_F(SendMailTest, StoppingWinsockMidSendEndsTheSendOnce) {
  ScriptedPeer peer({Pause(300), Say("220 ready\r\n"), HearUntilClosed()});
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  on_event_ = [&](const std::string& e) {
    if (e == "info 0 127.0.0.1") mail.SetWinsockStarted(false);
  };
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  loop_.RunFor(400);
  EXPECT_EQ(events_, (Events{"info 0 127.0.0.1", "done"}));
  EXPECT_EQ(mail.LastMailError, 14);
  EXPECT_FALSE(mail.WinsockStarted());
  EXPECT_EQ(Masked(peer.Got()), "");
}

// A socket that takes nothing for a while: the real provider, with sends refused as would-block
// until a moment has passed.
std::chrono::steady_clock::time_point busy_until;
int refused_sends = 0;
bool refused_last = false;
int BusySend(platform::SOCKET s, const char* buf, int len, int flags) {
  refused_last = std::chrono::steady_clock::now() < busy_until;
  if (refused_last) {
    ++refused_sends;
    return platform::SOCKET_ERROR;
  }
  return platform::PosixWinsockProvider().send(s, buf, len, flags);
}
int BusyRecv(platform::SOCKET s, char* buf, int len, int flags) {
  refused_last = false;
  return platform::PosixWinsockProvider().recv(s, buf, len, flags);
}
int BusyLastError() {
  return refused_last ? platform::WSAEWOULDBLOCK : platform::PosixWinsockProvider().WSAGetLastError();
}

TEST_F(SendMailTest, ASocketThatTakesNothingIsWaitedForInTheLoop) {
  platform::WinsockProvider busy = platform::PosixWinsockProvider();
  busy.send = BusySend;
  busy.recv = BusyRecv;
  busy.WSAGetLastError = BusyLastError;
  platform::SetWinsockProvider(&busy);
  busy_until = {};
  refused_sends = 0;
  ScriptedPeer peer(Dialogue());
  kavrin::testing::TempDir dir;
  const std::string path = dir.PathOf("file.bin");
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 13);
  std::ofstream(path, std::ios::binary) << bytes;
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.Attachments = {path};
  int delivered = 0;
  const platform::HWND other = platform::AllocateHWnd([&](platform::UINT, platform::WPARAM, platform::LPARAM) {
    ++delivered;
    return platform::LRESULT{0};
  });
  on_event_ = [&](const std::string& e) {
    if (e != "info 6 " + std::to_string(bytes.size())) return;
    busy_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    std::thread([other] {
      ::usleep(100000);
      platform::PostMessage(other, platform::WM_USER, 0, 0);
    }).detach();
  };
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_TRUE(mail.MessageSent);
  EXPECT_EQ(done_, 1);
  EXPECT_EQ(delivered, 1) << "the loop ran while the send waited";
  EXPECT_GE(refused_sends, 2);
  EXPECT_LE(refused_sends, 20) << "the send waits between tries instead of spinning";
  EXPECT_EQ(std::count(events_.begin(), events_.end(), "info 7 " + std::to_string(bytes.size() / 57 * 57 + 3)), 1);
  platform::DeallocateHWnd(other);
}

TEST_F(SendMailTest, DestroyingTheComponentMidSendEndsEverything) {
  ScriptedPeer peer({Pause(300), Say("220 ready\r\n"), HearUntilClosed()});
  auto mail = std::make_unique<SendMail>();
  Record(*mail);
  Fill(*mail, peer.Port());
  mail->SetAction(TMailAction::Send_Mail);
  ASSERT_TRUE(loop_.RunUntil([&] { return !events_.empty(); }, 3000));
  mail.reset();
  loop_.RunFor(500);
  EXPECT_EQ(events_, (Events{"info 0 127.0.0.1"}));
  EXPECT_EQ(done_, 0);
  EXPECT_EQ(Masked(peer.Got()), "") << "the peer sees the connection closed";
}

TEST_F(SendMailTest, WithoutAServerTheSendEndsAtOnce) {
  SendMail mail;
  Record(mail);
  Fill(mail, 25);
  mail.SetSMTP_Server("");
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, (Events{"error 16 Address resolution error", "done"}));
  EXPECT_EQ(mail.LastMailError, 16);
}

TEST_F(SendMailTest, AMissingWinsockIsErrorOne) {
  platform::WinsockProvider lacking = platform::PosixWinsockProvider();
  lacking.WSACancelAsyncRequest = nullptr;
  platform::SetWinsockProvider(&lacking);
  SendMail mail;
  Record(mail);
  Fill(mail, 25);
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, (Events{"error 1 Winsock not initiliazed", "done"}));
  EXPECT_EQ(mail.LastMailError, 1);
  EXPECT_FALSE(mail.WinsockStarted());
}

TEST_F(SendMailTest, NoRecipientIsErrorEighteenAndNothingConnects) {
  SendMail mail;
  Record(mail);
  Fill(mail, 25);
  mail.TO_Address.clear();
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(events_, (Events{"error 18 Mail Destination Error", "done"}));
  EXPECT_FALSE(mail.HasSocket());
}

TEST_F(SendMailTest, TheFirstCcEntryBecomesTheMainRecipientOnce) {
  ScriptedPeer peer(Dialogue());
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.TO_Address.clear();
  mail.Listcc = {"support@example.com|Support"};
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  const std::string got = Masked(peer.Got());
  EXPECT_EQ(got.find("RCPT TO:"), got.rfind("RCPT TO:")) << "one RCPT only";
  EXPECT_NE(got.find("\r\ncc: Support <support@example.com>\r\n"), std::string::npos) << got;
  EXPECT_EQ(got.find("To:"), std::string::npos);
  EXPECT_TRUE(mail.TO_Address.empty()) << "the main recipient serves that send only";
}

TEST_F(SendMailTest, EachSendNamesTheMainRecipientOnce) {
  SendMail mail;
  Record(mail);
  for (int round = 0; round < 2; ++round) {
    ScriptedPeer peer(Dialogue());
    done_ = 0;
    Fill(mail, peer.Port());
    mail.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone());
    EXPECT_EQ(Masked(peer.Got()), Transcript()) << "round " << round;
    EXPECT_TRUE(mail.ListTo.empty());
  }
}

TEST_F(SendMailTest, AKeptConnectionSendsTheNextMessageWithoutHelo) {
  ScriptedPeer peer(
      {Say("220 ready\r\n"),  Hear(), Say("250 hello\r\n"), Hear(),           Say("250 ok\r\n"),     Hear(),
       Say("250 ok\r\n"),     Hear(), Say("354 go\r\n"),    HearData(),       Say("250 queued\r\n"), Hear(),
       Say("250 ok\r\n"),     Hear(), Say("250 ok\r\n"),    Hear(),           Say("354 go\r\n"),     HearData(),
       Say("250 queued\r\n"), Hear(), Say("221 bye\r\n"),   HearUntilClosed()});
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.KeepConnectionOpen = true;
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_TRUE(mail.MessageSent);
  EXPECT_TRUE(mail.Connected());
  EXPECT_EQ(done_, 1);
  done_ = 0;
  mail.KeepConnectionOpen = false;
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  EXPECT_EQ(done_, 1);
  EXPECT_TRUE(mail.MessageSent);
  const std::string got = Masked(peer.Got());
  const std::string once = Transcript(false);
  EXPECT_EQ(got, once + once.substr(once.find("MAIL")) + "QUIT\r\n");
}

TEST_F(SendMailTest, AHeaderLongerThanACommandLineArrivesWhole) {
  ScriptedPeer peer(Dialogue());
  SendMail mail;
  Record(mail);
  Fill(mail, peer.Port());
  mail.Headers = {"X-Long: " + std::string(300, 'L')};
  mail.SetAction(TMailAction::Send_Mail);
  EXPECT_TRUE(RunToDone());
  std::string got = peer.Got();
  for (std::size_t at; (at = got.find("\r\n ")) != std::string::npos;) got.erase(at, 2);  // unfolded
  EXPECT_NE(got.find("\r\nX-Long: " + std::string(300, 'L') + "  \r\n"), std::string::npos);
}

// A socket that takes nothing while `stalled` is set, as one whose peer has stopped reading: the
// send then waits in the message loop, where other windows' messages and timers run.
bool stalled = false;
int StalledSend(platform::SOCKET s, const char* buf, int len, int flags) {
  refused_last = stalled;
  if (stalled) return platform::SOCKET_ERROR;
  return platform::PosixWinsockProvider().send(s, buf, len, flags);
}

// Up to the server's 354, then steps.
std::vector<PeerStep> UpToData(std::vector<PeerStep> then) {
  std::vector<PeerStep> s = Dialogue();
  s.resize(9);
  s.insert(s.end(), then.begin(), then.end());
  return s;
}

class BlockedSendTest : public SendMailTest {
 protected:
  void SetUp() override {
    SendMailTest::SetUp();
    stalling_ = platform::PosixWinsockProvider();
    stalling_.send = StalledSend;
    stalling_.recv = BusyRecv;
    stalling_.WSAGetLastError = BusyLastError;
    platform::SetWinsockProvider(&stalling_);
    stalled = false;
  }
  void TearDown() override {
    if (other_ != 0) platform::DeallocateHWnd(other_);
    stalled = false;
    SendMailTest::TearDown();
  }
  // A window of the program's own whose messages and timers run action.
  void OtherWindow(std::function<void()> action) {
    other_ = platform::AllocateHWnd([action](platform::UINT, platform::WPARAM, platform::LPARAM) {
      action();
      return platform::LRESULT{0};
    });
  }
  platform::WinsockProvider stalling_{};
  platform::HWND other_ = 0;
};

TEST_F(BlockedSendTest, FreeingTheComponentWhileASendWaitsEndsItWithoutOnDone) {
  enum Trigger { Posted, Timer, ServerClose };
  const struct {
    const char* name;
    Trigger trigger;
    std::string last_event;
  } cases[] = {
      {"a message to another window", Posted, "info 11 2048"},
      {"a timer of another window", Timer, "info 11 2048"},
      {"the error of the server's close", ServerClose, "error 17 Prematurely Disconnected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    done_ = 0;
    stalled = false;
    ScriptedPeer peer(UpToData({Pause(c.trigger == ServerClose ? 300 : 1500), Hangup()}));
    auto mail = std::make_unique<SendMail>();
    Record(*mail);
    Fill(*mail, peer.Port());
    mail->MailText = {std::string(20000, 'a')};
    OtherWindow([&mail] { mail.reset(); });
    on_event_ = [&](const std::string& e) {
      if (e == "info 11 2048") {
        stalled = true;
        if (c.trigger == Posted) platform::PostMessage(other_, platform::WM_USER, 0, 0);
        if (c.trigger == Timer) platform::SetTimer(other_, 7, 50);
      }
      if (c.trigger == ServerClose && e.rfind("error 17", 0) == 0) mail.reset();
    };
    mail->SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(loop_.RunUntil([&] { return mail == nullptr; }, 5000));
    loop_.RunFor(300);
    EXPECT_EQ(done_, 0);
    EXPECT_EQ(events_.back(), c.last_event);
    on_event_ = nullptr;
    platform::DeallocateHWnd(other_);
    other_ = 0;
  }
}

TEST_F(BlockedSendTest, NothingOfAnEndedSendReachesTheNextSendsConnection) {
  const struct {
    const char* name;
    bool cancel;
    std::vector<PeerStep> first;
    SendMailError first_error;
  } cases[] = {
      {"cancelled from a timer of another window", true, UpToData({HearUntilClosed()}), smeCancelled},
      {"the server closes", false, UpToData({Pause(300), Hangup()}), smePrematureDisconnect},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    done_ = 0;
    stalled = false;
    ScriptedPeer first(c.first);
    ScriptedPeer second(Dialogue());
    SendMail mail;
    Record(mail);
    Fill(mail, first.Port());
    mail.MailText = {std::string(20000, 'a')};
    OtherWindow([&mail] { mail.SetAction(TMailAction::Cancel_SendMail); });
    SendMailError first_error = -1;
    on_event_ = [&](const std::string& e) {
      if (e == "info 11 2048" && done_ == 0) {
        stalled = true;
        if (c.cancel) platform::SetTimer(other_, 7, 50);
      }
      if (e == "done" && done_ == 1) {
        if (c.cancel) platform::KillTimer(other_, 7);
        // The next send starts from OnDone, as a program sending a queue of messages does.
        first_error = mail.LastMailError;
        stalled = false;
        Fill(mail, second.Port());
        mail.SetAction(TMailAction::Send_Mail);
      }
    };
    mail.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(loop_.RunUntil([&] { return done_ >= 2; }, 6000));
    loop_.RunFor(100);
    EXPECT_EQ(done_, 2);
    EXPECT_EQ(first_error, c.first_error);
    EXPECT_TRUE(mail.MessageSent);
    EXPECT_EQ(mail.LastMailError, 0);
    EXPECT_EQ(Masked(second.Got()), Transcript());
    const std::string got = first.Got();
    EXPECT_EQ(got.find("\r\n.\r\n"), std::string::npos) << "the first message was never ended";
    on_event_ = nullptr;
    platform::DeallocateHWnd(other_);
    other_ = 0;
  }
}

TEST_F(SendMailTest, AServerThatStopsAnsweringEndsTheSendAtItsTimeout) {
  std::vector<PeerStep> full = Dialogue();
  auto upto = [&full](std::size_t steps, PeerStep then) {
    std::vector<PeerStep> s(full.begin(), full.begin() + static_cast<long>(steps));
    s.push_back(then);
    return s;
  };
  const Events timed_out = {"error 8 Connection timed out", "done"};
  const struct {
    const char* name;
    std::vector<PeerStep> steps;
    bool big;
    Events tail;
    bool sent;
  } cases[] = {
      {"no greeting", {Pause(3000)}, false, timed_out, false},
      {"no answer to HELO", upto(2, Pause(3000)), false, timed_out, false},
      {"no answer to MAIL FROM", upto(4, Pause(3000)), false, timed_out, false},
      {"no answer to RCPT TO", upto(6, Pause(3000)), false, timed_out, false},
      {"no answer to DATA", upto(8, Pause(3000)), false, timed_out, false},
      {"no answer to the message", upto(10, Pause(3000)), false, timed_out, false},
      {"the server stops reading the message", upto(9, Deaf(1200)), true, timed_out, false},
      // The message was taken: a server that never answers "QUIT" only ends the dialogue.
      {"no answer to QUIT", upto(12, Pause(3000)), false, {"info 4 ", "info 3 ", "done"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    done_ = 0;
    ScriptedPeer peer(c.steps);
    SendMail mail;
    Record(mail);
    Fill(mail, peer.Port());
    mail.TimeoutGreeting = mail.TimeoutCommand = mail.TimeoutDataStart = mail.TimeoutDataBlock = mail.TimeoutDataEnd =
        1;
    // Far more than the socket buffers of both ends hold.
    if (c.big) mail.MailText = TStringList(16000, std::string(1000, 'a'));
    mail.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone(8000));
    ASSERT_GE(events_.size(), c.tail.size());
    EXPECT_EQ(Events(events_.end() - static_cast<long>(c.tail.size()), events_.end()), c.tail);
    EXPECT_EQ(done_, 1);
    EXPECT_EQ(mail.MessageSent, c.sent);
    EXPECT_EQ(mail.LastMailError, c.sent ? 0 : smeTimeout);
    EXPECT_FALSE(mail.Busy());
  }
}

// Every write the component makes, as the socket got it.
std::vector<std::string> writes;
int RecordingSend(platform::SOCKET s, const char* buf, int len, int flags) {
  const int sent = platform::PosixWinsockProvider().send(s, buf, len, flags);
  if (sent > 0) writes.emplace_back(buf, static_cast<std::size_t>(sent));
  return sent;
}

TEST_F(SendMailTest, TheEndOfTheMessageGoesWithItsLastBlockOnANoDelaySocket) {
  platform::WinsockProvider recording = platform::PosixWinsockProvider();
  recording.send = RecordingSend;
  platform::SetWinsockProvider(&recording);
  for (const TStringList& text : {TStringList{"Hello"}, TStringList{std::string(5000, 'b')}}) {
    writes.clear();
    ScriptedPeer peer(Dialogue());
    SendMail mail;
    Record(mail);
    Fill(mail, peer.Port());
    mail.MailText = text;
    int nodelay = -1;
    on_event_ = [&](const std::string& e) {
      if (e != "info 0 127.0.0.1") return;
      socklen_t size = sizeof nodelay;
      ::getsockopt(static_cast<int>(mail.Socket()), IPPROTO_TCP, TCP_NODELAY, &nodelay, &size);
    };
    mail.SetAction(TMailAction::Send_Mail);
    EXPECT_TRUE(RunToDone());
    EXPECT_TRUE(mail.MessageSent);
    // Nagle's algorithm would hold a short last write until the peer's delayed acknowledgement.
    EXPECT_EQ(nodelay, 1);
    const auto end = std::find_if(writes.begin(), writes.end(), [](const std::string& w) {
      return w.size() >= 5 && w.compare(w.size() - 5, 5, "\r\n.\r\n") == 0;
    });
    ASSERT_NE(end, writes.end());
    const std::string tail = text.back().substr(text.back().size() - 5) + "\r\n.\r\n";
    EXPECT_EQ(end->substr(end->size() - tail.size()), tail) << "the end of data is written with the last text";
    on_event_ = nullptr;
  }
}

TEST(SmtpServerText, ADottedAddressOrAHostName) {
  struct Case {
    const char* text;
    const char* dotted;
    const char* host;
  };
  const Case cases[] = {
      {"192.168.0.1", "192.168.0.1", ""},
      {"mail.example.com", "", "mail.example.com"},
      {"3com.example", "", "3com.example"},
      {"10.0.0.300", "", "10.0.0.300"},
      {"10.0.0", "", "10.0.0"},
      {"1.2.3.4.5", "", "1.2.3.4.5"},
      {"0.0.0.0", "0.0.0.0", ""},
  };
  for (const Case& c : cases) {
    TStarSocket s;
    s.SetSMTP_Server(c.text);
    EXPECT_EQ(s.DottedAddress(), c.dotted) << c.text;
    EXPECT_EQ(s.HostName(), c.host) << c.text;
  }
  TStarSocket s;
  s.SetSMTP_Server("mail.example.com");
  s.SetSMTP_Server("");
  EXPECT_EQ(s.HostName(), "mail.example.com") << "an empty text changes neither";
}

TEST(MailErrors, WinsockErrorsMapToTheTable) {
  const std::pair<int, SendMailError> table[] = {
      {0, 0},      {10093, 1},  {10050, 2},  {10013, 3},  {10004, 4},  {10014, 4},  {10022, 4},  {10036, 4},
      {10038, 4},  {10040, 4},  {10045, 4},  {10047, 4},  {10048, 4},  {10056, 4},  {10057, 4},  {10058, 4},
      {10052, 5},  {10055, 5},  {10053, 6},  {10054, 7},  {10060, 8},  {10024, 9},  {10051, 10}, {10049, 11},
      {10061, 12}, {10107, 15}, {11001, 16}, {11002, 16}, {11003, 16}, {11004, 16}, {10065, 19}, {10035, 15},
  };
  for (const auto& [winsock, code] : table) EXPECT_EQ(MailErrorOf(winsock, nullptr), code) << winsock;
  std::string text;
  MailErrorOf(10060, &text);
  EXPECT_EQ(text, "timeout");
}

}  // namespace
}  // namespace kavrin::support
