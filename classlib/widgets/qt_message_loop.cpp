#include "classlib/widgets/qt_message_loop.h"

#include <poll.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <utility>

#include "classlib/widgets/application.h"
#include "classlib/widgets/control.h"

namespace kavrin::classlib {

namespace {

// Runs f through the application's handler; true when it threw.
bool Run(const std::function<void()>& f) {
  bool threw = false;
  Guarded(TApplication::Instance(), [&] {
    try {
      f();
    } catch (...) {
      threw = true;
      throw;
    }
  });
  return threw;
}

}  // namespace

QtMessageLoop::QtMessageLoop() = default;

QtMessageLoop::~QtMessageLoop() {
  for (auto& [id, timer] : timers_) delete timer;
  for (auto& [id, watch] : watches_) {
    delete watch.read;
    delete watch.write;
  }
}

void QtMessageLoop::Wake() {
  // One queued call at a time is enough: it delivers everything queued when it runs.
  if (wake_queued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      &context_, [this] { Dispatch(); }, Qt::QueuedConnection);
}

void QtMessageLoop::Dispatch() {
  // Cleared first, so that a post made while the messages are delivered queues another call.
  wake_queued_.store(false);
  // A handler that throws leaves the rest of the batch queued: they must not wait for the next post.
  if (Run([] { platform::DispatchPostedMessages(); })) Wake();
}

int QtMessageLoop::AddTimer(std::uint32_t interval_ms, Callback fn) {
  const int id = next_id_++;
  auto* timer = new QTimer(&context_);
  timer->setInterval(static_cast<int>(std::clamp<std::uint32_t>(interval_ms, 1, 0x7FFFFFFF)));
  QObject::connect(timer, &QTimer::timeout, &context_, [fn = std::move(fn)] { Run(fn); });
  timer->start();
  timers_[id] = timer;
  return id;
}

void QtMessageLoop::RemoveTimer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  // The timer's own callback may be the caller: it goes once control is back in the loop.
  it->second->stop();
  it->second->deleteLater();
  timers_.erase(it);
}

int QtMessageLoop::AddWatch(int fd, WatchCallback fn) {
  const int id = next_id_++;
  auto* read = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
  auto* write = new QSocketNotifier(fd, QSocketNotifier::Write, &context_);
  read->setEnabled(false);
  write->setEnabled(false);
  QObject::connect(read, &QSocketNotifier::activated, &context_, [this, id] { Ready(id); });
  QObject::connect(write, &QSocketNotifier::activated, &context_, [this, id] { Ready(id); });
  watches_[id] = Watch{fd, read, write, std::move(fn)};
  return id;
}

void QtMessageLoop::SetWatch(int id, bool read, bool write) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  it->second.read->setEnabled(read);
  it->second.write->setEnabled(write);
}

void QtMessageLoop::RemoveWatch(int id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  // Disabled at once, since the caller may close the descriptor next; deleted later, since this may
  // run inside one of the notifiers' own signals.
  for (QSocketNotifier* n : {it->second.read, it->second.write}) {
    n->setEnabled(false);
    n->deleteLater();
  }
  watches_.erase(it);
}

void QtMessageLoop::Ready(int id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  const Watch& watch = it->second;
  const bool want_read = watch.read->isEnabled();
  const bool want_write = watch.write->isEnabled();
  // Qt says which notifier fired, not whether the descriptor failed: ask the descriptor itself, so a
  // hang-up or error counts as readable and writable for what the watch asks.
  pollfd p{watch.fd, static_cast<short>((want_read ? POLLIN : 0) | (want_write ? POLLOUT : 0)), 0};
  int r;
  do {
    r = ::poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) return;
  const bool failed = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  const bool readable = want_read && (failed || (p.revents & POLLIN) != 0);
  const bool writable = want_write && (failed || (p.revents & POLLOUT) != 0);
  if (!readable && !writable) return;
  // A copy: the callback may remove this very watch.
  WatchCallback fn = watch.fn;
  Run([&] { fn(readable, writable); });
}

void QtMessageLoop::RunPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtMessageLoop::WaitAndRun(std::uint32_t timeout_ms) {
  if (timeout_ms == 0) {
    RunPending();
    return;
  }
  // The bound is an event of its own, so the wait ends at the latest when it fires.
  QTimer bound;
  bound.setSingleShot(true);
  bound.start(static_cast<int>(std::min<std::uint32_t>(timeout_ms, 60000)));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace kavrin::classlib
