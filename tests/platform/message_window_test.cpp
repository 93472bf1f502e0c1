#include "platform/message_window.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/poll_message_loop.h"
#include "platform/ticks.h"

namespace kavrin::platform {
namespace {

struct Got {
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
  bool operator==(const Got&) const = default;
};

class MessageWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMessageLoop(&loop_); }
  void TearDown() override {
    for (HWND w : windows_) DeallocateHWnd(w);
    SetMessageLoop(nullptr);
  }
  HWND Recording(std::vector<Got>* got) {
    HWND w = AllocateHWnd([got](UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      got->push_back({m, wp, lp});
      return 0;
    });
    windows_.push_back(w);
    return w;
  }
  PollMessageLoop loop_;
  std::vector<HWND> windows_;
};

TEST_F(MessageWindowTest, PostedMessagesArriveInOrderAndOnlyFromTheLoop) {
  std::vector<Got> got;
  HWND w = Recording(&got);
  ASSERT_TRUE(PostMessage(w, WM_USER, 1, 10));
  ASSERT_TRUE(PostMessage(w, WM_USER + 1, 2, 20));
  EXPECT_TRUE(got.empty());
  loop_.RunPending();
  EXPECT_EQ(got, (std::vector<Got>{{WM_USER, 1, 10}, {WM_USER + 1, 2, 20}}));
}

TEST_F(MessageWindowTest, ADestroyedWindowGetsNothingMoreAndRefusesPosts) {
  std::vector<Got> got;
  HWND w = Recording(&got);
  PostMessage(w, WM_USER, 1, 0);
  DeallocateHWnd(w);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessage(w, WM_USER, 2, 0));
  loop_.RunPending();
  EXPECT_TRUE(got.empty());
  // A new window never takes the old handle, so a late post cannot reach it.
  std::vector<Got> other;
  EXPECT_NE(Recording(&other), w);
}

TEST_F(MessageWindowTest, RemovedMessagesAreNotDelivered) {
  std::vector<Got> got;
  HWND w = Recording(&got);
  PostMessage(w, WM_USER, 1, 0);
  PostMessage(w, WM_USER, 2, 0);
  PostMessage(w, WM_USER + 1, 1, 0);
  RemovePostedMessages(w, WM_USER, [](WPARAM wp, LPARAM) { return wp != 1; });
  loop_.RunPending();
  EXPECT_EQ(got, (std::vector<Got>{{WM_USER, 2, 0}, {WM_USER + 1, 1, 0}}));
}

TEST_F(MessageWindowTest, TimerRepeatsWithItsIdUntilKilled) {
  std::vector<Got> got;
  HWND w = Recording(&got);
  ASSERT_TRUE(SetTimer(w, 7, 20));
  ASSERT_TRUE(loop_.RunUntil([&] { return got.size() >= 3; }, 2000));
  for (const Got& g : got) EXPECT_EQ(g, (Got{WM_TIMER, 7, 0}));
  ASSERT_TRUE(KillTimer(w, 7));
  got.clear();
  loop_.RunFor(80);
  EXPECT_TRUE(got.empty());
  EXPECT_FALSE(KillTimer(w, 7));
}

TEST_F(MessageWindowTest, PostsFromAnotherThreadWakeAWaitingLoop) {
  std::vector<Got> got;
  HWND w = Recording(&got);
  loop_.RunPending();  // takes the wake-up that setting the loop left
  std::thread poster([w] {
    Sleep(30);
    PostMessage(w, WM_USER, 5, 0);
  });
  const std::uint32_t start = GetTickCount();
  loop_.WaitAndRun(5000);
  poster.join();
  EXPECT_EQ(got, (std::vector<Got>{{WM_USER, 5, 0}}));
  EXPECT_LT(GetTickCount() - start, 4000u);
}

TEST_F(MessageWindowTest, AHandlerThatRunsTheLoopGetsTheLaterMessagesNested) {
  std::vector<WPARAM> order;
  HWND w = AllocateHWnd([&](UINT, WPARAM wp, LPARAM) -> LRESULT {
    order.push_back(wp);
    if (wp == 1) ProcessPendingMessages();
    return 0;
  });
  windows_.push_back(w);
  PostMessage(w, WM_USER, 1, 0);
  PostMessage(w, WM_USER, 2, 0);
  loop_.RunPending();
  loop_.RunPending();
  EXPECT_EQ(order, (std::vector<WPARAM>{1, 2}));
}

TEST_F(MessageWindowTest, SettingALoopMakesTheMessageHookRunIt) {
  EXPECT_EQ(GetMessageHook(), &ProcessPendingMessages);
  std::vector<Got> got;
  HWND w = Recording(&got);
  PostMessage(w, WM_USER, 3, 0);
  ProcessMessages();
  EXPECT_EQ(got.size(), 1u);
}

}  // namespace
}  // namespace kavrin::platform
