// The hidden message windows on Qt's loop, as the programs run them: the application installs the
// loop, and only Qt's own event processing drives it here.
#include "classlib/widgets/qt_message_loop.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_window.h"
#include "platform/ticks.h"
#include "platform/winsock.h"
#include "tests/classlib/widgets/widget_test_support.h"

namespace kavrin::classlib {
namespace {

namespace p = platform;

struct Got {
  p::UINT msg;
  p::WPARAM wparam;
  bool operator==(const Got&) const = default;
};

// A connected TCP pair on 127.0.0.1.
struct LoopbackPair {
  LoopbackPair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener, 1) == 0 &&
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ::close(listener);
  }
  ~LoopbackPair() {
    if (client >= 0) ::close(client);
    if (server >= 0) ::close(server);
  }
  int client = -1;
  int server = -1;
};

// A port nobody listens on: bound, then closed again.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class QtMessageLoopTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    Application().OnException = [this](TComponent* sender, const std::exception& e) {
      handled_.push_back(e.what());
      senders_.push_back(sender);
    };
  }
  void TearDown() override {
    for (p::HWND w : windows_) p::DeallocateHWnd(w);
    WidgetTest::TearDown();
  }
  p::HWND Recording(std::vector<Got>* got) {
    p::HWND w = p::AllocateHWnd([got](p::UINT m, p::WPARAM wp, p::LPARAM) -> p::LRESULT {
      got->push_back({m, wp});
      return 0;
    });
    windows_.push_back(w);
    return w;
  }
  static p::MessageLoop& Loop() { return p::CurrentMessageLoop(); }

  std::vector<p::HWND> windows_;
  std::vector<std::string> handled_;
  std::vector<TComponent*> senders_;
};

TEST_F(QtMessageLoopTest, TheApplicationRunsTheWindowsOnQt) {
  EXPECT_NE(dynamic_cast<QtMessageLoop*>(&Loop()), nullptr);
}

TEST_F(QtMessageLoopTest, PostedMessagesArriveInOrderFromQtsLoop) {
  std::vector<Got> got;
  const p::HWND w = Recording(&got);
  for (p::WPARAM i = 1; i <= 5; ++i) ASSERT_TRUE(p::PostMessage(w, p::WM_USER + (i % 2), i, 0));
  EXPECT_TRUE(got.empty()) << "posting delivers nothing by itself";
  ASSERT_TRUE(testing::PumpUntil([&] { return got.size() >= 5; }));
  testing::PumpIdle();
  EXPECT_EQ(got, (std::vector<Got>{
                     {p::WM_USER + 1, 1}, {p::WM_USER, 2}, {p::WM_USER + 1, 3}, {p::WM_USER, 4}, {p::WM_USER + 1, 5}}));
}

TEST_F(QtMessageLoopTest, PostsFromOtherThreadsArriveInTheirOrderAfterEarlierOnes) {
  std::vector<Got> got;
  const p::HWND w = Recording(&got);
  p::PostMessage(w, p::WM_USER, 0, 0);
  std::thread poster([w] {
    for (p::WPARAM i = 1; i <= 100; ++i) p::PostMessage(w, p::WM_USER, i, 0);
  });
  ASSERT_TRUE(testing::PumpUntil([&] { return got.size() >= 101; }));
  poster.join();
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].wparam, i);
}

TEST_F(QtMessageLoopTest, APostFromAHandlerArrivesAfterTheOthersAndNestedRunsKeepTheOrder) {
  std::vector<p::WPARAM> order;
  p::HWND w = 0;
  w = p::AllocateHWnd([&](p::UINT, p::WPARAM wp, p::LPARAM) -> p::LRESULT {
    order.push_back(wp);
    if (wp == 1) p::PostMessage(w, p::WM_USER, 9, 0);
    if (wp == 2) p::ProcessPendingMessages();  // the engine's lock wait runs the loop inside a handler
    return 0;
  });
  windows_.push_back(w);
  for (p::WPARAM i = 1; i <= 3; ++i) p::PostMessage(w, p::WM_USER, i, 0);
  ASSERT_TRUE(testing::PumpUntil([&] { return order.size() >= 4; }));
  testing::PumpIdle();
  EXPECT_EQ(order, (std::vector<p::WPARAM>{1, 2, 3, 9}));
}

