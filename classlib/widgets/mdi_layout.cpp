#include "classlib/widgets/mdi_layout.h"

#include <algorithm>
#include <cmath>

namespace kavrin::classlib {

std::vector<TRect> CascadeLayout(const TRect& client, int count) {
  std::vector<TRect> out;
  if (count <= 0) return out;
  const int w = std::max(1, client.Width() * 3 / 4);
  const int h = std::max(1, client.Height() * 3 / 4);
  int offset = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      offset += kCascadeStep;
      if (offset + w > client.Width() || offset + h > client.Height()) offset = 0;
    }
    out.push_back(Bounds(client.Left + offset, client.Top + offset, w, h));
  }
  return out;
}

std::vector<TRect> TileLayout(const TRect& client, int count, TTileMode mode) {
  std::vector<TRect> out;
  if (count <= 0) return out;
  // Up to three windows share one column (horizontal) or one row (vertical); more make a grid.
  const int groups = count <= 3 ? 1 : static_cast<int>(std::sqrt(static_cast<double>(count)));
  const bool horizontal = mode == TTileMode::tbHorizontal;
  const int span = horizontal ? client.Width() : client.Height();
  const int depth = horizontal ? client.Height() : client.Width();
  const int base = count / groups;
  const int extra = count % groups;
  for (int g = 0; g < groups; ++g) {
    const int inGroup = base + (g >= groups - extra ? 1 : 0);
    const int g0 = span * g / groups;
    const int g1 = span * (g + 1) / groups;
    for (int k = 0; k < inGroup; ++k) {
      const int d0 = depth * k / inGroup;
      const int d1 = depth * (k + 1) / inGroup;
      if (horizontal) {
        out.push_back(TRect{client.Left + g0, client.Top + d0, client.Left + g1, client.Top + d1});
      } else {
        out.push_back(TRect{client.Left + d0, client.Top + g0, client.Left + d1, client.Top + g1});
      }
    }
  }
  return out;
}

std::vector<TRect> IconLayout(const TRect& client, int count) {
  std::vector<TRect> out;
  const int perRow = std::max(1, client.Width() / kIconWidth);
  for (int i = 0; i < count; ++i) {
    const int row = i / perRow;
    const int col = i % perRow;
    out.push_back(
        Bounds(client.Left + col * kIconWidth, client.Bottom - (row + 1) * kIconHeight, kIconWidth, kIconHeight));
  }
  return out;
}

}  // namespace kavrin::classlib
