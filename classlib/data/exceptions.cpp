#include "classlib/data/exceptions.h"

#include <iostream>

namespace kavrin::classlib {
namespace {

TExceptionHandler& ApplicationHandler() {
  static TExceptionHandler handler;
  return handler;
}

}  // namespace

void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

std::string FormatMessage(std::string text, std::initializer_list<std::string> arguments) {
  std::size_t from = 0;
  for (const std::string& argument : arguments) {
    const std::size_t at = text.find("%s", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, argument);
    from = at + argument.size();
  }
  return text;
}

void SetApplicationExceptionHandler(TExceptionHandler handler) { ApplicationHandler() = std::move(handler); }

void HandleException(const std::exception& error) noexcept {
  if (dynamic_cast<const EAbort*>(&error)) return;
  try {
    if (ApplicationHandler()) {
      ApplicationHandler()(error);
    } else {
      std::cerr << error.what() << '\n';
    }
  } catch (...) {
    // The handler itself failed; nothing is left to show it with.
  }
}

void CallHandlingExceptions(const std::function<void()>& action) noexcept {
  try {
    action();
  } catch (const std::exception& error) {
    HandleException(error);
  } catch (...) {
    HandleException(std::runtime_error("Unknown exception"));
  }
}

}  // namespace kavrin::classlib
