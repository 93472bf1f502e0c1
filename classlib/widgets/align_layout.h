// Where aligned controls go inside their parent's client area: top ones stack down from the top, bottom
// ones up from the bottom, then left and right ones share the height left, and a client one takes
// the rest. Toolkit-free, so the arithmetic is tested without a display.
#pragma once

#include <vector>

#include "classlib/widgets/geometry.h"

namespace kavrin::classlib {

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

struct AlignItem {
  TAlign Align = TAlign::alNone;
  TRect Bounds;  // the control's current bounds; width or height is kept along the aligned edge
  bool Visible = true;
};

// Returns the new bounds of every item, in order; items with alNone or hidden keep theirs. The second
// form also gives the rectangle that no aligned control took (an MDI frame puts its client area there).
std::vector<TRect> AlignControls(const TRect& client, const std::vector<AlignItem>& items);
std::vector<TRect> AlignControls(const TRect& client, const std::vector<AlignItem>& items, TRect& remaining);

}  // namespace kavrin::classlib
