#include "platform/ticks.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace kavrin::platform {

namespace {
std::atomic<MessageHook> message_hook{nullptr};
}  // namespace

std::uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void Sleep(std::uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000u), static_cast<long>(milliseconds % 1000u) * 1000000L};
  // A signal handler must not cut a lock wait's pause short.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

void SetMessageHook(MessageHook hook) { message_hook.store(hook); }

MessageHook GetMessageHook() { return message_hook.load(); }

void ProcessMessages() {
  if (MessageHook hook = message_hook.load()) hook();
}

}  // namespace kavrin::platform
