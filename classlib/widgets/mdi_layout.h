// Cascade, tile and icon arrangement of MDI child windows inside the frame's client area. Toolkit-free:
// each arrangement sizes the windows to a share of the client area, never to their size hints.
#pragma once

#include <vector>

#include "classlib/widgets/geometry.h"

namespace kavrin::classlib {

enum class TTileMode { tbHorizontal, tbVertical };

// Offset between cascaded windows (about one title bar).
inline constexpr int kCascadeStep = 24;
// Size of a minimized child's title strip.
inline constexpr int kIconWidth = 160;
inline constexpr int kIconHeight = 24;

// count windows, the first at the back: each takes three quarters of the client area, moved down and
// right by one step per window, starting again at the corner when the next would leave the area.
std::vector<TRect> CascadeLayout(const TRect& client, int count);

// count windows without overlap. Horizontal tiling stacks wide windows in rows, vertical tiling puts
// tall windows side by side; more than three windows make a grid whose later columns (rows) take the
// windows that do not divide evenly.
std::vector<TRect> TileLayout(const TRect& client, int count, TTileMode mode);

// count minimized windows in a row along the bottom edge, wrapping upwards.
std::vector<TRect> IconLayout(const TRect& client, int count);

}  // namespace kavrin::classlib
