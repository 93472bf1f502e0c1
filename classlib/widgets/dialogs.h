// The common dialogs and message boxes. Each runs through the Ui seam, so tests script the answers.
// An accepted file dialog makes the chosen file's folder the current folder, as the programs expect.
#pragma once

#include <string>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/widgets/printer_choice.h"
#include "classlib/widgets/set_of.h"
#include "classlib/widgets/ui.h"

namespace kavrin::classlib {

enum class TOpenOption {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofShowHelp,
  ofNoValidate,
  ofAllowMultiSelect,
  ofExtensionDifferent,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofShareAware,
  ofNoReadOnlyReturn,
  ofNoTestFileCreate,
};
using TOpenOptions = TSetOf<TOpenOption>;

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* owner) : TComponent(owner) {}

  std::string Title;
  std::string InitialDir;
  std::string FileName;
  std::string DefaultExt;
  // "Description|pattern|Description|pattern..."
  std::string Filter;
  int FilterIndex = 1;
  // ofReadOnly is also the read-only box's state, before and after.
  TOpenOptions Options;
  // Every chosen file, in the dialog's order; FileName is the first.
  std::vector<std::string> Files;

  // The title shown: the own one, else "Open" or "Save As".
  virtual std::string ShownTitle() const { return Title.empty() ? "Open" : Title; }
  // Files must exist when chosen in an open dialog.
  virtual bool IsSave() const { return false; }
  virtual bool Execute();

 protected:
  // The accepted answer: the first file's folder becomes current.
  void Accepted();
};

class TSaveDialog : public TOpenDialog {
 public:
  explicit TSaveDialog(TComponent* owner) : TOpenDialog(owner) {}
  std::string ShownTitle() const override { return Title.empty() ? "Save As" : Title; }
  bool IsSave() const override { return true; }
  // With ofOverwritePrompt an existing file is confirmed first; No returns to the dialog.
  bool Execute() override;
};

// The description and the patterns of a filter, pair by pair.
std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& filter);
// The name with the default extension added when it has none.
std::string WithDefaultExt(const std::string& name, const std::string& defaultExt);

enum class TPrintDialogOption { poPrintToFile, poPageNums, poSelection, poWarning, poHelp, poDisablePrintToFile };
using TPrintDialogOptions = TSetOf<TPrintDialogOption>;
enum class TPrintRange { prAllPages, prSelection, prPageNums };

class TPrintDialog : public TComponent {
 public:
  explicit TPrintDialog(TComponent* owner) : TComponent(owner) {}
  TPrintDialogOptions Options;
  int Copies = 1;
  int FromPage = 0;
  int ToPage = 0;
  int MinPage = 0;
  int MaxPage = 0;
  bool PrintToFile = false;
  TPrintRange PrintRange = TPrintRange::prAllPages;
  // Execute shows the process's printer here; accepted, it holds the one chosen, now the process's.
  TPrinterChoice Choice;
  bool Execute();
};

class TPrinterSetupDialog : public TComponent {
 public:
  explicit TPrinterSetupDialog(TComponent* owner) : TComponent(owner) {}
  // As in the print dialog.
  TPrinterChoice Choice;
  bool Execute();
};

// The folder picker: true and the folder when one was chosen.
bool SelectFolder(const std::string& title, std::string& directory);

// Message boxes. The caption is the type's ("Warning", "Error", "Information", "Confirm").
TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext = 0);
// An information-less box with OK under the application title.
void ShowMessage(const std::string& text);

}  // namespace kavrin::classlib
