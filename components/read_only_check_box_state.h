// The core of TReadOnlyCheckBox (unit Rdonckbx): a check box that can be made read-only. While ReadOnly
// is set, the user's click or Space leaves the state alone; setting Checked from code still works. The
// Qt adapter asks UserToggle before letting a click or Space through.
#pragma once

namespace kavrin::components::rdonckbx {

class TReadOnlyCheckBoxState {
 public:
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool Checked() const { return checked_; }
  void SetChecked(bool checked) { checked_ = checked; }

  // A click or Space: true when the state changed.
  bool UserToggle() {
    if (read_only_) return false;
    checked_ = !checked_;
    return true;
  }

 private:
  bool read_only_ = false;
  bool checked_ = false;
};

}  // namespace kavrin::components::rdonckbx
