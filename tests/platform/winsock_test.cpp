#include "platform/winsock.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/poll_message_loop.h"

namespace kavrin::platform {
namespace {

constexpr UINT kNotice = WM_USER + 1;

struct Notice {
  WPARAM socket;
  int event;
  int error;
  bool operator==(const Notice&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Notice& n) {
  return os << "{socket " << n.socket << ", event " << n.event << ", error " << n.error << "}";
}

// A listening socket on 127.0.0.1 for the client under test to reach.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() {
    if (peer_ >= 0) ::close(peer_);
    ::close(fd_);
  }
  std::uint16_t Port() const { return port_; }
  int Accept() {
    peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return peer_;
  }
  void ClosePeer() {
    ::close(peer_);
    peer_ = -1;
  }

 private:
  int fd_ = -1;
  int peer_ = -1;
  std::uint16_t port_ = 0;
};

// A port nobody listens on: bound, then closed again.
std::uint16_t FreePort() {
  Listener l;
  return l.Port();
}

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLoop(&loop_);
    ws_ = LoadWinsockLibrary("WSOCK32.DLL");
    ASSERT_NE(ws_, nullptr);
    ASSERT_EQ(ws_->WSAStartup(0x0101, &data_), 0);
    window_ = AllocateHWnd([this](UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg == kNotice) notices_.push_back({w, WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l)});
      if (msg == WM_USER) lookups_.push_back({w, 0, WSAGETASYNCERROR(l)});
      return 0;
    });
  }
  void TearDown() override {
    DeallocateHWnd(window_);
    ws_->WSACleanup();
    SetHostResolver(nullptr);
    SetMessageLoop(nullptr);
  }
  SOCKET ConnectTo(std::uint16_t port) {
    SOCKET s = ws_->socket(AF_INET_WS, SOCK_STREAM_WS, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(ws_->WSAAsyncSelect(s, window_, kNotice, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
    SOCKADDR_IN a;
    a.sin_family = AF_INET_WS;
    a.sin_port = (ws_->htons)(port);
    a.sin_addr = ws_->inet_addr("127.0.0.1");
    const int r = ws_->connect(s, &a, sizeof a);
    EXPECT_TRUE(r == 0 || ws_->WSAGetLastError() == WSAEWOULDBLOCK) << ws_->WSAGetLastError();
    return s;
  }
  bool WaitFor(std::size_t count) {
    return loop_.RunUntil([&] { return notices_.size() >= count; }, 3000);
  }
  std::vector<int> Events() const {
    std::vector<int> events;
    for (const Notice& n : notices_) events.push_back(n.event);
    return events;
  }

  PollMessageLoop loop_;
  const WinsockProvider* ws_ = nullptr;
  WSADATA data_{};
  HWND window_ = 0;
  std::vector<Notice> notices_;
  std::vector<Notice> lookups_;
};

TEST(WinsockErrors, ErrnoValuesTakeWinsockNumbers) {
  const std::pair<int, int> table[] = {
      {0, 0},
      {EINTR, WSAEINTR},
      {EBADF, WSAEBADF},
      {EACCES, WSAEACCES},
      {EFAULT, WSAEFAULT},
      {EINVAL, WSAEINVAL},
      {EMFILE, WSAEMFILE},
      {ENFILE, WSAEMFILE},
      {EAGAIN, WSAEWOULDBLOCK},
      {EINPROGRESS, WSAEINPROGRESS},
      {EALREADY, WSAEALREADY},
      {ENOTSOCK, WSAENOTSOCK},
      {EMSGSIZE, WSAEMSGSIZE},
      {EOPNOTSUPP, WSAEOPNOTSUPP},
      {EAFNOSUPPORT, WSAEAFNOSUPPORT},
      {EADDRINUSE, WSAEADDRINUSE},
      {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
      {ENETDOWN, WSAENETDOWN},
      {ENETUNREACH, WSAENETUNREACH},
      {ENETRESET, WSAENETRESET},
      {ECONNABORTED, WSAECONNABORTED},
      {ECONNRESET, WSAECONNRESET},
      {EPIPE, WSAECONNRESET},
      {ENOBUFS, WSAENOBUFS},
      {ENOMEM, WSAENOBUFS},
      {EISCONN, WSAEISCONN},
      {ENOTCONN, WSAENOTCONN},
      {ESHUTDOWN, WSAESHUTDOWN},
      {ETIMEDOUT, WSAETIMEDOUT},
      {ECONNREFUSED, WSAECONNREFUSED},
      {EHOSTDOWN, WSAEHOSTDOWN},
      {EHOSTUNREACH, WSAEHOSTUNREACH},
      {ENAMETOOLONG, WSAENAMETOOLONG},
      {EIO, WSASYSCALLFAILURE},
  };
  for (const auto& [err, wsa] : table) EXPECT_EQ(WinsockErrorFromErrno(err), wsa) << "errno " << err;
  EXPECT_EQ(WinsockErrorFromResolver(EAI_NONAME), WSAHOST_NOT_FOUND);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_AGAIN), WSATRY_AGAIN);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_FAIL), WSANO_RECOVERY);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_NODATA), WSANO_DATA);
}

