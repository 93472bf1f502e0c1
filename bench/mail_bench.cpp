// Messages per second that SendMail delivers over loopback: on one kept connection, and on a new
// connection for each message. The peer is a minimal SMTP server on a thread of its own that
// answers every command at once, so the figures are the client's and the socket's; --port=N sends
// to a server already listening on 127.0.0.1:N instead (the tests' aiosmtpd server, for one).
//
//   mail_bench [--messages=N] [--text=BYTES] [--port=N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "apps/support/Inetmail.h"
#include "platform/poll_message_loop.h"

namespace {

using kavrin::support::SendMail;
using kavrin::support::TMailAction;

// One connection at a time, every command answered at once; stops when told.
class MinimalPeer {
 public:
  MinimalPeer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0) std::abort();
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~MinimalPeer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  static void Say(int fd, const char* text) {
    if (::send(fd, text, std::strlen(text), MSG_NOSIGNAL) < 0) return;
  }

  void Serve(int fd) {
    Say(fd, "220 bench ready\r\n");
    std::string got;
    bool in_data = false;
    char buffer[65536];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      got.append(buffer, static_cast<std::size_t>(n));
      while (true) {
        if (in_data) {
          const std::size_t end = got.find("\r\n.\r\n");
          if (end == std::string::npos) {
            // Keep only what could still hold the start of the end mark.
            if (got.size() > 4) got.erase(0, got.size() - 4);
            break;
          }
          got.erase(0, end + 5);
          in_data = false;
          Say(fd, "250 queued\r\n");
          continue;
        }
        const std::size_t end = got.find("\r\n");
        if (end == std::string::npos) break;
        const std::string line = got.substr(0, end);
        got.erase(0, end + 2);
        if (line == "DATA") {
          in_data = true;
          // The data may begin with its end mark's line end already eaten: look from a line start.
          got.insert(0, "\r\n");
          Say(fd, "354 go\r\n");
        } else if (line == "QUIT") {
          Say(fd, "221 bye\r\n");
          return;
        } else {
          Say(fd, "250 ok\r\n");
        }
      }
    }
  }

  void Run() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Serve(fd);
      ::close(fd);
    }
  }

  int listen_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Sends count messages, each started from the previous one's OnDone; returns messages/s, or a
// negative figure when a send failed or the whole run took longer than a minute.
double Run(kavrin::platform::PollMessageLoop& loop, std::uint16_t port, int count, std::size_t text_bytes, bool keep) {
  SendMail mail;
  mail.SetSMTP_Server("127.0.0.1");
  mail.SMTP_Port = port;
  mail.FROM_Name = "Bench";
  mail.FROM_Address = "bench@example.com";
  mail.Subject = "Benchmark";
  mail.MailText = {std::string(text_bytes, 'x')};
  mail.KeepConnectionOpen = keep;
  int done = 0;
  bool failed = false;
  auto start_one = [&mail] {
    mail.TO_Address = "support@example.com";
    mail.SetAction(TMailAction::Send_Mail);
  };
  mail.OnDone = [&](SendMail*) {
    if (!mail.MessageSent) failed = true;
    if (++done < count && !failed) start_one();
  };
  const auto t0 = std::chrono::steady_clock::now();
  start_one();
  const bool finished = loop.RunUntil([&] { return done >= count || failed; }, 60000);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (keep && mail.Connected()) mail.SetAction(TMailAction::Cancel_SendMail);  // closes the kept connection
  loop.RunFor(50);
  if (!finished || failed) return -1;
  return count / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int messages = 500;
  std::size_t text = 2000;
  int port = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--messages=", 0) == 0)
      messages = std::atoi(arg.c_str() + 11);
    else if (arg.rfind("--text=", 0) == 0)
      text = static_cast<std::size_t>(std::atol(arg.c_str() + 7));
    else if (arg.rfind("--port=", 0) == 0)
      port = std::atoi(arg.c_str() + 7);
    else {
      std::fprintf(stderr, "usage: mail_bench [--messages=N] [--text=BYTES] [--port=N]\n");
      return 2;
    }
  }
  kavrin::platform::PollMessageLoop loop;
  kavrin::platform::SetMessageLoop(&loop);
  MinimalPeer peer;
  const std::uint16_t to = port > 0 ? static_cast<std::uint16_t>(port) : peer.Port();
  std::printf("%d messages of %zu text bytes to 127.0.0.1:%u (%s)\n", messages, text, to,
              port > 0 ? "given server" : "minimal peer");
  const double kept = Run(loop, to, messages, text, true);
  const double fresh = Run(loop, to, messages, text, false);
  std::printf("kept connection:           %10.1f messages/s\n", kept);
  std::printf("new connection each:       %10.1f messages/s\n", fresh);
  kavrin::platform::SetMessageLoop(nullptr);
  return kept > 0 && fresh > 0 ? 0 : 1;
}
