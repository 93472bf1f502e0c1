// Every run-time test starts from the default format settings and the local clock, and leaves them so.
#pragma once

#include <gtest/gtest.h>

#include "runtime/date_time.h"
#include "runtime/format_settings.h"

namespace kavrin::runtime::testing {

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFormatSettings();
    SetClock(nullptr);
  }
  void TearDown() override {
    ResetFormatSettings();
    SetClock(nullptr);
  }

  static void FixClock(TDateTime now) {
    SetClock([now] { return now; });
  }
};

}  // namespace kavrin::runtime::testing
