#include "classlib/widgets/application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <stdexcept>

#include "classlib/data/exceptions.h"
#include "classlib/data/session.h"
#include "classlib/widgets/help.h"
#include "classlib/widgets/hint_text.h"
#include "classlib/widgets/qt_message_loop.h"
#include "classlib/widgets/screen.h"
#include "classlib/widgets/session_dialogs.h"
#include "platform/message_window.h"
#include "platform/ticks.h"
#include "runtime/abort.h"

namespace kavrin::classlib {

namespace {

TApplication* g_application = nullptr;

}  // namespace

void TApplication::RunHookedMessages() {
  TApplication* app = g_application;
  if (!app) return;
  ++app->messageDepth_;
  struct TLeave {
    TApplication* app;
    ~TLeave() { --app->messageDepth_; }
  } leave{app};
  app->ProcessMessages();
}

TBusyScope::TBusyScope() : app_(TApplication::Instance()) {
  if (!app_) return;
  if (app_->Busy()) runtime::Abort();
  ++app_->busyCount_;
}

TBusyScope::~TBusyScope() {
  if (app_) --app_->busyCount_;
}

// The application's connections to Qt's own signals, and its watch over every widget's events.
class ApplicationEvents : public QObject {
 public:
  explicit ApplicationEvents(TApplication* app) : app_(app) {}
  TApplication* app_;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Enter && watched->isWidgetType()) {
      Guarded(app_, [this, watched] { MouseEntered(static_cast<QWidget*>(watched)); });
    }
    return false;
  }

 private:
  // The hint of the control under the mouse, or of the nearest parent that has one.
  void MouseEntered(const QWidget* widget) {
    const TControl* c = TControl::FromWidget(widget);
    while (c && c->Hint().empty()) c = c->Parent();
    app_->SetHint(c ? GetLongHint(c->Hint()) : std::string());
  }
};

TApplication::TApplication(int& argc, char** argv) {
  if (g_application) throw std::logic_error("a program has one application object");
  qt_ = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!qt_) {
    ownedQt_ = std::make_unique<QApplication>(argc, argv);
    qt_ = ownedQt_.get();
  }
  qt_->setQuitOnLastWindowClosed(false);
  g_application = this;
  screen_ = std::make_unique<TScreen>();
  title_ = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
  events_ = new ApplicationEvents(this);
  qt_->installEventFilter(events_);
  QObject::connect(qt_, &QApplication::focusChanged, events_,
                   [this](QWidget*, QWidget* now) { Guarded(this, [this, now] { FocusChanged(now); }); });
  QObject::connect(qt_, &QGuiApplication::focusWindowChanged, events_, [this](QWindow*) {
    Guarded(this, [] {
      if (TScreen* s = TScreen::Instance()) s->ActiveFormMayHaveChanged(false);
    });
  });
  if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, events_, [this] { Idle(); });
  }
  platform::SetMessageHook(&TApplication::RunHookedMessages);
  messageLoop_ = std::make_unique<QtMessageLoop>();
  platform::SetMessageLoop(messageLoop_.get());
  // The data layers' errors and password questions reach the user through the application.
  SetApplicationExceptionHandler([this](const std::exception& e) { HandleException(this, e); });
  SetEventExceptionSink([this](TComponent* sender) { HandleException(sender); });
  SetPasswordDialog(&SessionPasswordDialog);
}

TApplication::~TApplication() {
  DestroyComponents();
  SetApplicationExceptionHandler(nullptr);
  SetEventExceptionSink(nullptr);
  SetPasswordDialog(nullptr);
  // After the components, whose sockets and windows leave the loop as they go.
  if (&platform::CurrentMessageLoop() == messageLoop_.get()) platform::SetMessageLoop(nullptr);
  messageLoop_.reset();
  if (platform::GetMessageHook() == &TApplication::RunHookedMessages) platform::SetMessageHook(nullptr);
  delete events_;
  events_ = nullptr;
  screen_.reset();
  g_application = nullptr;
  ownedQt_.reset();
}

TApplication* TApplication::Instance() { return g_application; }

TApplication& Application() {
  if (!g_application) throw std::logic_error("no application object");
  return *g_application;
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  QGuiApplication::setApplicationDisplayName(QString::fromStdString(title));
}

std::string TApplication::ExeName() const { return QCoreApplication::applicationFilePath().toStdString(); }

int TApplication::ParamCount() const { return static_cast<int>(QCoreApplication::arguments().size()) - 1; }