TEST(WinsockLibrary, OnlyWsock32OrNoNameLoads) {
  EXPECT_EQ(LoadWinsockLibrary("WSOCK32.DLL"), &PosixWinsockProvider());
  EXPECT_EQ(LoadWinsockLibrary("wsock32.dll"), &PosixWinsockProvider());
  EXPECT_EQ(LoadWinsockLibrary(""), &PosixWinsockProvider());
  EXPECT_EQ(LoadWinsockLibrary("WS2_32.DLL"), nullptr);
  EXPECT_EQ(LoadWinsockLibrary("WSOCK32.DLL "), nullptr);
  // Only the first 255 characters name the library.
  EXPECT_EQ(LoadWinsockLibrary("WSOCK32.DLL" + std::string(300, 'x')), nullptr);
  WinsockProvider fake = PosixWinsockProvider();
  SetWinsockProvider(&fake);
  EXPECT_EQ(LoadWinsockLibrary(""), &fake);
  SetWinsockProvider(nullptr);
  EXPECT_EQ(LoadWinsockLibrary(""), &PosixWinsockProvider());
}

TEST(WinsockLibrary, CallsBeforeStartupFailAsNotInitialised) {
  const WinsockProvider& ws = PosixWinsockProvider();
  EXPECT_EQ(ws.socket(AF_INET_WS, SOCK_STREAM_WS, 0), INVALID_SOCKET);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  char name[64];
  EXPECT_EQ(ws.gethostname(name, sizeof name), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
  WSADATA data;
  EXPECT_EQ(ws.WSAStartup(0x0001, &data), WSAVERNOTSUPPORTED);
  ASSERT_EQ(ws.WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_GT(data.iMaxSockets, 0);
  EXPECT_NE(std::strlen(data.szDescription), 0u);
  EXPECT_EQ(ws.WSACleanup(), 0);
  EXPECT_EQ(ws.WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(ws.WSAGetLastError(), WSANOTINITIALISED);
}

TEST(WinsockLibrary, AddressTextsConvertBothWays) {
  const WinsockProvider& ws = PosixWinsockProvider();
  const u_long a = ws.inet_addr("192.168.1.20");
  const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
  EXPECT_EQ(b[0], 192);
  EXPECT_EQ(b[3], 20);
  EXPECT_STREQ(ws.inet_ntoa(a), "192.168.1.20");
  EXPECT_EQ(ws.inet_addr("mail.example.com"), INADDR_NONE_WS);
  EXPECT_EQ(ws.inet_addr(""), INADDR_NONE_WS);
  EXPECT_EQ((ws.htons)(25), htons(25));
}

TEST_F(WinsockTest, ARefusedConnectGivesOneConnectNoticeWithTheError) {
  const SOCKET s = ConnectTo(FreePort());
  ASSERT_TRUE(WaitFor(1));
  loop_.RunFor(150);
  EXPECT_EQ(notices_, (std::vector<Notice>{{s, FD_CONNECT, WSAECONNREFUSED}}));
  EXPECT_EQ(ws_->closesocket(s), 0);
}

TEST_F(WinsockTest, ReadNoticeWaitsForRecvBeforeItComesAgain) {
  Listener listener;
  const SOCKET s = ConnectTo(listener.Port());
  const int peer = listener.Accept();
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(Events(), (std::vector<int>{FD_CONNECT, FD_WRITE}));
  EXPECT_EQ(notices_[0].error, 0);
  notices_.clear();

  ASSERT_EQ(::send(peer, "abcdef", 6, 0), 6);
  ASSERT_TRUE(WaitFor(1));
  loop_.RunFor(100);
  EXPECT_EQ(Events(), (std::vector<int>{FD_READ})) << "no second notice before recv";
  char buf[4];
  ASSERT_EQ(ws_->recv(s, buf, 3, 0), 3);
  // Data is still waiting: recv arms the notice again.
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(Events(), (std::vector<int>{FD_READ, FD_READ}));
  ASSERT_EQ(ws_->recv(s, buf, 3, 0), 3);
  loop_.RunFor(100);
  EXPECT_EQ(notices_.size(), 2u);
  EXPECT_EQ(ws_->recv(s, buf, 3, 0), SOCKET_ERROR);
  EXPECT_EQ(ws_->WSAGetLastError(), WSAEWOULDBLOCK);
  ws_->closesocket(s);
}

TEST_F(WinsockTest, CloseAfterDataGivesReadThenOneClose) {
  Listener listener;
  const SOCKET s = ConnectTo(listener.Port());
  const int peer = listener.Accept();
  ASSERT_TRUE(WaitFor(2));
  notices_.clear();
  ASSERT_EQ(::send(peer, "221 bye\r\n", 9, 0), 9);
  listener.ClosePeer();
  ASSERT_TRUE(WaitFor(1));
  loop_.RunFor(100);
  EXPECT_EQ(Events(), (std::vector<int>{FD_READ})) << "the close waits for the data to be read";
  char buf[64];
  EXPECT_EQ(ws_->recv(s, buf, sizeof buf, 0), 9);
  EXPECT_EQ(ws_->recv(s, buf, sizeof buf, 0), 0);
  ASSERT_TRUE(WaitFor(2));
  loop_.RunFor(100);
  EXPECT_EQ(notices_, (std::vector<Notice>{{s, FD_READ, 0}, {s, FD_CLOSE, 0}}));
  ws_->closesocket(s);
}

TEST_F(WinsockTest, AClosedSocketsQueuedNoticesNeverReachTheSocketThatReusesItsNumber) {
  Listener listener;
  const SOCKET first = ConnectTo(listener.Port());
  const int peer = listener.Accept();
  ASSERT_TRUE(WaitFor(2));
  notices_.clear();
  // A handler that, before the socket's read notice is delivered, closes it and opens another.
  SOCKET second = INVALID_SOCKET;
  HWND closer = AllocateHWnd([&](UINT, WPARAM, LPARAM) -> LRESULT {
    EXPECT_EQ(ws_->closesocket(first), 0);
    second = ws_->socket(AF_INET_WS, SOCK_STREAM_WS, 0);
    EXPECT_EQ(ws_->WSAAsyncSelect(second, window_, kNotice, FD_READ | FD_CLOSE), 0);
    return 0;
  });
  ASSERT_EQ(::send(peer, "x", 1, 0), 1);
  ::usleep(20000);
  PostMessage(closer, WM_USER, 0, 0);
  loop_.RunPending();  // the read notice is queued behind the closer's message
  loop_.RunFor(150);
  ASSERT_EQ(second, first) << "the descriptor is reused";
  EXPECT_TRUE(notices_.empty()) << notices_.front();
  DeallocateHWnd(closer);
  ws_->closesocket(second);
}

TEST_F(WinsockTest, NoticesForADestroyedWindowAreDropped) {
  Listener listener;
  std::vector<Notice> got;
  HWND other = AllocateHWnd([&](UINT, WPARAM w, LPARAM l) -> LRESULT {
    got.push_back({w, WSAGETSELECTEVENT(l), WSAGETSELECTERROR(l)});
    return 0;
  });
  const SOCKET s = ws_->socket(AF_INET_WS, SOCK_STREAM_WS, 0);
  ASSERT_EQ(ws_->WSAAsyncSelect(s, other, kNotice, FD_CONNECT | FD_READ | FD_CLOSE), 0);
  SOCKADDR_IN a;
  a.sin_family = AF_INET_WS;
  a.sin_port = (ws_->htons)(listener.Port());
  a.sin_addr = ws_->inet_addr("127.0.0.1");
  ws_->connect(s, &a, sizeof a);
  DeallocateHWnd(other);
  loop_.RunFor(150);
  EXPECT_TRUE(got.empty());
  ws_->closesocket(s);
}

TEST_F(WinsockTest, WriteNoticeComesWhenAFullSocketTakesDataAgain) {
  Listener listener;
  const SOCKET s = ConnectTo(listener.Port());
  const int peer = listener.Accept();
  ASSERT_TRUE(WaitFor(2));
  notices_.clear();
  std::string block(65536, 'z');
  long total = 0;
  while (true) {
    const int n = ws_->send(s, block.data(), static_cast<int>(block.size()), 0);
    if (n == SOCKET_ERROR) {
      EXPECT_EQ(ws_->WSAGetLastError(), WSAEWOULDBLOCK);
      break;
    }
    total += n;
    ASSERT_LT(total, 64L << 20);
  }
  loop_.RunFor(50);
  EXPECT_TRUE(notices_.empty());
  std::vector<char> sink(1 << 20);
  while (total > 0) {
    const ssize_t n = ::recv(peer, sink.data(), sink.size(), 0);
    ASSERT_GT(n, 0);
    total -= n;
    if (!notices_.empty()) break;
    loop_.RunPending();
  }
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(Events(), (std::vector<int>{FD_WRITE}));
  ws_->closesocket(s);
}

TEST_F(WinsockTest, SendingToAPeerThatWentAwayIsAResetNotASignal) {
  Listener listener;
  const SOCKET s = ConnectTo(listener.Port());
  listener.Accept();
  ASSERT_TRUE(WaitFor(2));
  listener.ClosePeer();
  int error = 0;
  for (int i = 0; i < 50 && error == 0; ++i) {
    if (ws_->send(s, "data", 4, 0) == SOCKET_ERROR) error = ws_->WSAGetLastError();
    ::usleep(2000);
  }
  EXPECT_EQ(error, WSAECONNRESET);
  ws_->closesocket(s);
}

TEST_F(WinsockTest, UnknownSocketsAreRefused) {
  EXPECT_EQ(ws_->closesocket(0), SOCKET_ERROR);
  EXPECT_EQ(ws_->WSAGetLastError(), WSAENOTSOCK);
  char c;
  EXPECT_EQ(ws_->recv(12345, &c, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(ws_->WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, LookupAnswersWithTheHostEntryByMessage) {
  SetHostResolver([](const std::string& name, std::vector<std::array<std::uint8_t, 4>>* out) {
    if (name != "mail.example.com") return WSAHOST_NOT_FOUND;
    out->push_back({10, 1, 2, 3});
    out->push_back({10, 1, 2, 4});
    return 0;
  });
  alignas(HOSTENT) char buffer[MAXGETHOSTSTRUCT];
  const ASYNC_HANDLE h = ws_->WSAAsyncGetHostByName(window_, WM_USER, "mail.example.com", buffer, sizeof buffer);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(loop_.RunUntil([&] { return !lookups_.empty(); }, 3000));
  EXPECT_EQ(lookups_[0].socket, h);
  EXPECT_EQ(lookups_[0].error, 0);
  HOSTENT entry;
  std::memcpy(&entry, buffer, sizeof entry);
  EXPECT_STREQ(entry.h_name, "mail.example.com");
  EXPECT_EQ(entry.h_length, 4);
  ASSERT_NE(entry.h_addr_list[0], nullptr);
  EXPECT_EQ(std::memcmp(entry.h_addr_list[0], "\x0a\x01\x02\x03", 4), 0);
  EXPECT_EQ(std::memcmp(entry.h_addr_list[1], "\x0a\x01\x02\x04", 4), 0);
  EXPECT_EQ(entry.h_addr_list[2], nullptr);

  lookups_.clear();
  ASSERT_NE(ws_->WSAAsyncGetHostByName(window_, WM_USER, "nowhere", buffer, sizeof buffer), 0u);
  ASSERT_TRUE(loop_.RunUntil([&] { return !lookups_.empty(); }, 3000));
  EXPECT_EQ(lookups_[0].error, WSAHOST_NOT_FOUND);

  // A buffer too small for the entry is an error, never an overrun.
  lookups_.clear();
  alignas(HOSTENT) char small[40];
  ASSERT_NE(ws_->WSAAsyncGetHostByName(window_, WM_USER, "mail.example.com", small, sizeof small), 0u);
  ASSERT_TRUE(loop_.RunUntil([&] { return !lookups_.empty(); }, 3000));
  EXPECT_EQ(lookups_[0].error, WSAENOBUFS);
}

TEST_F(WinsockTest, ACancelledLookupNeverAnswers) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> finished{0};
  SetHostResolver([&](const std::string&, std::vector<std::array<std::uint8_t, 4>>* out) {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return release; });
    out->push_back({127, 0, 0, 1});
    ++finished;
    return 0;
  });
  alignas(HOSTENT) char buffer[MAXGETHOSTSTRUCT] = {};
  const ASYNC_HANDLE h = ws_->WSAAsyncGetHostByName(window_, WM_USER, "slow", buffer, sizeof buffer);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(ws_->WSACancelAsyncRequest(h), 0);
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  ASSERT_TRUE(loop_.RunUntil([&] { return finished == 1; }, 3000));
  loop_.RunFor(100);
  EXPECT_TRUE(lookups_.empty());
  EXPECT_EQ(buffer[0], 0) << "a cancelled look-up leaves the buffer alone";
  EXPECT_EQ(ws_->WSACancelAsyncRequest(h), SOCKET_ERROR);
  EXPECT_EQ(ws_->WSAGetLastError(), WSAEINVAL);
}

TEST_F(WinsockTest, ALookupCancelledAfterItsAnswerWasQueuedStillNeverAnswers) {
  std::atomic<bool> resolved{false};
  SetHostResolver([&](const std::string&, std::vector<std::array<std::uint8_t, 4>>* out) {
    out->push_back({127, 0, 0, 1});
    resolved = true;
    return 0;
  });
  alignas(HOSTENT) char buffer[MAXGETHOSTSTRUCT];
  const ASYNC_HANDLE h = ws_->WSAAsyncGetHostByName(window_, WM_USER, "quick", buffer, sizeof buffer);
  while (!resolved) ::usleep(1000);
  ::usleep(20000);  // the answer is queued now
  ws_->WSACancelAsyncRequest(h);
  loop_.RunFor(100);
  EXPECT_TRUE(lookups_.empty());
}

}  // namespace
}  // namespace kavrin::platform
