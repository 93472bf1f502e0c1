#include "tests/helpers/child_scenario.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace kavrin::testing {

namespace {

constexpr char kMarker[] = "KAVRIN_CHILD_SCENARIO";
// Long enough for a loaded CI machine; a child that takes longer is hung and is killed.
constexpr int kTimeoutMs = 60000;

}  // namespace

bool InChildScenario() { return std::getenv(kMarker) != nullptr; }

ChildRun RunCurrentTestInChild() {
  ChildRun run;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!test) return run;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return run;

  char self[4096];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    return run;
  }
  self[length] = '\0';
  std::vector<std::string> args = {self, std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()};
  std::vector<std::string> env = {std::string(kMarker) + "=1"};
  for (char** e = environ; *e; ++e) {
    // The parent's report file is the parent's; the child must not overwrite it.
    if (std::strncmp(*e, "GTEST_OUTPUT=", 13) != 0 && std::strncmp(*e, kMarker, sizeof kMarker - 1) != 0) {
      env.emplace_back(*e);
    }
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (spawned != 0) {
    ::close(ends[0]);
    return run;
  }

  bool timed_out = false;
  for (;;) {
    pollfd waiting{ends[0], POLLIN, 0};
    const int ready = ::poll(&waiting, 1, kTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    char chunk[4096];
    const ssize_t n = ::read(ends[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.Output.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(ends[0]);
  int status = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (!timed_out && waited == pid && WIFEXITED(status)) run.ExitStatus = WEXITSTATUS(status);
  return run;
}

}  // namespace kavrin::testing