TEST_F(QtMessageLoopTest, WindowTimersRepeatUntilKilled) {
  std::vector<Got> got;
  const p::HWND w = Recording(&got);
  ASSERT_TRUE(p::SetTimer(w, 7, 20));
  ASSERT_TRUE(testing::PumpUntil([&] { return got.size() >= 3; }));
  for (const Got& g : got) EXPECT_EQ(g, (Got{p::WM_TIMER, 7}));
  ASSERT_TRUE(p::KillTimer(w, 7));
  got.clear();
  testing::PumpIdle(100);
  EXPECT_TRUE(got.empty());
}

TEST_F(QtMessageLoopTest, TheOneSecondTimerFiresAboutOnceASecond) {
  std::vector<Got> got;
  const p::HWND w = Recording(&got);
  const std::uint32_t start = p::GetTickCount();
  ASSERT_TRUE(p::SetTimer(w, 1, 1000));
  ASSERT_TRUE(testing::PumpUntil([&] { return !got.empty(); }, 3000));
  const std::uint32_t took = p::GetTickCount() - start;
  EXPECT_GE(took, 900u);
  EXPECT_EQ(got, (std::vector<Got>{{p::WM_TIMER, 1}}));
  p::KillTimer(w, 1);
}

TEST_F(QtMessageLoopTest, ATimerMayRemoveItselfAndOthersFromItsCallback) {
  int first = 0;
  int second = 0;
  int other = 0;
  int self = 0;
  other = Loop().AddTimer(5, [&] { ++second; });
  self = Loop().AddTimer(5, [&] {
    ++first;
    Loop().RemoveTimer(self);
    Loop().RemoveTimer(other);
  });
  testing::PumpIdle(100);
  EXPECT_EQ(first, 1);
  EXPECT_LE(second, 1);
}

TEST_F(QtMessageLoopTest, WatchesReportWhatTheyAskForOnALoopbackPair) {
  LoopbackPair pair;
  ASSERT_GE(pair.server, 0);
  std::vector<std::pair<bool, bool>> seen;
  const int id = Loop().AddWatch(pair.client, [&](bool r, bool w) { seen.emplace_back(r, w); });
  testing::PumpIdle(50);
  EXPECT_TRUE(seen.empty()) << "nothing until SetWatch asks";

  Loop().SetWatch(id, false, true);
  ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.front(), std::make_pair(false, true));

  // Reading only: silent until the peer sends, then readable.
  Loop().SetWatch(id, true, false);
  testing::PumpIdle(20);
  seen.clear();
  testing::PumpIdle(50);
  EXPECT_TRUE(seen.empty());
  ASSERT_EQ(::send(pair.server, "x", 1, 0), 1);
  ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.front(), std::make_pair(true, false));
  char c;
  ASSERT_EQ(::recv(pair.client, &c, 1, 0), 1);

  // Switched off, the peer's close shows nothing; switched on again, it is readable.
  Loop().SetWatch(id, false, false);
  ::close(pair.server);
  pair.server = -1;
  testing::PumpIdle(20);
  seen.clear();
  testing::PumpIdle(50);
  EXPECT_TRUE(seen.empty());
  Loop().SetWatch(id, true, false);
  ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.front(), std::make_pair(true, false));
  Loop().RemoveWatch(id);
}

