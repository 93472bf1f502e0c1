// The core of TQelFormEnh (unit QelFormEnh): a form's position, size and state saved in the registry
// when it goes away and restored when it is loaded, and limits on how small or large it can be dragged.
//
// Registry layout, below the root of RootKey, in SubKey\<the form's component name>, each REG_SZ
// decimal text: "Left" and "Top" (SavePosition), "Width", "Height" and "WindowState" (0 normal,
// 1 minimized, 2 maximized) (SaveSize). Read back, a text longer than two characters starting "0x" or
// "0X" is hexadecimal; a value that is missing, not a string or not a number leaves the form's own.
//
// The form comes in through PlacementWindow, which the Qt adapter implements.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "components/message_grabber_messages.h"

namespace kavrin::components::qelformenh {

using messagegrabber::TMinMaxInfo;
using messagegrabber::TPoint;

// This unit's root choice (the settings component has another type of this name).
enum class TRootKey : std::uint8_t { rkCurrentUser, rkLocalMachine };

enum class TWindowState : std::int32_t { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

inline constexpr std::uint32_t SW_HIDE = 0;
inline constexpr std::uint32_t SW_SHOWNORMAL = 1;
inline constexpr std::uint32_t SW_SHOWMINIMIZED = 2;
inline constexpr std::uint32_t SW_SHOWMAXIMIZED = 3;

struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  bool operator==(const TRect&) const = default;
};

struct TSize {
  std::int32_t cx = 0;
  std::int32_t cy = 0;
};

struct TWindowPlacement {
  std::uint32_t length = 44;
  std::uint32_t flags = 0;
  std::uint32_t showCmd = SW_SHOWNORMAL;
  TPoint ptMinPosition;
  TPoint ptMaxPosition;
  TRect rcNormalPosition;
  bool operator==(const TWindowPlacement&) const = default;
};

// The form as placement needs it.
class PlacementWindow {
 public:
  virtual ~PlacementWindow() = default;
  virtual std::string Name() const = 0;  // the component name: the subkey of the placement
  virtual std::int32_t Left() const = 0;
  virtual std::int32_t Top() const = 0;
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;
  virtual void SetLeft(std::int32_t left) = 0;
  virtual void SetTop(std::int32_t top) = 0;
  virtual TWindowState WindowState() const = 0;
  virtual bool Visible() const = 0;
  virtual bool Sizeable() const = 0;  // the border style lets the user size it
  virtual bool IsMdiChild() const = 0;
  // The MDI frame's client area, whoever owns the child.
  virtual TSize MdiClientSize() const = 0;
  virtual TSize ScreenSize() const = 0;
  virtual TWindowPlacement GetPlacement() const = 0;
  virtual void SetPlacement(const TWindowPlacement& placement) = 0;
};

// Raises the class library's plain exception: "Owner must be a form", "This form already contains a
// TQelFormEnh component".
void CheckQelFormEnhOwner(bool owner_is_form, bool form_has_one_already);

// The number a stored text stands for, or nothing.
std::optional<std::int32_t> ParsePlacementNumber(std::string_view text);

class TQelFormEnhPlacement {
 public:
  explicit TQelFormEnhPlacement(PlacementWindow& form) : form_(form) {}

  bool AllowMaximized = true;
  bool AllowMinimized = true;
  bool CheckPos = false;
  TRootKey RootKey = TRootKey::rkCurrentUser;
  bool SaveSize = false;
  bool SavePosition = false;
  std::string SubKey;  // a leading '\' is a path from the root

  std::int32_t MinSizeX() const { return min_x_; }
  std::int32_t MinSizeY() const { return min_y_; }
  std::int32_t MaxSizeX() const { return max_x_; }
  std::int32_t MaxSizeY() const { return max_y_; }
  // A negative limit is stored as 0, no limit.
  void SetMinSizeX(std::int32_t v) { min_x_ = v < 0 ? 0 : v; }
  void SetMinSizeY(std::int32_t v) { min_y_ = v < 0 ? 0 : v; }
  void SetMaxSizeX(std::int32_t v) { max_x_ = v < 0 ? 0 : v; }
  void SetMaxSizeY(std::int32_t v) { max_y_ = v < 0 ? 0 : v; }
  static std::string Version() { return "1.01.00"; }
  void SetVersion(const std::string&) {}

  // WM_GETMINMAXINFO: the limits above 0 replace the track sizes of a sizeable form.
  void ApplyTrackLimits(TMinMaxInfo& info) const;
  // After the form was resized or moved: the placement is cached only while the form is normal, so a
  // maximized or minimized form keeps the normal rectangle from before.
  void GeometryChanged();
  const TWindowPlacement& CachedPlacement() const { return cached_; }

  // From Loaded.
  void RestorePlacement();
  // From the destructor; raises the registry class's ERegistryException when it cannot write.
  void SavePlacement();

 private:
  bool Enabled() const { return (SavePosition || SaveSize) && !SubKey.empty(); }

  PlacementWindow& form_;
  std::int32_t min_x_ = 0;
  std::int32_t min_y_ = 0;
  std::int32_t max_x_ = 0;
  std::int32_t max_y_ = 0;
  TWindowPlacement cached_;
};

}  // namespace kavrin::components::qelformenh
