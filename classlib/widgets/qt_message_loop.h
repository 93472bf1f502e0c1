// The hidden message windows' loop over Qt's event loop: the programs run their posted messages,
// timers and socket notices on the GUI thread, between Qt's own events.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <map>

#include "platform/message_window.h"

class QSocketNotifier;
class QTimer;

namespace kavrin::classlib {

// Lives on the GUI thread and is used there, but for Wake. Every call back into our code goes through
// the application's exception handler, so no exception crosses a Qt frame.
class QtMessageLoop : public platform::MessageLoop {
 public:
  QtMessageLoop();
  ~QtMessageLoop() override;
  QtMessageLoop(const QtMessageLoop&) = delete;
  QtMessageLoop& operator=(const QtMessageLoop&) = delete;

  void Wake() override;
  int AddTimer(std::uint32_t interval_ms, Callback fn) override;
  void RemoveTimer(int id) override;
  int AddWatch(int fd, WatchCallback fn) override;
  void SetWatch(int id, bool read, bool write) override;
  void RemoveWatch(int id) override;
  void RunPending() override;
  void WaitAndRun(std::uint32_t timeout_ms) override;

 private:
  struct Watch {
    int fd;
    QSocketNotifier* read;
    QSocketNotifier* write;
    WatchCallback fn;
  };

  void Dispatch();
  void Ready(int id);

  // Parent of the timers and notifiers and receiver of the queued wake-ups: destroying it drops both.
  QObject context_;
  std::atomic<bool> wake_queued_{false};
  std::map<int, QTimer*> timers_;
  std::map<int, Watch> watches_;
  int next_id_ = 1;
};

}  // namespace kavrin::classlib
