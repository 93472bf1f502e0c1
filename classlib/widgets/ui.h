// The one seam for every modal interaction: modal forms, message boxes and the common dialogs. The Qt
// implementation shows real dialogs; tests install a scripted one that answers from a queue and fails
// on anything it was not told to expect. Modeless windows never pass through here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/widgets/set_of.h"

namespace kavrin::classlib {

class TComponent;
class TForm;
class TOpenDialog;
class TSaveDialog;
class TPrintDialog;
class TPrinterSetupDialog;

using TModalResult = int;
inline constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
                              mrNo = 7, mrAll = 8;

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum class TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbHelp };
using TMsgDlgButtons = TSetOf<TMsgDlgBtn>;

// The result a button gives, and the text a test reads in a failure report.
TModalResult ButtonResult(TMsgDlgBtn button);
std::string DescribeButtons(TMsgDlgButtons buttons);
std::string DescribeType(TMsgDlgType type);
std::string DescribeResult(TModalResult result);
// "Warning", "Error", "Information", "Confirm"; a custom box takes the application title.
std::string MessageCaption(TMsgDlgType type);

struct TMessageRequest {
  TMsgDlgType Type = TMsgDlgType::mtInformation;
  std::string Text;
  std::string Caption;
  TMsgDlgButtons Buttons;
  int HelpContext = 0;
};

// The folder picker's question and answer.
struct TFolderRequest {
  std::string Title;
  std::string Directory;  // where to start; the chosen folder after a true answer
};

class Ui {
 public:
  virtual ~Ui() = default;
  virtual TModalResult MessageBox(const TMessageRequest& request) = 0;
  // Runs the form modally until its modal result is set and its close checks let it go.
  virtual TModalResult ShowModal(TForm& form) = 0;
  // True when accepted; the dialog's file names (and read-only box) hold the answer.
  virtual bool ExecuteOpen(TOpenDialog& dialog) = 0;
  virtual bool ExecuteSave(TSaveDialog& dialog) = 0;
  virtual bool ExecutePrint(TPrintDialog& dialog) = 0;
  virtual bool ExecutePrinterSetup(TPrinterSetupDialog& dialog) = 0;
  virtual bool SelectFolder(TFolderRequest& request) = 0;
};

// The seam in force: the Qt one unless a test installed another.
Ui& CurrentUi();
// Installs ui (null: the Qt one again) and returns the one it replaces.
Ui* SetCurrentUi(Ui* ui);

// Where exceptions from event handlers go. The application installs its handler here, so controls and
// forms hand exceptions over without depending on the application.
using TEventExceptionSink = std::function<void(TComponent* sender)>;
// Installs sink (null: none) and returns the one it replaces.
TEventExceptionSink SetEventExceptionSink(TEventExceptionSink sink);
// Hands the exception being handled to the sink; with none installed, or when the sink itself
// throws, the message goes to standard error. Call from inside a catch block.
void HandleEventException(TComponent* sender) noexcept;

}  // namespace kavrin::classlib
