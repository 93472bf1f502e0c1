// One application object for the whole test program, as a real program has; test discovery lists the
// tests without one, so it needs no display. Tests set the application title they need.
#include <gtest/gtest.h>

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "classlib/widgets/application.h"

namespace {

// The offscreen platform warns about every raise(); nothing else is dropped.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith("This plugin does not support")) return;
  std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(QuietOffscreen);
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) listing = true;
  }
  ::testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<kavrin::classlib::TApplication> app;
  if (!listing) app = std::make_unique<kavrin::classlib::TApplication>(argc, argv);
  return RUN_ALL_TESTS();
}
