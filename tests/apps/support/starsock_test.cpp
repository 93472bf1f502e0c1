#include "apps/support/starsock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/poll_message_loop.h"
#include "platform/winsock.h"

namespace kavrin::support {
namespace {

namespace p = kavrin::platform;

class StarSocketTest : public ::testing::Test {
 protected:
  void SetUp() override { p::SetMessageLoop(&loop_); }
  void TearDown() override {
    p::SetWinsockProvider(nullptr);
    p::SetMessageLoop(nullptr);
  }
  p::PollMessageLoop loop_;
};

TEST_F(StarSocketTest, LoadingNeedsTheRightNameAndEveryEntry) {
  TStarSocket s;
  EXPECT_FALSE(s.LoadWinsock("WS2_32.DLL"));
  EXPECT_FALSE(s.WinsockLoaded());
  p::WinsockProvider lacking = p::PosixWinsockProvider();
  lacking.gethostname = nullptr;
  p::SetWinsockProvider(&lacking);
  EXPECT_FALSE(s.LoadWinsock("WSOCK32.DLL"));
  EXPECT_FALSE(s.StartWinsock());
  p::SetWinsockProvider(nullptr);
  EXPECT_TRUE(s.LoadWinsock(""));
  ASSERT_TRUE(s.StartWinsock());
  EXPECT_FALSE(s.Description().empty());
  EXPECT_EQ(s.SystemStatus(), "Running");
  EXPECT_GT(s.MaxSockets(), 0);
  s.UnloadWinsock();
  EXPECT_FALSE(s.WinsockStarted());
  EXPECT_FALSE(s.WinsockLoaded());
}

TEST_F(StarSocketTest, AddressAndPortGoIntoTheRecordInNetworkOrder) {
  TStarSocket s;
  ASSERT_TRUE(s.StartWinsock());
  s.SetAddress("10.20.30.40");
  s.SetPort(25);
  const p::SOCKADDR_IN& a = s.RemoteAddress();
  EXPECT_EQ(a.sin_family, 2);
  const auto* port = reinterpret_cast<const unsigned char*>(&a.sin_port);
  EXPECT_EQ(port[0], 0);
  EXPECT_EQ(port[1], 25);
  EXPECT_EQ(s.AddressText(), "10.20.30.40");
  EXPECT_FALSE(s.LocalHostName().empty());
}

TEST_F(StarSocketTest, ACloseWithoutConnectFiresOnClosedAndKeepsTheSocket) {
  TStarSocket s;
  ASSERT_TRUE(s.StartWinsock());
  s.CreateSocket();
  ASSERT_TRUE(s.HasSocket());
  int closed = 0;
  s.OnClosed = [&](TStarSocket*) { ++closed; };
  p::PostMessage(s.Window(), TStarSocket::kSocketEvent, s.Socket(), p::WSAMAKESELECTREPLY(p::FD_CLOSE, 0));
  loop_.RunPending();
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(s.HasSocket());
  // A notice naming another socket is not this one's.
  p::PostMessage(s.Window(), TStarSocket::kSocketEvent, s.Socket() + 1, p::WSAMAKESELECTREPLY(p::FD_CLOSE, 0));
  loop_.RunPending();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(s.CloseSocket(), 0);
  EXPECT_EQ(s.CloseSocket(), -1);
}

int fake_error = 0;
int NeverConnects(p::SOCKET, const p::SOCKADDR_IN*, int) {
  fake_error = p::WSAEWOULDBLOCK;
  return p::SOCKET_ERROR;
}
int FakeLastError() { return fake_error; }

TEST_F(StarSocketTest, AConnectWithoutAnswerTimesOutAfterItsSeconds) {
  p::WinsockProvider silent = p::PosixWinsockProvider();
  silent.connect = NeverConnects;
  silent.WSAGetLastError = FakeLastError;
  p::SetWinsockProvider(&silent);
  TStarSocket s;
  ASSERT_TRUE(s.StartWinsock());
  fake_error = 0;
  s.CreateSocket();
  ASSERT_TRUE(s.HasSocket());
  int timeouts = 0;
  bool socket_at_timeout = true;
  s.OnTimeout = [&](TStarSocket* sender) {
    ++timeouts;
    socket_at_timeout = sender->HasSocket();
  };
  s.TimeoutConnect = 1;
  s.SetAddress("127.0.0.1");
  s.SetPort(9);
  s.Connect();
  EXPECT_EQ(s.LastError(), 0) << "would-block counts as no error";
  loop_.RunFor(600);
  EXPECT_EQ(timeouts, 0);
  ASSERT_TRUE(loop_.RunUntil([&] { return timeouts > 0; }, 3000));
  loop_.RunFor(1200);
  EXPECT_EQ(timeouts, 1);
  EXPECT_FALSE(socket_at_timeout) << "the socket is closed before OnTimeout";
}

TEST_F(StarSocketTest, TheOwnerHandlerGetsThePrivateMessagesAboveTheSocketEvent) {
  struct Owner : TStarSocket {
    std::vector<p::UINT> got;
    Owner() {
      OwnerHandler = [this](p::UINT msg, p::WPARAM, p::LPARAM) { got.push_back(msg); };
    }
  } owner;
  p::PostMessage(owner.Window(), p::WM_USER + 2, 0, 0);
  p::PostMessage(owner.Window(), p::WM_USER + 7, 0, 0);
  loop_.RunPending();
  EXPECT_EQ(owner.got, (std::vector<p::UINT>{p::WM_USER + 2, p::WM_USER + 7}));
  EXPECT_EQ(p::SendMessage(owner.Window(), p::WM_QUERYENDSESSION, 0, 0), 1);
}

}  // namespace
}  // namespace kavrin::support
