// The question for an encrypted source table's password, a small modal form run through the seam.
#pragma once

#include <string>

#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"

namespace kavrin::transfer {

inline constexpr const char* PasswordDialogCaption = "Enter Password";

class TPasswordDialog : public classlib::TForm {
 public:
  TPasswordDialog(classlib::TComponent* owner, const std::string& fileName);
  classlib::TLabel* PromptLabel;
  classlib::TEdit* PasswordEdit;
  classlib::TButton* OkButton;
  classlib::TButton* CancelButton;
};

}  // namespace kavrin::transfer
