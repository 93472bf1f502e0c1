#include "apps/transfer/transfer_error.h"

#include "engine/engine_error.h"

namespace kavrin::transfer {
namespace {

[[noreturn]] void RaiseTransferEngineError(engine::TErrorCode code) {
  throw ETransferEngineError(code, engine::GetEngineErrorMessage(code));
}

}  // namespace

ETransferEngineError::ETransferEngineError(engine::TErrorCode code, const std::string& text)
    : std::runtime_error("Engine error " + std::to_string(code) + ": " + text), code_(code), text_(text) {}

TTransferRaiseHook::TTransferRaiseHook() { engine::SetEngineRaiseHook(RaiseTransferEngineError); }
TTransferRaiseHook::~TTransferRaiseHook() { engine::SetEngineRaiseHook(nullptr); }

void CheckEngineCode(engine::TErrorCode code, const std::string& name) {
  if (code != engine::ec::Success) engine::RaiseEngineError(code, name);
}

}  // namespace kavrin::transfer
