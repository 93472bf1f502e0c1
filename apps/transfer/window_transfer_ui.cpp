#include "apps/transfer/window_transfer_ui.h"

#include <memory>

#include "apps/transfer/password_dialog.h"
#include "classlib/widgets/application.h"
#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/screen.h"
#include "classlib/widgets/std_controls.h"
#include "classlib/widgets/ui.h"

namespace kavrin::transfer {

using namespace classlib;

void TWindowTransferUi::ShowMessage(const std::string& text) {
  TMessageRequest request;
  request.Type = TMsgDlgType::mtInformation;
  request.Text = text;
  request.Caption = MessageCaption(TMsgDlgType::mtInformation);
  request.Buttons = TMsgDlgButtons{TMsgDlgBtn::mbOK};
  CurrentUi().MessageBox(request);
}

void TWindowTransferUi::SetStatus(const std::string& text) { status_.SetSimpleText(text); }

void TWindowTransferUi::ProcessMessages() { Application().ProcessMessages(); }

void TWindowTransferUi::SetBusy(bool busy) {
  begin_.SetEnabled(!busy);
  close_.SetEnabled(!busy);
  Screen().SetCursor(busy ? crHourGlass : crDefault);
}

bool TWindowTransferUi::AskPassword(const std::string& fileName, std::string& password) {
  // Freed before the transfer goes on, whatever the answer.
  auto* dialog = TForm::Create<TPasswordDialog>(nullptr, fileName);
  std::unique_ptr<TPasswordDialog, void (*)(TPasswordDialog*)> owned(dialog, [](TPasswordDialog* d) { Free(d); });
  if (CurrentUi().ShowModal(*dialog) != mrOk) return false;
  password = dialog->PasswordEdit->Text();
  return true;
}

}  // namespace kavrin::transfer
