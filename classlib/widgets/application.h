// The application object: title, help file, command line, hints, idle and exception events, the
// message loop. It is also the engine's message hook, so lock waits keep the windows alive, and it runs
// the hidden message windows (sockets, mail) on Qt's loop while it exists.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/widgets/control.h"
#include "classlib/widgets/graphics.h"
#include "classlib/widgets/ui.h"

class QApplication;

namespace kavrin::classlib {

class TForm;
class ApplicationEvents;
class QtMessageLoop;

using TIdleEvent = std::function<void(TComponent* Sender, bool& Done)>;
using TExceptionEvent = std::function<void(TComponent* Sender, const std::exception& E)>;

// Win32 MessageBox flags the programs pass.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_ICONERROR = 0x10,
  MB_ICONSTOP = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
};
// Win32 MessageBox answers.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

class TApplication : public TComponent {
 public:
  // Creates the Qt application when there is none yet (argc and argv must outlive it).
  TApplication(int& argc, char** argv);
  ~TApplication() override;
  static TApplication* Instance();

  std::string Title() const { return title_; }
  void SetTitle(const std::string& title);
  std::string HelpFile;
  TIcon Icon;
  bool ShowMainForm = true;

  // The program's own file, absolute.
  std::string ExeName() const;
  // Arguments after the program name, as the class library counts them.
  int ParamCount() const;
  // 0 is the program; past the end, empty.
  std::string ParamStr(int index) const;

  // The long part of the hint under the mouse or of the highlighted menu item.
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);
  bool ShowHint = true;

  TNotifyEvent OnHint;
  TIdleEvent OnIdle;
  TExceptionEvent OnException;

  // Hands the exception being handled to OnException, or to the default box; EAbort is silent. Call
  // from inside a catch block.
  void HandleException(TComponent* sender);
  // The same for an exception given by reference (the data layers hand theirs over this way).
  void HandleException(TComponent* sender, const std::exception& e);
  // The default box: the message, with a full stop added when it ends in a letter or digit, as an
  // error box with OK under the application title.
  void ShowException(const std::exception& e);

  void ProcessMessages();
  // Runs of pending messages nested in running code through the message hook: an engine call waiting
  // for a lock, a report printer's page step. A handler run from one of them runs under that call.
  int MessageDepth() const { return messageDepth_; }
  // A long command holds a TBusyScope.
  bool CommandRunning() const { return busyCount_ > 0; }
  // Either: what a form owns may be in use further down the stack, so forms refuse to close, a form
  // released meanwhile is freed only afterwards, and no second command starts.
  bool Busy() const { return messageDepth_ > 0 || busyCount_ > 0; }
  // Shows the main form and runs the message loop until the main form closes or Terminate.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // One idle pass, as the loop runs when it has nothing to do: OnIdle until Done.
  void Idle();

  TForm* MainForm() const { return mainForm_; }
  // Creates a form owned by the application and fires its OnCreate; the first becomes the main form.
  template <class T, class... Args>
  T* CreateForm(Args&&... args);

  // Help calls, to the help stand-in.
  bool HelpContext(int context);
  bool HelpCommand(unsigned command, long data);
  // Win32 MessageBox through the seam.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags);

  QApplication* Qt() const { return qt_; }

 private:
  friend class TForm;
  friend class ApplicationEvents;
  friend class TBusyScope;
  void FormCreated(TForm* form);
  void FocusChanged(QWidget* now);
  // The message hook.
  static void RunHookedMessages();

  std::unique_ptr<QApplication> ownedQt_;
  std::unique_ptr<class TScreen> screen_;
  QApplication* qt_ = nullptr;
  ApplicationEvents* events_ = nullptr;
  std::unique_ptr<QtMessageLoop> messageLoop_;
  std::string title_;
  std::string hint_;
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  bool inIdle_ = false;
  bool inHandler_ = false;
  int messageDepth_ = 0;
  int busyCount_ = 0;
};

// Held by a long command for its whole run (taken first thing in its handler). Taken while the
// application is busy it refuses: the constructor raises EAbort, which ends the second command
// silently. Without an application it does nothing.
class TBusyScope {
 public:
  TBusyScope();
  ~TBusyScope();
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  TApplication* app_;
};

// The one application; raises std::logic_error when none exists.
TApplication& Application();

}  // namespace kavrin::classlib

#include "classlib/widgets/form.h"

namespace kavrin::classlib {

template <class T, class... Args>
T* TApplication::CreateForm(Args&&... args) {
  T* form = new T(this, std::forward<Args>(args)...);
  FormCreated(form);
  form->AfterConstruction();
  return form;
}

}  // namespace kavrin::classlib
