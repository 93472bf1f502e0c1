// The real SMTP server of the tests (smtp_server.py on aiosmtpd) as a second process, and its
// records of the messages it took.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kavrin::testing {

// One message as the server saw it: every record's fields, the texts decoded from hex.
struct ServerMessage {
  std::vector<std::vector<std::string>> records;

  std::string First(const std::string& kind) const;  // the first field of the first record of kind
  std::vector<std::vector<std::string>> All(const std::string& kind) const;
};

class SmtpServerProcess {
 public:
  // Starts the server with /usr/bin/python3, its files in dir; Port() is 0 when it did not start.
  explicit SmtpServerProcess(const std::string& dir);
  ~SmtpServerProcess();
  SmtpServerProcess(const SmtpServerProcess&) = delete;
  SmtpServerProcess& operator=(const SmtpServerProcess&) = delete;

  std::uint16_t Port() const { return port_; }
  // Message number n (from 1), once the server has written it.
  std::optional<ServerMessage> Message(int n) const;
  int Count() const;

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int to_child_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace kavrin::testing
