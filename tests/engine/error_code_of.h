// The engine code an action raises, 0 when it raises none: lets a table of cases state the error
// each case must give.
#pragma once

#include <functional>

#include "engine/engine_error.h"

namespace kavrin::engine::testing {

inline TErrorCode ErrorCodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDBEngineError& error) {
    return error.Code();
  }
  return 0;
}

}  // namespace kavrin::engine::testing
