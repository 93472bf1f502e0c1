// Runs one test of the running test program again in a child process. A scenario that ends the
// application (Exit, Alt+F4) must run there: Terminate is permanent in a process, and every later test
// of the program would find its application ended.
//
//   TEST(Window, ExitEndsTheApplication) {
//     if (kavrin::testing::InChildScenario()) { ...the scenario, with gtest checks...; return; }
//     const auto run = kavrin::testing::RunCurrentTestInChild();
//     EXPECT_EQ(run.ExitStatus, 0) << run.Output;
//   }
#pragma once

#include <string>

namespace kavrin::testing {

struct ChildRun {
  // The child's exit status; -1 when it was killed, did not start or did not end in time.
  int ExitStatus = -1;
  // Its standard output and standard error together, in the order written.
  std::string Output;
};

// True in the child that RunCurrentTestInChild started.
bool InChildScenario();

// Starts this program on the current test alone, marked as the child, and waits for it to end.
ChildRun RunCurrentTestInChild();

}  // namespace kavrin::testing
