// The real seam: Qt's message boxes, file, print and folder dialogs, and the form's own modal loop.
#pragma once

#include "classlib/widgets/ui.h"

namespace kavrin::classlib {

class QtUi : public Ui {
 public:
  TModalResult MessageBox(const TMessageRequest& request) override;
  TModalResult ShowModal(TForm& form) override;
  bool ExecuteOpen(TOpenDialog& dialog) override;
  bool ExecuteSave(TSaveDialog& dialog) override;
  bool ExecutePrint(TPrintDialog& dialog) override;
  bool ExecutePrinterSetup(TPrinterSetupDialog& dialog) override;
  bool SelectFolder(TFolderRequest& request) override;
};

// Qt's name-filter form of a class-library pattern list, matching regardless of case: "*.DB;*.DBF"
// becomes "*.[dD][bB] *.[dD][bB][fF]".
std::string CaseInsensitiveNameFilter(const std::string& patterns);

}  // namespace kavrin::classlib
