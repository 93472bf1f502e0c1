#include "platform/ticks.h"

#include <gtest/gtest.h>

namespace kavrin::platform {
namespace {

TEST(Ticks, SleepLetsAtLeastThatManyTicksPass) {
  const std::uint32_t before = GetTickCount();
  Sleep(30);
  // Unsigned subtraction stays right across the 2^32 wrap.
  EXPECT_GE(static_cast<std::uint32_t>(GetTickCount() - before), 30u);
}

int hook_calls = 0;
void CountCall() { ++hook_calls; }

TEST(Ticks, ProcessMessagesRunsTheHookOnlyWhileOneIsSet) {
  ASSERT_EQ(GetMessageHook(), nullptr);
  hook_calls = 0;
  ProcessMessages();
  SetMessageHook(&CountCall);
  EXPECT_EQ(GetMessageHook(), &CountCall);
  ProcessMessages();
  ProcessMessages();
  SetMessageHook(nullptr);
  ProcessMessages();
  EXPECT_EQ(hook_calls, 2);
}

}  // namespace
}  // namespace kavrin::platform
