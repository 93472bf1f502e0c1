#include "tests/apps/support/scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kavrin::testing {

namespace {
constexpr int kStepLimitMs = 4000;
}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerStep> steps) : steps_(std::move(steps)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listen_fd_, 1);
  socklen_t len = sizeof a;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) thread_.join();
  if (conn_ >= 0) ::close(conn_);
  ::close(listen_fd_);
}

std::string ScriptedPeer::Got() {
  if (thread_.joinable()) thread_.join();
  return got_;
}

bool ScriptedPeer::ReadMore(int timeout_ms) {
  if (closed_) return false;
  pollfd p{conn_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  char buffer[4096];
  const ssize_t n = ::recv(conn_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  got_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

void ScriptedPeer::Run() {
  pollfd p{listen_fd_, POLLIN, 0};
  if (::poll(&p, 1, kStepLimitMs) <= 0) return;
  conn_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (conn_ < 0) return;
  for (const PeerStep& step : steps_) {
    switch (step.kind) {
      case PeerStep::Send:
        if (::send(conn_, step.text.data(), step.text.size(), MSG_NOSIGNAL) < 0) return;
        break;
      case PeerStep::SendBytewise:
        for (char c : step.text) {
          if (::send(conn_, &c, 1, MSG_NOSIGNAL) < 0) return;
          ::usleep(1000);
        }
        break;
      case PeerStep::Line:
      case PeerStep::Data: {
        const std::string end = step.kind == PeerStep::Line ? "\n" : "\r\n.\r\n";
        const std::size_t from = step.kind == PeerStep::Data && seen_ >= 2 ? seen_ - 2 : seen_;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepLimitMs);
        std::size_t found;
        while ((found = got_.find(end, from)) == std::string::npos) {
          if (std::chrono::steady_clock::now() > limit) return;
          if (!ReadMore(100) && closed_) return;
        }
        seen_ = found + end.size();
        break;
      }
      case PeerStep::Wait: {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.ms);
        while (std::chrono::steady_clock::now() < limit && !closed_) ReadMore(20);
        seen_ = got_.size();
        break;
      }
      case PeerStep::Deaf: ::usleep(static_cast<useconds_t>(step.ms) * 1000); break;
      case PeerStep::Close:
        ::close(conn_);
        conn_ = -1;
        return;
      case PeerStep::Drain: {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepLimitMs);
        while (std::chrono::steady_clock::now() < limit) {
          pollfd q{conn_, POLLIN, 0};
          if (::poll(&q, 1, 100) <= 0) continue;
          char buffer[4096];
          const ssize_t n = ::recv(conn_, buffer, sizeof buffer, 0);
          if (n <= 0) return;
          got_.append(buffer, static_cast<std::size_t>(n));
        }
        return;
      }
    }
  }
}

}  // namespace kavrin::testing
