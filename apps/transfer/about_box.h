// The about box: the program's icon, its name and version.
#pragma once

#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"

namespace kavrin::transfer {

inline constexpr const char* AboutBoxCaption = "About";

class TAboutBox : public classlib::TForm {
 public:
  explicit TAboutBox(classlib::TComponent* owner);
  classlib::TGroupBox* VersionGroupBox;
  classlib::TImage* ProgramIcon;
  classlib::TLabel* ProductLabel;
  classlib::TLabel* SystemLabel;
  classlib::TMemo* VersionMemo;
  classlib::TButton* CloseButton;

  void FormCreate(classlib::TComponent* sender);
};

}  // namespace kavrin::transfer