TEST_F(QtMessageLoopTest, AFailedDescriptorIsReadableAndWritableForWhatIsAsked) {
  // A reset connection: the peer closes with data unread, so the client's socket fails.
  LoopbackPair pair;
  ASSERT_GE(pair.server, 0);
  ASSERT_EQ(::send(pair.client, "unread", 6, 0), 6);
  testing::PumpIdle(20);
  ::close(pair.server);
  pair.server = -1;
  std::vector<std::pair<bool, bool>> seen;
  const int id = Loop().AddWatch(pair.client, [&](bool r, bool w) { seen.emplace_back(r, w); });
  Loop().SetWatch(id, true, true);
  ASSERT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.front(), std::make_pair(true, true));
  Loop().RemoveWatch(id);

  // Pipes whose other end went away report only a hang-up or an error, never plain data or room.
  struct Case {
    bool watch_reader;
    bool read, write;
  };
  for (const Case c :
       {Case{true, true, false}, Case{true, true, true}, Case{false, false, true}, Case{false, true, true}}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int watched = c.watch_reader ? fds[0] : fds[1];
    ::close(c.watch_reader ? fds[1] : fds[0]);
    seen.clear();
    const int pipe_watch = Loop().AddWatch(watched, [&](bool r, bool w) { seen.emplace_back(r, w); });
    Loop().SetWatch(pipe_watch, c.read, c.write);
    EXPECT_TRUE(testing::PumpUntil([&] { return !seen.empty(); }, 1000))
        << "reader " << c.watch_reader << " read " << c.read << " write " << c.write;
    if (!seen.empty()) {
      EXPECT_EQ(seen.front(), std::make_pair(c.read, c.write));
    }
    Loop().RemoveWatch(pipe_watch);
    ::close(watched);
  }
}

TEST_F(QtMessageLoopTest, AWatchRemovedFromItsCallbackIsNotCalledAgain) {
  LoopbackPair pair;
  ASSERT_GE(pair.server, 0);
  int calls = 0;
  int id = 0;
  id = Loop().AddWatch(pair.client, [&](bool, bool) {
    ++calls;
    Loop().RemoveWatch(id);
    ::close(pair.client);  // as closesocket does right after
    pair.client = -1;
  });
  Loop().SetWatch(id, true, true);
  ::send(pair.server, "x", 1, 0);
  ASSERT_TRUE(testing::PumpUntil([&] { return calls > 0; }));
  testing::PumpIdle(50);
  EXPECT_EQ(calls, 1);
}

TEST_F(QtMessageLoopTest, SocketNoticesOfAConnectAndARefusedConnectComeByMessage) {
  const p::WinsockProvider* ws = p::LoadWinsockLibrary("WSOCK32.DLL");
  ASSERT_NE(ws, nullptr);
  p::WSADATA data{};
  ASSERT_EQ(ws->WSAStartup(0x0101, &data), 0);
  std::vector<std::pair<int, int>> notices;  // event, error
  const p::HWND w = p::AllocateHWnd([&](p::UINT msg, p::WPARAM, p::LPARAM l) -> p::LRESULT {
    if (msg == p::WM_USER + 1) notices.emplace_back(p::WSAGETSELECTEVENT(l), p::WSAGETSELECTERROR(l));
    return 0;
  });
  windows_.push_back(w);
  auto connect_to = [&](std::uint16_t port) {
    const p::SOCKET s = ws->socket(p::AF_INET_WS, p::SOCK_STREAM_WS, 0);
    EXPECT_EQ(ws->WSAAsyncSelect(s, w, p::WM_USER + 1, p::FD_READ | p::FD_WRITE | p::FD_CONNECT | p::FD_CLOSE), 0);
    p::SOCKADDR_IN a;
    a.sin_family = p::AF_INET_WS;
    a.sin_port = (ws->htons)(port);
    a.sin_addr = ws->inet_addr("127.0.0.1");
    ws->connect(s, &a, sizeof a);
    return s;
  };

  const p::SOCKET refused = connect_to(FreePort());
  ASSERT_TRUE(testing::PumpUntil([&] { return !notices.empty(); }));
  testing::PumpIdle(50);
  EXPECT_EQ(notices, (std::vector<std::pair<int, int>>{{p::FD_CONNECT, p::WSAECONNREFUSED}}));
  ws->closesocket(refused);

  // A listener that sends a greeting and closes.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  notices.clear();
  const p::SOCKET s = connect_to(ntohs(a.sin_port));
  const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_TRUE(testing::PumpUntil([&] { return notices.size() >= 2; }));
  ASSERT_EQ(::send(peer, "220 hi\r\n", 8, 0), 8);
  ::close(peer);
  ASSERT_TRUE(testing::PumpUntil([&] { return notices.size() >= 3; }));
  char buf[32];
  EXPECT_EQ(ws->recv(s, buf, sizeof buf, 0), 8);
  ASSERT_TRUE(testing::PumpUntil([&] { return notices.size() >= 4; }));
  testing::PumpIdle(50);
  EXPECT_EQ(notices, (std::vector<std::pair<int, int>>{
                         {p::FD_CONNECT, 0}, {p::FD_WRITE, 0}, {p::FD_READ, 0}, {p::FD_CLOSE, 0}}));
  ws->closesocket(s);
  ::close(listener);
  ws->WSACleanup();
}

