#include "apps/transfer/password_dialog.h"

namespace kavrin::transfer {

using namespace classlib;

TPasswordDialog::TPasswordDialog(TComponent* owner, const std::string& fileName) : TForm(owner) {
  SetCaption(PasswordDialogCaption);
  // Without a menu the client is the whole window.
  SetWidth(320);
  SetHeight(110);
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  PromptLabel = new TLabel(*this);
  PromptLabel->SetBounds(12, 12, 296, 16);
  PromptLabel->SetCaption("Password for " + fileName + ":");
  PasswordEdit = new TEdit(*this);
  PasswordEdit->SetBounds(12, 34, 296, 22);
  PasswordEdit->SetPasswordChar('*');
  OkButton = new TButton(*this);
  OkButton->SetBounds(152, 72, 75, 25);
  OkButton->SetCaption("OK");
  OkButton->ModalResult = mrOk;
  OkButton->SetDefault(true);
  CancelButton = new TButton(*this);
  CancelButton->SetBounds(233, 72, 75, 25);
  CancelButton->SetCaption("Cancel");
  CancelButton->ModalResult = mrCancel;
  CancelButton->SetCancel(true);
}

}  // namespace kavrin::transfer
