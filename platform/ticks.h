// Milliseconds, pauses and the hook that lets a user interface run while the engine waits for a lock.
#pragma once

#include <cstdint>

namespace kavrin::platform {

// Milliseconds on a monotonic clock, wrapping at 2^32 like the Win32 tick count.
std::uint32_t GetTickCount();
void Sleep(std::uint32_t milliseconds);

// The process-wide message hook: null in the engine's own tests, set by the user interface to run its
// pending events. ProcessMessages calls it when set.
using MessageHook = void (*)();
void SetMessageHook(MessageHook hook);
MessageHook GetMessageHook();
void ProcessMessages();

}  // namespace kavrin::platform
