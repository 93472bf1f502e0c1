// A program around the class library's message loop, started by the loop tests as a second process:
// each mode prints what happened, line by line, and Run's end.
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "classlib/widgets/application.h"

using namespace kavrin::classlib;

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  TApplication app(argc, argv);
  auto* main = app.CreateForm<TForm>();
  main->OnShow = [](TComponent*) { std::printf("main form shown\n"); };
  main->OnDestroy = [](TComponent*) { std::printf("main form destroyed\n"); };
  main->OnClose = [](TComponent*, TCloseAction&) { std::printf("main form closing\n"); };
  if (std::strcmp(mode, "close") == 0) {
    QTimer::singleShot(50, [main] { main->Close(); });
  } else if (std::strcmp(mode, "terminate-first") == 0) {
    app.Terminate();
  } else if (std::strcmp(mode, "idle-exception") == 0) {
    app.OnException = [&app](TComponent*, const std::exception& e) {
      std::printf("handled: %s\n", e.what());
      app.Terminate();
    };
    app.OnIdle = [](TComponent*, bool&) { throw std::runtime_error("idle failed"); };
  } else {
    return 2;
  }
  app.Run();
  std::printf("run returned, terminated %d\n", app.Terminated() ? 1 : 0);
  std::fflush(stdout);
  return 0;
}
