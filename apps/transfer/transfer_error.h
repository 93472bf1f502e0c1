// GASKORN's own exception for engine failures, raised through the engine's raise hook: the engine code
// and the engine's text for it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/error_codes.h"

namespace kavrin::transfer {

class ETransferEngineError : public std::runtime_error {
 public:
  ETransferEngineError(engine::TErrorCode code, const std::string& text);
  engine::TErrorCode Code() const { return code_; }
  const std::string& EngineText() const { return text_; }

 private:
  engine::TErrorCode code_;
  std::string text_;
};

// Binds the hook for as long as it lives and restores the engine's default raise afterwards.
class TTransferRaiseHook {
 public:
  TTransferRaiseHook();
  ~TTransferRaiseHook();
  TTransferRaiseHook(const TTransferRaiseHook&) = delete;
  TTransferRaiseHook& operator=(const TTransferRaiseHook&) = delete;
};

// Raises a non-zero result code of an engine call that returns one (blob operations).
void CheckEngineCode(engine::TErrorCode code, const std::string& name);

}  // namespace kavrin::transfer
