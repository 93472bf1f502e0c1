// Puts the index file back on the index that was current when the guard was made, on every way out:
// the filter work selects the indexes it walks, and the cursor must not notice.
#pragma once

#include <cstdint>

#include "engine/index_file.h"

namespace kavrin::engine {

class TIndexSelectionGuard {
 public:
  explicit TIndexSelectionGuard(TIndexFile& file) : file_(file), index_(file.CurrentIndex()) {}
  ~TIndexSelectionGuard() { file_.SelectIndex(index_); }
  TIndexSelectionGuard(const TIndexSelectionGuard&) = delete;
  TIndexSelectionGuard& operator=(const TIndexSelectionGuard&) = delete;

 private:
  TIndexFile& file_;
  std::uint8_t index_;
};

}  // namespace kavrin::engine
