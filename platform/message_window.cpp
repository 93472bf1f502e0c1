#include "platform/message_window.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/poll_message_loop.h"
#include "platform/ticks.h"

namespace kavrin::platform {

namespace {

struct Window {
  WindowProc proc;
  std::map<WPARAM, int> timers;  // timer id -> loop timer
};

struct Posted {
  HWND window;
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
};

// Windows live on the loop thread; only the queue is reached from other threads, under its mutex.
struct WindowSystem {
  std::mutex queue_mutex;
  std::deque<Posted> queue;
  std::map<HWND, std::shared_ptr<Window>> windows;  // guarded by queue_mutex too, for PostMessage
  HWND next_window = 1;
  // Read by PostMessage on any thread.
  std::atomic<MessageLoop*> loop{nullptr};
  std::once_flag default_once;
  std::unique_ptr<PollMessageLoop> default_loop;
};

WindowSystem& System() {
  // Never destroyed: resolver threads may still post while the process exits.
  static WindowSystem* system = new WindowSystem;
  return *system;
}

std::shared_ptr<Window> Find(HWND window) {
  WindowSystem& system = System();
  std::lock_guard lock(system.queue_mutex);
  auto it = system.windows.find(window);
  return it == system.windows.end() ? nullptr : it->second;
}

}  // namespace

void SetMessageLoop(MessageLoop* loop) {
  WindowSystem& system = System();
  system.loop = loop;
  if (loop != nullptr && GetMessageHook() == nullptr) SetMessageHook(&ProcessPendingMessages);
  if (loop == nullptr && GetMessageHook() == &ProcessPendingMessages) SetMessageHook(nullptr);
  // Messages queued before the switch must not wait for a wake-up that went to the old loop.
  CurrentMessageLoop().Wake();
}

MessageLoop& CurrentMessageLoop() {
  WindowSystem& system = System();
  if (MessageLoop* loop = system.loop.load()) return *loop;
  std::call_once(system.default_once, [&system] { system.default_loop = std::make_unique<PollMessageLoop>(); });
  return *system.default_loop;
}

HWND AllocateHWnd(WindowProc proc) {
  WindowSystem& system = System();
  auto window = std::make_shared<Window>();
  window->proc = std::move(proc);
  std::lock_guard lock(system.queue_mutex);
  const HWND handle = system.next_window++;
  system.windows.emplace(handle, std::move(window));
  return handle;
}

void DeallocateHWnd(HWND window) {
  WindowSystem& system = System();
  std::shared_ptr<Window> gone;
  {
    std::lock_guard lock(system.queue_mutex);
    auto it = system.windows.find(window);
    if (it == system.windows.end()) return;
    gone = std::move(it->second);
    system.windows.erase(it);
    std::erase_if(system.queue, [window](const Posted& p) { return p.window == window; });
  }
  for (const auto& [id, timer] : gone->timers) CurrentMessageLoop().RemoveTimer(timer);
  gone->timers.clear();
}

bool IsWindow(HWND window) { return Find(window) != nullptr; }

bool PostMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  WindowSystem& system = System();
  {
    std::lock_guard lock(system.queue_mutex);
    if (system.windows.find(window) == system.windows.end()) return false;
    system.queue.push_back({window, msg, wparam, lparam});
  }
  CurrentMessageLoop().Wake();
  return true;
}

LRESULT SendMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  // The procedure is kept alive by the shared pointer even if it destroys its own window.
  std::shared_ptr<Window> target = Find(window);
  if (!target) return 0;
  WindowProc proc = target->proc;
  return proc(msg, wparam, lparam);
}

void RemovePostedMessages(HWND window, UINT msg, const std::function<bool(WPARAM, LPARAM)>& keep) {
  WindowSystem& system = System();
  std::lock_guard lock(system.queue_mutex);
  std::erase_if(system.queue,
                [&](const Posted& p) { return p.window == window && p.msg == msg && !keep(p.wparam, p.lparam); });
}

bool SetTimer(HWND window, WPARAM id, std::uint32_t interval_ms) {
  std::shared_ptr<Window> target = Find(window);
  if (!target) return false;
  MessageLoop& loop = CurrentMessageLoop();
  if (auto it = target->timers.find(id); it != target->timers.end()) {
    loop.RemoveTimer(it->second);
    target->timers.erase(it);
  }
  target->timers[id] = loop.AddTimer(interval_ms, [window, id] { SendMessage(window, WM_TIMER, id, 0); });
  return true;
}

bool KillTimer(HWND window, WPARAM id) {
  std::shared_ptr<Window> target = Find(window);
  if (!target) return false;
  auto it = target->timers.find(id);
  if (it == target->timers.end()) return false;
  CurrentMessageLoop().RemoveTimer(it->second);
  target->timers.erase(it);
  return true;
}

void DispatchPostedMessages() {
  WindowSystem& system = System();
  std::size_t count;
  {
    std::lock_guard lock(system.queue_mutex);
    count = system.queue.size();
  }
  // Handlers may post, remove or dispatch (nested) meanwhile: each message is taken off the queue
  // under the lock just before it is delivered.
  while (count-- > 0) {
    Posted next;
    {
      std::lock_guard lock(system.queue_mutex);
      if (system.queue.empty()) return;
      next = system.queue.front();
      system.queue.pop_front();
    }
    SendMessage(next.window, next.msg, next.wparam, next.lparam);
  }
}

void ProcessPendingMessages() { CurrentMessageLoop().RunPending(); }

void WaitMessage(std::uint32_t timeout_ms) { CurrentMessageLoop().WaitAndRun(timeout_ms); }

}  // namespace kavrin::platform
