// The transfer's window interface on the class-library widgets: information boxes and the password
// question through the modal seam, the status bar, the two buttons and the hourglass while busy.
#pragma once

#include <string>

#include "apps/transfer/transfer_ui.h"

namespace kavrin::classlib {
class TButton;
class TStatusBar;
}  // namespace kavrin::classlib

namespace kavrin::transfer {

class TWindowTransferUi : public TTransferUi {
 public:
  TWindowTransferUi(classlib::TButton& beginButton, classlib::TButton& closeButton, classlib::TStatusBar& statusBar)
      : begin_(beginButton), close_(closeButton), status_(statusBar) {}
  void ShowMessage(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void ProcessMessages() override;
  void SetBusy(bool busy) override;
  bool AskPassword(const std::string& fileName, std::string& password) override;

 private:
  classlib::TButton& begin_;
  classlib::TButton& close_;
  classlib::TStatusBar& status_;
};

}  // namespace kavrin::transfer
