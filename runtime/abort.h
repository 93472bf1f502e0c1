// The silent exception: raised to end an operation without a message. Default exception handlers let
// it pass without showing anything.
#pragma once

#include <stdexcept>

namespace kavrin::runtime {

class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
  explicit EAbort(const std::string& message) : std::runtime_error(message) {}
};

[[noreturn]] inline void Abort() { throw EAbort(); }

}  // namespace kavrin::runtime
