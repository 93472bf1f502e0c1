// The class library's silent exception, EAbort, and the application's exception handler: what an
// event handler's exception is shown through when it must not pass on (the handler is set by the
// program; without one the message goes to standard error).
#pragma once

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

#include "engine/engine_error.h"
#include "runtime/abort.h"

namespace kavrin::classlib {

using engine::EDatabaseError;
using engine::EDBEngineError;

// The silent exception is the run-time's, so widgets and datasets share one class.
using runtime::Abort;
using runtime::EAbort;

// The class library's input/output error: a file or directory call of the process failed.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int errorCode) : std::runtime_error(message), errorCode_(errorCode) {}
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};
[[noreturn]] void DatabaseError(const std::string& message);
// "%s" in the text replaced, in order, by the arguments.
std::string FormatMessage(std::string text, std::initializer_list<std::string> arguments);

using TExceptionHandler = std::function<void(const std::exception&)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
// Hands the exception to the application's handler; EAbort is silent. Never throws.
void HandleException(const std::exception& error) noexcept;
// Runs action; any exception goes to HandleException instead of passing on.
void CallHandlingExceptions(const std::function<void()>& action) noexcept;

}  // namespace kavrin::classlib
