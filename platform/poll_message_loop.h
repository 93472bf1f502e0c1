// A MessageLoop on poll(2), for tests and for programs without a toolkit loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

#include "platform/message_window.h"
#include "platform/unique_fd.h"

namespace kavrin::platform {

class PollMessageLoop : public MessageLoop {
 public:
  PollMessageLoop();
  ~PollMessageLoop() override;
  PollMessageLoop(const PollMessageLoop&) = delete;
  PollMessageLoop& operator=(const PollMessageLoop&) = delete;

  void Wake() override;
  int AddTimer(std::uint32_t interval_ms, Callback fn) override;
  void RemoveTimer(int id) override;
  int AddWatch(int fd, WatchCallback fn) override;
  void SetWatch(int id, bool read, bool write) override;
  void RemoveWatch(int id) override;
  void RunPending() override;
  void WaitAndRun(std::uint32_t timeout_ms) override;

  // Runs the loop until done() holds or timeout_ms have passed; returns done().
  bool RunUntil(const std::function<bool()>& done, std::uint32_t timeout_ms);
  // Runs the loop for this long.
  void RunFor(std::uint32_t ms);

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point due;
    Callback fn;
  };
  struct Watch {
    int fd;
    bool read = false;
    bool write = false;
    WatchCallback fn;
  };

  void RunOnce(int timeout_ms);

  detail::UniqueFd wake_fd_;
  std::map<int, Timer> timers_;
  std::map<int, Watch> watches_;
  int next_id_ = 1;
};

}  // namespace kavrin::platform
