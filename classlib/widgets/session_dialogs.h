// The session's password dialog: the user adds passwords to the session's list (or removes one or
// all) and answers whether the open should try again. Shown through the seam.
#pragma once

#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"

namespace kavrin::classlib {

class TSession;

inline constexpr const char* PasswordDialogCaption = "Password";

class TSessionPasswordDialog : public TForm {
 public:
  TSessionPasswordDialog(TComponent* owner, TSession& session);
  TLabel* PromptLabel;
  TEdit* PasswordEdit;
  TButton* AddButton;
  TButton* RemoveButton;
  TButton* RemoveAllButton;
  TButton* OKButton;
  TButton* CancelButton;
  // Whether a password went into the session's list while the dialog was open.
  bool PasswordAdded() const { return added_; }

 private:
  void AddTyped();
  TSession& session_;
  bool added_ = false;
};

// Runs the dialog for the session: true when it closed with OK and a password was added, so the
// engine's retry has something new to try.
bool SessionPasswordDialog(TSession& session);

}  // namespace kavrin::classlib
