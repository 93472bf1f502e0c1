#include "components/qel_form_enh_placement.h"

#include <charconv>
#include <stdexcept>

#include "classlib/registry/registry.h"

namespace kavrin::components::qelformenh {

namespace {

platform::HKEY RootHandle(TRootKey root) {
  return root == TRootKey::rkLocalMachine ? platform::HKEY_LOCAL_MACHINE : platform::HKEY_CURRENT_USER;
}

// The stored number, or fallback when the value is missing, not a string or not a number.
std::int32_t ReadNumber(classlib::TRegistry& reg, bool has_key, const std::string& name, std::int32_t fallback) {
  if (!has_key || !reg.ValueExists(name)) return fallback;
  try {
    return ParsePlacementNumber(reg.ReadString(name)).value_or(fallback);
  } catch (const classlib::ERegistryException&) {
    return fallback;
  }
}

}  // namespace

void CheckQelFormEnhOwner(bool owner_is_form, bool form_has_one_already) {
  if (!owner_is_form) throw std::runtime_error("Owner must be a form");
  if (form_has_one_already) throw std::runtime_error("This form already contains a TQelFormEnh component");
}

std::optional<std::int32_t> ParsePlacementNumber(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string_view digits = text.substr(2);
    if (digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return static_cast<std::int32_t>(value);
  }
  if (text.empty()) return std::nullopt;
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void TQelFormEnhPlacement::ApplyTrackLimits(TMinMaxInfo& info) const {
  if (!form_.Sizeable()) return;
  if (min_x_ > 0) info.ptMinTrackSize.x = min_x_;
  if (min_y_ > 0) info.ptMinTrackSize.y = min_y_;
  if (max_x_ > 0) info.ptMaxTrackSize.x = max_x_;
  if (max_y_ > 0) info.ptMaxTrackSize.y = max_y_;
}

void TQelFormEnhPlacement::GeometryChanged() {
  if (form_.WindowState() == TWindowState::wsNormal) cached_ = form_.GetPlacement();
}

void TQelFormEnhPlacement::RestorePlacement() {
  if (!Enabled()) return;
  classlib::TRegistry reg;
  reg.SetRootKey(RootHandle(RootKey));
  // Nothing can be stored where the key cannot even be made: the form keeps its own placement.
  if (!reg.OpenKey(SubKey, true)) return;
  const bool has_key = reg.OpenKey(form_.Name(), false);

  cached_ = form_.GetPlacement();
  TRect& normal = cached_.rcNormalPosition;
  if (SavePosition) {
    const std::int32_t left = ReadNumber(reg, has_key, "Left", form_.Left());
    normal.Right += left - form_.Left();
    normal.Left = left;
    const std::int32_t top = ReadNumber(reg, has_key, "Top", form_.Top());
    normal.Bottom += top - form_.Top();
    normal.Top = top;
  }
  if (SaveSize) {
    std::int32_t state = ReadNumber(reg, has_key, "WindowState", 0);
    if ((state == 2 && !AllowMaximized) || (state == 1 && !AllowMinimized)) state = 0;
    normal.Right = normal.Left + ReadNumber(reg, has_key, "Width", form_.Width());
    normal.Bottom = normal.Top + ReadNumber(reg, has_key, "Height", form_.Height());
    cached_.showCmd = state == 1 ? SW_SHOWMINIMIZED : state == 2 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  }
  // A form made hidden (a main window) gets its rectangle back but not its state.
  if (!form_.Visible()) cached_.showCmd = SW_HIDE;
  // Applying it moves and sizes the form, which refreshes the cache; the show command asked for stays.
  const TWindowPlacement wanted = cached_;
  form_.SetPlacement(wanted);

  if (CheckPos && wanted.showCmd == SW_SHOWNORMAL) {
    const TSize area = form_.IsMdiChild() ? form_.MdiClientSize() : form_.ScreenSize();
    if (form_.Left() + form_.Width() > area.cx) form_.SetLeft(area.cx - form_.Width());
    if (form_.Top() + form_.Height() > area.cy) form_.SetTop(area.cy - form_.Height());
    if (form_.Left() < 0) form_.SetLeft(0);
    if (form_.Top() < 0) form_.SetTop(0);
  }
}

void TQelFormEnhPlacement::SavePlacement() {
  if (!Enabled()) return;
  classlib::TRegistry reg;
  reg.SetRootKey(RootHandle(RootKey));
  const std::string path = SubKey + "\\" + form_.Name();
  if (!reg.OpenKey(SubKey, true) || !reg.OpenKey(form_.Name(), true)) {
    throw classlib::ERegistryException("Failed to create key '" + path + "'", reg.LastError());
  }
  std::int32_t left = form_.Left();
  std::int32_t top = form_.Top();
  std::int32_t width = form_.Width();
  std::int32_t height = form_.Height();
  const TWindowState state = form_.WindowState();
  if (state != TWindowState::wsNormal) {
    // The window may be gone by now; the normal rectangle is the one cached while it was normal.
    const TRect& normal = cached_.rcNormalPosition;
    left = normal.Left;
    top = normal.Top;
    width = normal.Right - normal.Left;
    height = normal.Bottom - normal.Top;
  }
  if (SavePosition) {
    reg.WriteString("Left", std::to_string(left));
    reg.WriteString("Top", std::to_string(top));
  }
  if (SaveSize) {
    reg.WriteString("Width", std::to_string(width));
    reg.WriteString("Height", std::to_string(height));
    reg.WriteString("WindowState", std::to_string(static_cast<std::int32_t>(state)));
  }
}

}  // namespace kavrin::components::qelformenh
