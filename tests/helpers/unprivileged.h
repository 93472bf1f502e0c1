// Runs a step as an unprivileged user, so that file permissions bite even when the tests run as root.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>

namespace kavrin::testing {

// The step's result (0 to 250) from a child process running as "nobody" when the tests run as root, or
// in this process otherwise; nothing when the user cannot be changed.
inline std::optional<int> RunUnprivileged(const std::function<int()>& step) {
  if (geteuid() != 0) return step();
  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
    const int result = step();
    _exit(result < 0 || result > 250 ? 250 : result);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace kavrin::testing
