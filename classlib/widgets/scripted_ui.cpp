#include "classlib/widgets/scripted_ui.h"

#include <cstdio>

#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/form.h"

namespace kavrin::classlib {

ScriptedUi::ScriptedUi(FailureSink sink) : sink_(std::move(sink)), previous_(SetCurrentUi(this)) {}

ScriptedUi::~ScriptedUi() {
  Verify();
  SetCurrentUi(previous_);
}

void ScriptedUi::Fail(const std::string& failure) {
  failures_.push_back(failure);
  if (sink_) {
    sink_(failure);
  } else {
    std::fprintf(stderr, "scripted ui: %s\n", failure.c_str());
  }
}

std::string ScriptedUi::Describe(const Expectation& e) {
  switch (e.What) {
    case Kind::Message: return DescribeType(e.Type) + " box \"" + e.Text + "\" [" + DescribeButtons(e.Buttons) + "]";
    case Kind::Modal: return "modal form \"" + e.Text + "\"";
    case Kind::Open: return "open dialog \"" + e.Text + "\"";
    case Kind::Save: return "save dialog \"" + e.Text + "\"";
    case Kind::Print:
    case Kind::PrinterSetup: {
      std::string text = e.What == Kind::Print ? "print dialog" : "printer setup dialog";
      if (e.Choice) {
        text += e.Choice->PrintToFile ? " to file \"" + e.Choice->FileName + "\"" : " on \"" + e.Choice->Queue + "\"";
      }
      return text;
    }
    case Kind::Folder: return "folder picker \"" + e.Text + "\"";
  }
  return "?";
}

ScriptedUi& ScriptedUi::ExpectMessage(TMsgDlgType type, const std::string& text, TMsgDlgButtons buttons,
                                      TModalResult answer) {
  Expectation e;
  e.What = Kind::Message;
  e.Text = text;
  e.Type = type;
  e.Buttons = buttons;
  e.Answer = answer;
  queue_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectModal(const std::string& caption, ModalScript script) {
  Expectation e;
  e.What = Kind::Modal;
  e.Text = caption;
  e.Script = std::move(script);
  queue_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectOpen(const std::string& title, std::vector<std::string> files, bool readOnlyChecked) {
  Expectation e;
  e.What = Kind::Open;
  e.Text = title;
  e.Files = std::move(files);
  e.Flag = readOnlyChecked;
  queue_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectSave(const std::string& title, std::optional<std::string> file) {
  Expectation e;
  e.What = Kind::Save;
  e.Text = title;
  if (file) e.Files.push_back(*file);
  queue_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectPrint(bool accept) {
  Expectation e;
  e.What = Kind::Print;
  e.Text = "";
  e.Flag = accept;
  queue_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectPrinterSetup(bool accept) {
  Expectation e;
  e.What = Kind::PrinterSetup;
  e.Text = "";
  e.Flag = accept;
  queue_.push_back(std::move(e));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectPrint(const TPrinterChoice& choice) {
  ExpectPrint(true);
  queue_.back().Choice = choice;
  return *this;
}

ScriptedUi& ScriptedUi::ExpectPrinterSetup(const TPrinterChoice& choice) {
  ExpectPrinterSetup(true);
  queue_.back().Choice = choice;
  return *this;
}

ScriptedUi& ScriptedUi::ExpectFolder(const std::string& title, std::optional<std::string> folder) {
  Expectation e;
  e.What = Kind::Folder;
  e.Text = title;
  if (folder) e.Files.push_back(*folder);
  queue_.push_back(std::move(e));
  return *this;
}

void ScriptedUi::Verify() {
  while (!queue_.empty()) {
    Fail("expected " + Describe(queue_.front()) + " was never shown");
    queue_.pop_front();
  }
}

std::optional<ScriptedUi::Expectation> ScriptedUi::Take(Kind kind, const std::string& text, const std::string& came) {
  if (queue_.empty()) {
    Fail("unexpected " + came + " (nothing more was expected)");
    return std::nullopt;
  }
  const Expectation& next = queue_.front();
  if (next.What != kind || next.Text != text) {
    Fail("unexpected " + came + " while waiting for " + Describe(next));
    return std::nullopt;
  }
  Expectation e = std::move(queue_.front());
  queue_.pop_front();
  return e;
}

TModalResult ScriptedUi::MessageBox(const TMessageRequest& request) {
  messages_.push_back(request);
  const std::string came =
      DescribeType(request.Type) + " box \"" + request.Text + "\" [" + DescribeButtons(request.Buttons) + "]";
  // The answer to a box nobody expected: the most cautious of its buttons.
  auto fallback = [&] {
    if (request.Buttons.Has(TMsgDlgBtn::mbCancel)) return mrCancel;
    if (request.Buttons.Has(TMsgDlgBtn::mbNo)) return mrNo;
    return mrOk;
  };
  auto e = Take(Kind::Message, request.Text, came);
  if (!e) return fallback();
  if (e->Type != request.Type || !(e->Buttons == request.Buttons)) {
    Fail("expected " + Describe(*e) + " but was shown " + came);
    return fallback();
  }
  bool offered = false;
  for (int i = 0; i <= static_cast<int>(TMsgDlgBtn::mbHelp); ++i) {
    const auto b = static_cast<TMsgDlgBtn>(i);
    if (request.Buttons.Has(b) && ButtonResult(b) == e->Answer) offered = true;
  }
  if (!offered) {
    Fail("scripted answer " + DescribeResult(e->Answer) + " is not a button of " + came);
    return fallback();
  }
  return e->Answer;
}

TModalResult ScriptedUi::ShowModal(TForm& form) {
  auto e = Take(Kind::Modal, form.Caption(), "modal form \"" + form.Caption() + "\"");
  if (!e) return mrCancel;
  form.BeginModal();
  try {
    if (e->Script) e->Script(form);
  } catch (...) {
    form.SetModalResult(mrCancel);
    form.EndModal();
    throw;
  }
  if (form.ModalResult() == mrNone) {
    Fail("modal form \"" + form.Caption() + "\" was left without a result");
  }
  const TModalResult result = form.EndModal();
  return result == mrNone ? mrCancel : result;
}

bool ScriptedUi::ExecuteOpen(TOpenDialog& dialog) {
  auto e = Take(Kind::Open, dialog.ShownTitle(), "open dialog \"" + dialog.ShownTitle() + "\"");
  if (!e || e->Files.empty()) return false;
  if (e->Files.size() > 1 && !dialog.Options.Has(TOpenOption::ofAllowMultiSelect)) {
    Fail("open dialog \"" + dialog.ShownTitle() + "\" does not allow several files");
    return false;
  }
  if (e->Flag && dialog.Options.Has(TOpenOption::ofHideReadOnly)) {
    Fail("open dialog \"" + dialog.ShownTitle() + "\" hides its read-only box");
    return false;
  }
  dialog.Files = e->Files;
  dialog.FileName = dialog.Files.front();
  if (!dialog.Options.Has(TOpenOption::ofHideReadOnly)) dialog.Options.Set(TOpenOption::ofReadOnly, e->Flag);
  return true;
}

bool ScriptedUi::ExecuteSave(TSaveDialog& dialog) {
  auto e = Take(Kind::Save, dialog.ShownTitle(), "save dialog \"" + dialog.ShownTitle() + "\"");
  if (!e || e->Files.empty()) return false;
  dialog.Files = e->Files;
  dialog.FileName = dialog.Files.front();
  return true;
}

bool ScriptedUi::Choose(const Expectation& e, const std::string& came, bool fileRefused, TPrinterChoice& choice) {
  if (!e.Flag) return false;
  if (!e.Choice) return true;
  if (e.Choice->PrintToFile && e.Choice->FileName.empty()) {
    Fail(came + " cannot print to a file without a name");
    return false;
  }
  if (e.Choice->PrintToFile && fileRefused) {
    Fail(came + " does not offer printing to a file");
    return false;
  }
  choice = *e.Choice;
  return true;
}

bool ScriptedUi::ExecutePrint(TPrintDialog& dialog) {
  auto e = Take(Kind::Print, "", "print dialog");
  return e && Choose(*e, "print dialog", dialog.Options.Has(TPrintDialogOption::poDisablePrintToFile), dialog.Choice);
}

bool ScriptedUi::ExecutePrinterSetup(TPrinterSetupDialog& dialog) {
  auto e = Take(Kind::PrinterSetup, "", "printer setup dialog");
  return e && Choose(*e, "printer setup dialog", false, dialog.Choice);
}

bool ScriptedUi::SelectFolder(TFolderRequest& request) {
  auto e = Take(Kind::Folder, request.Title, "folder picker \"" + request.Title + "\"");
  if (!e || e->Files.empty()) return false;
  request.Directory = e->Files.front();
  return true;
}

}  // namespace kavrin::classlib