std::string TApplication::ParamStr(int index) const {
  if (index == 0) return ExeName();
  const QStringList args = QCoreApplication::arguments();
  if (index < 0 || index >= args.size()) return {};
  return args[index].toStdString();
}

void TApplication::SetHint(const std::string& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  if (OnHint) Guarded(this, [this] { OnHint(this); });
}

void TApplication::HandleException(TComponent* sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    HandleException(sender, e);
  } catch (...) {
    HandleException(sender, std::runtime_error("Unknown exception"));
  }
}

void TApplication::HandleException(TComponent* sender, const std::exception& e) {
  // EAbort is silent by design.
  if (dynamic_cast<const runtime::EAbort*>(&e)) return;
  if (inHandler_) {
    // An exception inside the handler itself: show it plainly rather than loop.
    std::fprintf(stderr, "%s\n", e.what());
    return;
  }
  inHandler_ = true;
  try {
    if (OnException) {
      OnException(sender, e);
    } else {
      ShowException(e);
    }
  } catch (const std::exception& inner) {
    std::fprintf(stderr, "exception handler failed: %s\n", inner.what());
  } catch (...) {
    std::fprintf(stderr, "exception handler failed\n");
  }
  inHandler_ = false;
}

void TApplication::ShowException(const std::exception& e) {
  std::string message = e.what();
  // The class library ends a message with a full stop unless it already ends in punctuation.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  TMessageRequest request;
  request.Type = TMsgDlgType::mtError;
  request.Text = message;
  request.Caption = title_;
  request.Buttons = TMsgDlgButtons{TMsgDlgBtn::mbOK};
  CurrentUi().MessageBox(request);
}

void TApplication::ProcessMessages() {
  if (qt_) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Idle() {
  if (inIdle_ || terminated_) return;
  inIdle_ = true;
  bool done = true;
  Guarded(this, [&] {
    if (OnIdle) OnIdle(this, done);
  });
  inIdle_ = false;
  // Not done: idle again at once, as long as nothing else arrives.
  if (!done) QTimer::singleShot(0, events_, [] {});
}

void TApplication::Run() {
  if (terminated_) return;
  if (mainForm_ && ShowMainForm) mainForm_->Show();
  while (!terminated_) QApplication::exec();
}

void TApplication::Terminate() {
  terminated_ = true;
  QCoreApplication::exit(0);
}

void TApplication::FormCreated(TForm* form) {
  if (!mainForm_) mainForm_ = form;
}

void TApplication::FocusChanged(QWidget* now) {
  if (!now) return;
  TControl* c = TControl::FromWidget(now);
  while (c && !c->IsWindowed()) c = c->Parent();
  auto* win = dynamic_cast<TWinControl*>(c);
  if (!win || dynamic_cast<TForm*>(win)) return;
  if (TForm* form = win->ParentForm()) form->SetActiveControl(win);
}

bool TApplication::HelpContext(int context) { return WinHelp(HelpFile, HELP_CONTEXT, context); }

bool TApplication::HelpCommand(unsigned command, long data) { return WinHelp(HelpFile, command, data); }

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  TMessageRequest request;
  request.Text = text;
  request.Caption = caption;
  switch (flags & 0xF0u) {
    case MB_ICONERROR: request.Type = TMsgDlgType::mtError; break;
    case MB_ICONQUESTION: request.Type = TMsgDlgType::mtConfirmation; break;
    case MB_ICONWARNING: request.Type = TMsgDlgType::mtWarning; break;
    case MB_ICONINFORMATION: request.Type = TMsgDlgType::mtInformation; break;
    default: request.Type = TMsgDlgType::mtCustom; break;
  }
  using B = TMsgDlgBtn;
  switch (flags & 0xFu) {
    case MB_OKCANCEL: request.Buttons = {B::mbOK, B::mbCancel}; break;
    case MB_ABORTRETRYIGNORE: request.Buttons = {B::mbAbort, B::mbRetry, B::mbIgnore}; break;
    case MB_YESNOCANCEL: request.Buttons = {B::mbYes, B::mbNo, B::mbCancel}; break;
    case MB_YESNO: request.Buttons = {B::mbYes, B::mbNo}; break;
    case MB_RETRYCANCEL: request.Buttons = {B::mbRetry, B::mbCancel}; break;
    default: request.Buttons = {B::mbOK}; break;
  }
  // Modal results and MessageBox answers share their numbers.
  return CurrentUi().MessageBox(request);
}

}  // namespace kavrin::classlib
