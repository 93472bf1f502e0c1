#include "platform/poll_message_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kavrin::platform {

PollMessageLoop::PollMessageLoop() : wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!wake_fd_.Valid()) throw std::runtime_error("no eventfd for the message loop");
}

PollMessageLoop::~PollMessageLoop() = default;

void PollMessageLoop::Wake() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong on an eventfd.
  [[maybe_unused]] ssize_t written = ::write(wake_fd_.Get(), &one, sizeof one);
}

int PollMessageLoop::AddTimer(std::uint32_t interval_ms, Callback fn) {
  const int id = next_id_++;
  const auto interval = std::chrono::milliseconds(std::max<std::uint32_t>(interval_ms, 1));
  timers_[id] = Timer{interval, Clock::now() + interval, std::move(fn)};
  return id;
}

void PollMessageLoop::RemoveTimer(int id) { timers_.erase(id); }

int PollMessageLoop::AddWatch(int fd, WatchCallback fn) {
  const int id = next_id_++;
  watches_[id] = Watch{fd, false, false, std::move(fn)};
  return id;
}

void PollMessageLoop::SetWatch(int id, bool read, bool write) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second.read = read;
  it->second.write = write;
}

void PollMessageLoop::RemoveWatch(int id) { watches_.erase(id); }

void PollMessageLoop::RunPending() { RunOnce(0); }

void PollMessageLoop::WaitAndRun(std::uint32_t timeout_ms) {
  RunOnce(static_cast<int>(std::min<std::uint32_t>(timeout_ms, 60000)));
}

bool PollMessageLoop::RunUntil(const std::function<bool()>& done, std::uint32_t timeout_ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    const auto now = Clock::now();
    if (now >= end) return done();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    RunOnce(static_cast<int>(std::min<long long>(left + 1, 50)));
  }
  return true;
}

void PollMessageLoop::RunFor(std::uint32_t ms) {
  RunUntil([] { return false; }, ms);
}

void PollMessageLoop::RunOnce(int timeout_ms) {
  auto now = Clock::now();
  for (const auto& [id, timer] : timers_) {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(timer.due - now).count();
    timeout_ms = static_cast<int>(std::clamp<long long>(wait, 0, timeout_ms));
  }

  std::vector<pollfd> fds{{wake_fd_.Get(), POLLIN, 0}};
  std::vector<int> ids;
  for (const auto& [id, watch] : watches_) {
    const short events = static_cast<short>((watch.read ? POLLIN : 0) | (watch.write ? POLLOUT : 0));
    if (events == 0) continue;
    fds.push_back({watch.fd, events, 0});
    ids.push_back(id);
  }
  if (::poll(fds.data(), fds.size(), timeout_ms) < 0 && errno != EINTR) return;

  if (fds[0].revents != 0) {
    std::uint64_t count;
    [[maybe_unused]] ssize_t got = ::read(wake_fd_.Get(), &count, sizeof count);
  }
  // A callback may remove or change any watch or timer, and nested runs may happen inside it; each
  // one is looked up again before it is called.
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const short revents = fds[i + 1].revents;
    if (revents == 0) continue;
    auto it = watches_.find(ids[i]);
    if (it == watches_.end() || it->second.fd != fds[i + 1].fd) continue;
    const bool failed = (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    const bool readable = it->second.read && (failed || (revents & POLLIN) != 0);
    const bool writable = it->second.write && (failed || (revents & POLLOUT) != 0);
    if (!readable && !writable) continue;
    WatchCallback fn = it->second.fn;
    fn(readable, writable);
  }

  now = Clock::now();
  std::vector<int> due;
  for (const auto& [id, timer] : timers_)
    if (timer.due <= now) due.push_back(id);
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;
    it->second.due = now + it->second.interval;
    Callback fn = it->second.fn;
    fn();
  }

  DispatchPostedMessages();
}

}  // namespace kavrin::platform
