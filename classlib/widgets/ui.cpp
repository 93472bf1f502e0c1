#include "classlib/widgets/ui.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

#include "classlib/widgets/application.h"
#include "classlib/widgets/qt_ui.h"

namespace kavrin::classlib {

namespace {
Ui* g_ui = nullptr;
TEventExceptionSink g_exceptionSink;
}  // namespace

Ui& CurrentUi() {
  if (g_ui) return *g_ui;
  static QtUi real;
  return real;
}

Ui* SetCurrentUi(Ui* ui) {
  Ui* previous = g_ui;
  g_ui = ui;
  return previous;
}

TEventExceptionSink SetEventExceptionSink(TEventExceptionSink sink) {
  TEventExceptionSink previous = std::move(g_exceptionSink);
  g_exceptionSink = std::move(sink);
  return previous;
}

void HandleEventException(TComponent* sender) noexcept {
  try {
    if (g_exceptionSink) {
      g_exceptionSink(sender);
      return;
    }
    if (std::exception_ptr current = std::current_exception()) std::rethrow_exception(current);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "unhandled exception: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "unhandled exception\n");
  }
}

TModalResult ButtonResult(TMsgDlgBtn button) {
  switch (button) {
    case TMsgDlgBtn::mbYes: return mrYes;
    case TMsgDlgBtn::mbNo: return mrNo;
    case TMsgDlgBtn::mbOK: return mrOk;
    case TMsgDlgBtn::mbCancel: return mrCancel;
    case TMsgDlgBtn::mbAbort: return mrAbort;
    case TMsgDlgBtn::mbRetry: return mrRetry;
    case TMsgDlgBtn::mbIgnore: return mrIgnore;
    case TMsgDlgBtn::mbAll: return mrAll;
    case TMsgDlgBtn::mbHelp: return mrNone;
  }
  return mrNone;
}

std::string DescribeButtons(TMsgDlgButtons buttons) {
  static const char* const names[] = {"Yes", "No", "OK", "Cancel", "Abort", "Retry", "Ignore", "All", "Help"};
  std::string out;
  for (int i = 0; i <= static_cast<int>(TMsgDlgBtn::mbHelp); ++i) {
    if (!buttons.Has(static_cast<TMsgDlgBtn>(i))) continue;
    if (!out.empty()) out += "/";
    out += names[i];
  }
  return out.empty() ? "(no buttons)" : out;
}

std::string DescribeType(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning: return "warning";
    case TMsgDlgType::mtError: return "error";
    case TMsgDlgType::mtInformation: return "information";
    case TMsgDlgType::mtConfirmation: return "confirmation";
    case TMsgDlgType::mtCustom: return "plain";
  }
  return "?";
}

std::string DescribeResult(TModalResult result) {
  static const char* const names[] = {"None", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No", "All"};
  if (result >= 0 && result <= mrAll) return names[result];
  return std::to_string(result);
}

std::string MessageCaption(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning: return "Warning";
    case TMsgDlgType::mtError: return "Error";
    case TMsgDlgType::mtInformation: return "Information";
    case TMsgDlgType::mtConfirmation: return "Confirm";
    case TMsgDlgType::mtCustom: break;
  }
  TApplication* app = TApplication::Instance();
  return app ? app->Title() : std::string();
}

}  // namespace kavrin::classlib
