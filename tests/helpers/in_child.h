// Work that must run in a process of its own: a file size limit, a signal disposition or a fault hook
// then stays there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kavrin::testing {

// Runs body in a forked child: what the child found wrong (body's answer, an exception's message, an
// abnormal end), or nothing. Body must not use gtest assertions.
std::string InChild(const std::function<std::string()>& body);

// Sets this process's file size limit (RLIMIT_FSIZE) with SIGXFSZ ignored, so a write past it fails with
// EFBIG; UnlimitFileSize lifts it again.
void LimitFileSize(std::uint64_t bytes);
void UnlimitFileSize();

}  // namespace kavrin::testing