TEST_F(QtMessageLoopTest, WhatCallbacksThrowReachTheApplicationsHandler) {
  // A throwing window procedure: the rest of its batch still arrives.
  std::vector<p::WPARAM> order;
  const p::HWND w = p::AllocateHWnd([&](p::UINT msg, p::WPARAM wp, p::LPARAM) -> p::LRESULT {
    if (msg == p::WM_TIMER) throw std::runtime_error("timer failed");
    order.push_back(wp);
    if (wp == 1) throw std::runtime_error("message failed");
    return 0;
  });
  windows_.push_back(w);
  p::PostMessage(w, p::WM_USER, 1, 0);
  p::PostMessage(w, p::WM_USER, 2, 0);
  ASSERT_TRUE(testing::PumpUntil([&] { return order.size() >= 2; }));
  EXPECT_EQ(order, (std::vector<p::WPARAM>{1, 2}));
  EXPECT_EQ(handled_, (std::vector<std::string>{"message failed"}));
  EXPECT_EQ(senders_, (std::vector<TComponent*>{&Application()}));

  handled_.clear();
  p::SetTimer(w, 3, 10);
  ASSERT_TRUE(testing::PumpUntil([&] { return !handled_.empty(); }));
  p::KillTimer(w, 3);
  EXPECT_EQ(handled_.front(), "timer failed");

  handled_.clear();
  LoopbackPair pair;
  ASSERT_GE(pair.server, 0);
  const int id = Loop().AddWatch(pair.client, [](bool, bool) { throw std::runtime_error("notice failed"); });
  Loop().SetWatch(id, false, true);
  ASSERT_TRUE(testing::PumpUntil([&] { return !handled_.empty(); }));
  Loop().RemoveWatch(id);
  EXPECT_EQ(handled_.front(), "notice failed");
}

TEST_F(QtMessageLoopTest, WaitMessageIsBoundedAndEndsWhenAPostArrives) {
  testing::PumpIdle(5);
  std::uint32_t start = p::GetTickCount();
  p::WaitMessage(100);
  EXPECT_LT(p::GetTickCount() - start, 2000u);

  std::vector<Got> got;
  const p::HWND w = Recording(&got);
  testing::PumpIdle(5);
  std::thread poster([w] {
    p::Sleep(30);
    p::PostMessage(w, p::WM_USER, 5, 0);
  });
  start = p::GetTickCount();
  while (got.empty() && p::GetTickCount() - start < 4000) p::WaitMessage(5000);
  poster.join();
  EXPECT_EQ(got, (std::vector<Got>{{p::WM_USER, 5}}));
  EXPECT_LT(p::GetTickCount() - start, 3000u);
}

}  // namespace
}  // namespace kavrin::classlib
