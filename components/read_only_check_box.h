// TReadOnlyCheckBox (unit Rdonckbx): a check box that can be made read-only. While ReadOnly is set the
// user's click or Space leaves the state alone; setting Checked from code still works.
#pragma once

#include "classlib/widgets/std_controls.h"
#include "components/read_only_check_box_state.h"

namespace kavrin::components::rdonckbx {

class TReadOnlyCheckBox : public classlib::TCheckBox {
 public:
  explicit TReadOnlyCheckBox(classlib::TWinControl& parent) : TCheckBox(parent) {}

  bool ReadOnly() const { return rule_.ReadOnly(); }
  void SetReadOnly(bool read_only) { rule_.SetReadOnly(read_only); }

  void Toggle() override {
    rule_.SetChecked(Checked());
    if (rule_.UserToggle()) TCheckBox::Toggle();
  }

 private:
  TReadOnlyCheckBoxState rule_;
};

}  // namespace kavrin::components::rdonckbx
