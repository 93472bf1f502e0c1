// The core of TMessageGrabber (unit MessageGrabber): what a grabber sees of its owner's messages. On Qt
// the grabber is an event filter on the owner's widget that sees its events first; the adapter turns
// them into these messages (WM_SIZE after Resize and WindowStateChange, WM_MOVE after Move, WM_DESTROY at
// the widget's destruction, WM_GETMINMAXINFO each time the form computes its track limits).
#pragma once

#include <cstdint>
#include <stdexcept>

namespace kavrin::components::messagegrabber {

class ENonWindowOwner : public std::runtime_error {
 public:
  ENonWindowOwner() : std::runtime_error("Owner must be a windowed control") {}
};

enum class GrabbedMessage { WM_SIZE, WM_MOVE, WM_DESTROY, WM_GETMINMAXINFO };

struct TPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  bool operator==(const TPoint&) const = default;
};

// WM_GETMINMAXINFO's record; a field left 0 by the toolkit means no limit.
struct TMinMaxInfo {
  TPoint ptReserved;
  TPoint ptMaxSize;
  TPoint ptMaxPosition;
  TPoint ptMinTrackSize;
  TPoint ptMaxTrackSize;
};

// Raises ENonWindowOwner unless the owner is a windowed control.
inline void CheckGrabberOwner(bool owner_is_windowed_control) {
  if (!owner_is_windowed_control) throw ENonWindowOwner();
}

}  // namespace kavrin::components::messagegrabber
