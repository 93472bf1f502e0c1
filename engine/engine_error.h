// The error context, the code-to-text table and the one way the engine raises: RaiseEngineError.
//
// The exception classes live here too, not in the dataset layer, so that the engine links on its own;
// a program that wants its own exception for engine errors binds it through SetEngineRaiseHook.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/error_codes.h"

namespace kavrin::engine {

// The last code filed and the names its text refers to. One per process.
struct TErrorContext {
  TErrorCode LastCode = 0;
  std::string FieldName;
  std::string FileName;
  std::string IndexName;
};

const TErrorContext& ErrorContext();
void ClearErrorContext();
void SetErrorContext(TErrorCode code, std::string_view name);
TErrorCode GetLastEngineError();

// Copies at most 127 characters of the text for code, and a terminating NUL, into buffer (at least
// 128 bytes).
inline constexpr std::size_t EngineMessageBufferSize = 128;
void GetEngineErrorMessage(TErrorCode code, char* buffer);
std::string GetEngineErrorMessage(TErrorCode code);

// Files the code with the name its text needs and raises it. Never returns.
[[noreturn]] void RaiseEngineError(TErrorCode code, std::string_view name);

// The raise step of RaiseEngineError, called with the context already filled. It must throw; the
// default raises EDBEngineError (EngineError). A null hook restores the default.
using EngineRaiseHook = void (*)(TErrorCode code);
void SetEngineRaiseHook(EngineRaiseHook hook);

// State and argument errors of the dataset layer.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

class EDBEngineError;

// One entry of an engine exception: the engine code and its text.
class TDBError {
 public:
  TDBError(const EDBEngineError* owner, std::uint16_t code, std::int32_t nativeError, std::string message)
      : owner_(owner), errorCode_(code), nativeError_(nativeError), message_(std::move(message)) {}

  const EDBEngineError* Owner() const { return owner_; }
  std::uint16_t ErrorCode() const { return errorCode_; }
  std::uint8_t Category() const { return static_cast<std::uint8_t>(errorCode_ >> 8); }
  std::uint8_t SubCode() const { return static_cast<std::uint8_t>(errorCode_ & 0xFF); }
  std::int32_t NativeError() const { return nativeError_; }
  const std::string& Message() const { return message_; }

 private:
  friend class EDBEngineError;
  const EDBEngineError* owner_;
  std::uint16_t errorCode_;
  std::int32_t nativeError_;
  std::string message_;
};

// "KAVRIN Engine Error # <code> <engine text>", with the code and text as the first entry of Errors.
class EDBEngineError : public EDatabaseError {
 public:
  explicit EDBEngineError(std::uint32_t code);
  EDBEngineError(const EDBEngineError& other);
  EDBEngineError& operator=(const EDBEngineError& other);

  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  const TDBError& GetErrors(int index) const { return errors_.at(static_cast<std::size_t>(index)); }
  // The engine code of the first entry: what callers test to tell failures apart.
  std::uint16_t Code() const { return errors_.front().ErrorCode(); }

 private:
  EDBEngineError(std::uint16_t code, const std::string& text);
  void AdoptErrors();
  std::vector<TDBError> errors_;
};

// Raises EDBEngineError for code. Every engine error ends here unless a program rebinds the hook.
[[noreturn]] void EngineError(std::uint32_t code);
// Raises when the low 16 bits of code are not zero; otherwise returns code.
std::int32_t CheckEngineResult(std::int32_t code);

}  // namespace kavrin::engine
