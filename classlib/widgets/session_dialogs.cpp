#include "classlib/widgets/session_dialogs.h"

#include "classlib/data/session.h"
#include "classlib/widgets/application.h"

namespace kavrin::classlib {

TSessionPasswordDialog::TSessionPasswordDialog(TComponent* owner, TSession& session) : TForm(owner), session_(session) {
  SetCaption(PasswordDialogCaption);
  SetWidth(330);
  SetHeight(110);
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);
  PromptLabel = new TLabel(*this);
  PromptLabel->SetBounds(12, 12, 60, 16);
  PromptLabel->SetCaption("Password:");
  PasswordEdit = new TEdit(*this);
  PasswordEdit->SetBounds(76, 10, 242, 22);
  PasswordEdit->SetPasswordChar('*');
  auto button = [this](const char* caption, int left, int top) {
    auto* b = new TButton(*this);
    b->SetBounds(left, top, 75, 25);
    b->SetCaption(caption);
    return b;
  };
  AddButton = button("&Add", 12, 42);
  RemoveButton = button("&Remove", 93, 42);
  RemoveAllButton = button("Remove &All", 174, 42);
  OKButton = button("OK", 162, 76);
  CancelButton = button("Cancel", 243, 76);
  OKButton->ModalResult = mrOk;
  OKButton->SetDefault(true);
  CancelButton->ModalResult = mrCancel;
  CancelButton->SetCancel(true);
  AddButton->OnClick = [this](TComponent*) {
    AddTyped();
    PasswordEdit->SetFocus();
  };
  RemoveButton->OnClick = [this](TComponent*) {
    session_.RemovePassword(PasswordEdit->Text());
    PasswordEdit->SetText("");
    PasswordEdit->SetFocus();
  };
  RemoveAllButton->OnClick = [this](TComponent*) {
    session_.RemoveAllPasswords();
    PasswordEdit->SetText("");
    PasswordEdit->SetFocus();
  };
  OnCloseQuery = [this](TComponent*, bool&) {
    if (ModalResult() == mrOk) AddTyped();
  };
  SetActiveControl(PasswordEdit);
}

void TSessionPasswordDialog::AddTyped() {
  const std::string password = PasswordEdit->Text();
  PasswordEdit->SetText("");
  if (password.empty()) return;
  session_.AddPassword(password);
  added_ = true;
}

bool SessionPasswordDialog(TSession& session) {
  auto* dialog = TForm::Create<TSessionPasswordDialog>(TApplication::Instance(), session);
  bool answer = false;
  try {
    answer = dialog->ShowModal() == mrOk && dialog->PasswordAdded();
  } catch (...) {
    Free(dialog);
    throw;
  }
  Free(dialog);
  return answer;
}

}  // namespace kavrin::classlib
