#include "apps/transfer/about_box.h"

#include <QIcon>
#include <QPixmap>

#include "classlib/widgets/application.h"

namespace kavrin::transfer {

using namespace classlib;

TAboutBox::TAboutBox(TComponent* owner) : TForm(owner) {
  Name = "AboutBox";
  SetCaption(AboutBoxCaption);
  // Sized before the border style, which fixes the size a border without sizing has; without a menu
  // the client is the whole window.
  SetWidth(300);
  SetHeight(214);
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poScreenCenter);

  VersionGroupBox = new TGroupBox(*this);
  VersionGroupBox->SetBounds(8, 8, 284, 164);
  VersionGroupBox->SetCaption("Version Information");
  ProgramIcon = new TImage(*VersionGroupBox);
  ProgramIcon->SetBounds(12, 22, 32, 32);
  ProgramIcon->SetCenter(true);
  ProductLabel = new TLabel(*VersionGroupBox);
  ProductLabel->SetBounds(56, 24, 216, 16);
  ProductLabel->SetCaption("BDE Database Transfer Utility");
  SystemLabel = new TLabel(*VersionGroupBox);
  SystemLabel->SetBounds(56, 42, 216, 16);
  SystemLabel->SetCaption("KAVRIN Database System");
  VersionMemo = new TMemo(*VersionGroupBox);
  VersionMemo->SetBounds(12, 68, 260, 84);
  VersionMemo->SetReadOnly(true);
  VersionMemo->SetAlignment(TAlignment::taCenter);
  VersionMemo->SetTabStop(false);
  VersionMemo->Lines().Add("Version 1.0 for Linux");
  VersionMemo->Lines().Add("");
  VersionMemo->Lines().Add("Copyright (c) the KAVRIN authors.");
  VersionMemo->Lines().Add("All rights reserved.");

  CloseButton = new TButton(*this);
  CloseButton->SetBounds(112, 180, 75, 25);
  CloseButton->SetCaption("&Close");
  CloseButton->Tag = 12;
  CloseButton->ModalResult = mrOk;
  CloseButton->SetDefault(true);
  CloseButton->SetCancel(true);

  OnCreate = [this](TComponent* sender) { FormCreate(sender); };
}

void TAboutBox::FormCreate(TComponent*) {
  const TIcon& icon = Application().Icon;
  if (icon.Empty()) return;
  TBitmap picture;
  picture.SetImage(icon.Icon().pixmap(32, 32).toImage());
  ProgramIcon->SetPicture(picture);
}

}  // namespace kavrin::transfer
