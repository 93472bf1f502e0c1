// Run and Terminate in a program of their own: the loop ends when the main form closes or at once
// after Terminate, and an exception from an idle handler reaches the application's handler.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string RunLoopProgram(const std::string& mode) {
  const std::string command = std::string(KAVRIN_LOOP_HELPER) + " " + mode + " 2>/dev/null";
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    const int status = ::pclose(pipe);
    if (status != 0) out += "exit status " + std::to_string(status) + "\n";
  }
  return out;
}

TEST(MessageLoop, RunEndsWhenTheMainFormCloses) {
  EXPECT_EQ(RunLoopProgram("close"),
            "main form shown\nmain form closing\nrun returned, terminated 1\nmain form destroyed\n");
}

TEST(MessageLoop, TerminateBeforeRunEndsItAtOnce) {
  EXPECT_EQ(RunLoopProgram("terminate-first"), "run returned, terminated 1\nmain form destroyed\n");
}

TEST(MessageLoop, AnIdleHandlersExceptionGoesToTheHandler) {
  EXPECT_EQ(RunLoopProgram("idle-exception"),
            "main form shown\nhandled: idle failed\nrun returned, terminated 1\nmain form destroyed\n");
}

}  // namespace
