#include "tests/apps/support/smtp_server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kavrin::testing {

namespace {

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace

std::string ServerMessage::First(const std::string& kind) const {
  for (const auto& r : records)
    if (!r.empty() && r[0] == kind) return r.size() > 1 ? r[1] : std::string();
  return {};
}

std::vector<std::vector<std::string>> ServerMessage::All(const std::string& kind) const {
  std::vector<std::vector<std::string>> found;
  for (const auto& r : records)
    if (!r.empty() && r[0] == kind) found.emplace_back(r.begin() + 1, r.end());
  return found;
}

SmtpServerProcess::SmtpServerProcess(const std::string& dir) : dir_(dir) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const std::string script = KAVRIN_SMTP_SERVER_SCRIPT;
  std::string python = "/usr/bin/python3", deadline = "60";
  char* argv[] = {python.data(), const_cast<char*>(script.c_str()), dir_.data(), deadline.data(), nullptr};
  const int started = ::posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  to_child_ = in[1];
  if (started != 0) {
    pid_ = -1;
    ::close(out[0]);
    return;
  }
  std::string line;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < limit) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[64];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (line.find('\n') != std::string::npos) port_ = static_cast<std::uint16_t>(std::atoi(line.c_str()));
}

SmtpServerProcess::~SmtpServerProcess() {
  if (to_child_ >= 0) ::close(to_child_);  // the server ends when its input closes
  if (pid_ <= 0) return;
  for (int i = 0; i < 100; ++i) {
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::optional<ServerMessage> SmtpServerProcess::Message(int n) const {
  std::ifstream in(dir_ + "/" + std::to_string(n) + ".txt");
  if (!in) return std::nullopt;
  ServerMessage message;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, '\t')) fields.push_back(fields.empty() || field.empty() ? field : Unhex(field));
    if (!fields.empty() && fields[0] == "defects" && line.find('\t') != std::string::npos)
      fields[1] = line.substr(line.find('\t') + 1);
    message.records.push_back(std::move(fields));
  }
  return message;
}

int SmtpServerProcess::Count() const {
  int n = 0;
  while (std::ifstream(dir_ + "/" + std::to_string(n + 1) + ".txt")) ++n;
  return n;
}

}  // namespace kavrin::testing
