#include "components/read_only_check_box_state.h"

#include <gtest/gtest.h>

namespace kavrin::components::rdonckbx {
namespace {

TEST(ReadOnlyCheckBoxTest, UserTogglesOnlyWhenNotReadOnlyAndCodeAlways) {
  const struct {
    bool read_only;
    bool checked;
    bool after_click;
    bool changed;
  } cases[] = {
      {false, false, true, true},
      {false, true, false, true},
      {true, false, false, false},
      {true, true, true, false},
  };
  for (const auto& c : cases) {
    TReadOnlyCheckBoxState box;
    EXPECT_FALSE(box.ReadOnly());
    box.SetChecked(c.checked);
    box.SetReadOnly(c.read_only);
    EXPECT_EQ(box.UserToggle(), c.changed);
    EXPECT_EQ(box.Checked(), c.after_click);
    box.SetChecked(!box.Checked());
    EXPECT_EQ(box.Checked(), !c.after_click) << "setting Checked in code works while read-only too";
  }
}

}  // namespace
}  // namespace kavrin::components::rdonckbx
