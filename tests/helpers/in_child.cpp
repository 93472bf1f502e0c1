#include "tests/helpers/in_child.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>

namespace kavrin::testing {

std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    close(fds[0]);
    std::string problems;
    try {
      problems = body();
    } catch (const std::exception& error) {
      problems += error.what();
    } catch (...) {
      problems += "an exception";
    }
    const bool sent = write(fds[1], problems.data(), problems.size()) == static_cast<ssize_t>(problems.size());
    _exit(sent ? 0 : 1);
  }
  close(fds[1]);
  std::string problems;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) problems.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    problems += "the child ended with status " + std::to_string(status);
  }
  return problems;
}

void LimitFileSize(std::uint64_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit {};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &limit);
}

void UnlimitFileSize() {
  struct rlimit limit {};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace kavrin::testing
