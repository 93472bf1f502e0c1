// Hidden message windows: the posted messages, timers and socket notices that non-visual components
// run on, as the class library's AllocateHWnd windows do on Windows.
//
// The windows and their message queue are ours and toolkit-free; what wakes them is a MessageLoop: Qt's
// event loop in the programs, PollMessageLoop (poll_message_loop.h) in tests and until a program sets
// another. Everything but PostMessage runs on the loop's thread.
#pragma once

#include <cstdint>
#include <functional>

namespace kavrin::platform {

using HWND = std::uintptr_t;  // 0 is no window; handles are never reused within a process
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// What a MessageLoop must give the windows. The programs implement it over Qt (a queued call for
// Wake, QTimer, QSocketNotifier, QCoreApplication::processEvents); tests use PollMessageLoop. The
// loop calls back into our code from its own events, so a Qt loop catches what a callback throws
// and hands it to the application's handler. Set the loop before the first window or socket.
class MessageLoop {
 public:
  using Callback = std::function<void()>;
  using WatchCallback = std::function<void(bool readable, bool writable)>;

  virtual ~MessageLoop() = default;

  // Any thread: the loop thread is to call DispatchPostedMessages() soon.
  virtual void Wake() = 0;
  // A repeating timer that calls fn every interval until removed. Ids are positive.
  virtual int AddTimer(std::uint32_t interval_ms, Callback fn) = 0;
  virtual void RemoveTimer(int id) = 0;
  // Watches a descriptor; fn is called while it is readable or writable for what SetWatch asks
  // (nothing at first). A hang-up or error counts as readable and writable.
  virtual int AddWatch(int fd, WatchCallback fn) = 0;
  virtual void SetWatch(int id, bool read, bool write) = 0;
  virtual void RemoveWatch(int id) = 0;
  // Runs what is ready now, without waiting (also from inside a handler: calls nest).
  virtual void RunPending() = 0;
  // Waits up to timeout_ms for anything to become ready, then runs it.
  virtual void WaitAndRun(std::uint32_t timeout_ms) = 0;
};

// The loop the windows use. Until one is set, a process-wide PollMessageLoop; setting one also makes
// the engine's message hook (ticks.h) run its pending messages. Null goes back to the default.
void SetMessageLoop(MessageLoop* loop);
MessageLoop& CurrentMessageLoop();

using WindowProc = std::function<LRESULT(UINT msg, WPARAM wparam, LPARAM lparam)>;

// A hidden window whose procedure gets the messages posted to it.
HWND AllocateHWnd(WindowProc proc);
// Drops its timers and every message still queued for it; later posts to it fail.
void DeallocateHWnd(HWND window);
bool IsWindow(HWND window);

// Any thread. False when the window does not exist. Messages reach windows in the order posted.
bool PostMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
// Calls the procedure at once (0 when the window does not exist).
LRESULT SendMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
// Drops the queued messages of window with this msg for which keep(wparam, lparam) is false.
void RemovePostedMessages(HWND window, UINT msg, const std::function<bool(WPARAM, LPARAM)>& keep);

// WM_TIMER with wparam id every interval; setting an id again restarts it. False for no window.
bool SetTimer(HWND window, WPARAM id, std::uint32_t interval_ms);
bool KillTimer(HWND window, WPARAM id);

// Delivers the messages queued when it was called (those posted meanwhile wait for the next call).
void DispatchPostedMessages();
// The engine's message hook while a loop is set: the loop's RunPending.
void ProcessPendingMessages();
// Waits in the loop up to timeout_ms for a message, timer or socket notice, and runs what came.
void WaitMessage(std::uint32_t timeout_ms);

}  // namespace kavrin::platform
