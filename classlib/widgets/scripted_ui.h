// The scripted seam for tests: a queue of expected interactions, each with its answer. The next
// interaction must be the next expectation (kind, exact text or title, buttons); anything else is
// reported as a failure naming its text, and an expectation still waiting at the end fails too.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "classlib/widgets/printer_choice.h"
#include "classlib/widgets/ui.h"

namespace kavrin::classlib {

class ScriptedUi : public Ui {
 public:
  using FailureSink = std::function<void(const std::string& failure)>;
  using ModalScript = std::function<void(TForm& form)>;

  // Installs itself as the current seam; the destructor reports what was not used and puts the
  // previous seam back. Without a sink failures are printed and kept in Failures().
  explicit ScriptedUi(FailureSink sink = {});
  ~ScriptedUi() override;
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  ScriptedUi& ExpectMessage(TMsgDlgType type, const std::string& text, TMsgDlgButtons buttons, TModalResult answer);
  // The script fills the form and presses a button (or sets the modal result); the form's own close
  // checks run on the press, and the script may press again after a refusal.
  ScriptedUi& ExpectModal(const std::string& caption, ModalScript script);
  // Accepted with these files (the read-only box as given); no files means cancelled.
  ScriptedUi& ExpectOpen(const std::string& title, std::vector<std::string> files, bool readOnlyChecked = false);
  ScriptedUi& ExpectSave(const std::string& title, std::optional<std::string> file);
  // Accepted as shown, or cancelled.
  ScriptedUi& ExpectPrint(bool accept);
  ScriptedUi& ExpectPrinterSetup(bool accept);
  // Accepted with this printer or file (PrinterQueue, PrintFile); a file needs a name, and the print
  // dialog must not refuse printing to a file.
  ScriptedUi& ExpectPrint(const TPrinterChoice& choice);
  ScriptedUi& ExpectPrinterSetup(const TPrinterChoice& choice);
  ScriptedUi& ExpectFolder(const std::string& title, std::optional<std::string> folder);

  int Pending() const { return static_cast<int>(queue_.size()); }
  // Reports every expectation not used and forgets them.
  void Verify();
  const std::vector<std::string>& Failures() const { return failures_; }
  // Every message box asked for, in order, expected or not.
  const std::vector<TMessageRequest>& Messages() const { return messages_; }

  TModalResult MessageBox(const TMessageRequest& request) override;
  TModalResult ShowModal(TForm& form) override;
  bool ExecuteOpen(TOpenDialog& dialog) override;
  bool ExecuteSave(TSaveDialog& dialog) override;
  bool ExecutePrint(TPrintDialog& dialog) override;
  bool ExecutePrinterSetup(TPrinterSetupDialog& dialog) override;
  bool SelectFolder(TFolderRequest& request) override;

 private:
  enum class Kind { Message, Modal, Open, Save, Print, PrinterSetup, Folder };
  struct Expectation {
    Kind What = Kind::Message;
    std::string Text;
    TMsgDlgType Type = TMsgDlgType::mtInformation;
    TMsgDlgButtons Buttons;
    TModalResult Answer = mrNone;
    ModalScript Script;
    std::vector<std::string> Files;
    bool Flag = false;
    std::optional<TPrinterChoice> Choice;
  };
  // The scripted printer into the dialog's choice; false (a failure reported) when it cannot be chosen.
  bool Choose(const Expectation& e, const std::string& came, bool fileRefused, TPrinterChoice& choice);
  static std::string Describe(const Expectation& e);
  // The next expectation when it is of this kind and text; otherwise a failure naming what came.
  std::optional<Expectation> Take(Kind kind, const std::string& text, const std::string& came);
  void Fail(const std::string& failure);

  FailureSink sink_;
  Ui* previous_;
  std::deque<Expectation> queue_;
  std::vector<std::string> failures_;
  std::vector<TMessageRequest> messages_;
};

}  // namespace kavrin::classlib
