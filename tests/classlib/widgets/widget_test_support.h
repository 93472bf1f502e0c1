// Helpers of the widget tests: a scripted seam that reports to GoogleTest, event pumping, and a fresh
// application state per test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "classlib/widgets/application.h"
#include "classlib/widgets/screen.h"
#include "classlib/widgets/scripted_ui.h"

namespace kavrin::testing {

// A scripted seam whose failures fail the running test.
class GTestScriptedUi : public classlib::ScriptedUi {
 public:
  GTestScriptedUi() : ScriptedUi([](const std::string& failure) { ADD_FAILURE() << failure; }) {}
};

// A scripted seam that collects failures, for tests about the seam itself.
class CollectingScriptedUi : public classlib::ScriptedUi {
 public:
  CollectingScriptedUi() : ScriptedUi([this](const std::string& failure) { seen.push_back(failure); }) {}
  std::vector<std::string> seen;
};

// Runs the event loop until condition holds or the time is up; true when it held.
inline bool PumpUntil(const std::function<bool()>& condition, int milliseconds = 2000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > milliseconds) return false;
    // A real loop slice: it blocks, so idle processing runs as in a program.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Sends a key press and release to the focused widget (or to target), with its text.
inline void PressKey(QWidget* target, int key, const QString& text = QString(),
                     Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* to = target ? target : QApplication::focusWidget();
  if (!to) return;
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QCoreApplication::sendEvent(to, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, text);
  QCoreApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : to, &release);
}

// Types plain characters into the focused widget; "\b" is Backspace.
inline void TypeText(const std::string& text) {
  for (char c : text) {
    if (c == '\b') {
      PressKey(nullptr, Qt::Key_Backspace, "\b");
    } else if (c >= '0' && c <= '9') {
      PressKey(nullptr, Qt::Key_0 + (c - '0'), QString(QChar(c)));
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      PressKey(nullptr, Qt::Key_A + (std::toupper(static_cast<unsigned char>(c)) - 'A'), QString(QChar(c)));
    } else {
      PressKey(nullptr, c == ' ' ? Qt::Key_Space : Qt::Key_unknown, QString(QChar(c)));
    }
  }
}

// Sends a mouse event at a point of widget, in its coordinates.
inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                      Qt::MouseButtons buttons = Qt::LeftButton) {
  QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

// Lets the loop go idle once (idle events, deferred frees).
inline void PumpIdle(int milliseconds = 30) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Clears the application events a test set, and frees the forms it left.
class WidgetTest : public ::testing::Test {
 protected:
  void SetUp() override { cwd_ = std::filesystem::current_path(); }
  void TearDown() override {
    ClearEvents();
    std::error_code ec;
    std::filesystem::current_path(cwd_, ec);
    classlib::Screen().SetCursor(classlib::crDefault);
    PumpIdle(5);
  }

  // Drops the handlers a test bound to the application and the screen (they capture its locals).
  static void ClearEvents() {
    auto& app = classlib::Application();
    app.OnHint = nullptr;
    app.OnIdle = nullptr;
    app.OnException = nullptr;
    app.SetHint("");
    classlib::Screen().OnActiveFormChange = nullptr;
  }

 private:
  std::filesystem::path cwd_;
};

}  // namespace kavrin::testing
