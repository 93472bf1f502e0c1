#include "apps/transfer/main_form.h"

#include <filesystem>

#include "apps/transfer/about_box.h"
#include "apps/transfer/table_transfer.h"
#include "apps/transfer/window_transfer_ui.h"
#include "classlib/widgets/application.h"
#include "classlib/widgets/help.h"
#include "classlib/widgets/keys.h"

namespace kavrin::transfer {

using namespace classlib;

namespace {

// The help context of the window itself; each control's tag is its own.
constexpr int kFormHelpContext = 3;

TGroupBox* Group(TForm& form, const char* caption, int left, int top, int width, int height) {
  auto* box = new TGroupBox(form);
  box->SetBounds(left, top, width, height);
  box->SetCaption(caption);
  return box;
}

TButton* Button(TForm& form, const char* caption, int tag, int left, int top) {
  auto* button = new TButton(form);
  button->SetBounds(left, top, 120, 25);
  button->SetCaption(caption);
  button->Tag = tag;
  return button;
}

}  // namespace

TMainForm::TMainForm(TComponent* owner) : TForm(owner) {
  Name = "MainForm";
  SetCaption(MainFormCaption);
  // Sized before the border style, which fixes the size a border without sizing has; without a menu
  // the client is the whole window.
  SetWidth(560);
  SetHeight(452);
  SetBorderStyle(TFormBorderStyle::bsSingle);
  SetBorderIcons({TBorderIcon::biSystemMenu, TBorderIcon::biMinimize});
  SetPosition(TPosition::poScreenCenter);
  SetKeyPreview(true);

  ExplanationLabel = new TLabel(*this);
  ExplanationLabel->SetAutoSize(false);
  ExplanationLabel->SetWordWrap(true);
  ExplanationLabel->SetBounds(8, 8, 544, 34);
  ExplanationLabel->SetCaption(
      "This utility will copy all structures and existing data in the selected Paradox or dBase tables to the "
      "equivalent KAVRIN table in the destintation directory specified.");

  SourceGroupBox = Group(*this, "Select Source Drive and Directory", 8, 48, 268, 196);
  SourceDriveComboBox = new TDriveComboBox(*SourceGroupBox);
  SourceDriveComboBox->SetBounds(10, 22, 248, 22);
  SourceDriveComboBox->Tag = 4;
  SourceDirectoryListBox = new TDirectoryListBox(*SourceGroupBox);
  SourceDirectoryListBox->SetBounds(10, 50, 248, 136);
  SourceDirectoryListBox->Tag = 4;
  SourceDriveComboBox->DirList = SourceDirectoryListBox;

  FilesGroupBox = Group(*this, "Select Paradox / dBaseTables (*.DB *.DBF)", 284, 48, 268, 196);
  FilesListBox = new TFileListBox(*FilesGroupBox);
  FilesListBox->SetBounds(10, 22, 248, 164);
  FilesListBox->Tag = 5;
  FilesListBox->SetMultiSelect(true);
  FilesListBox->SetFileType({TFileAttr::ftReadOnly, TFileAttr::ftNormal});
  FilesListBox->SetMask("*.DB;*.DBF");
  SourceDirectoryListBox->FileList = FilesListBox;
  FilesListBox->SetDirectory(SourceDirectoryListBox->Directory());

  DestGroupBox = Group(*this, "Select Dest Drive and Directory", 8, 252, 268, 168);
  DestDriveComboBox = new TDriveComboBox(*DestGroupBox);
  DestDriveComboBox->SetBounds(10, 22, 248, 22);
  DestDriveComboBox->Tag = 6;
  DestDirectoryListBox = new TDirectoryListBox(*DestGroupBox);
  DestDirectoryListBox->SetBounds(10, 50, 248, 108);
  DestDirectoryListBox->Tag = 6;
  DestDriveComboBox->DirList = DestDirectoryListBox;

  BeginButton = Button(*this, "&Begin Transfer...", 7, 296, 268);
  CloseButton = Button(*this, "&Close", 8, 424, 268);
  UsageButton = Button(*this, "&Help...", 9, 296, 304);
  AboutButton = Button(*this, "&About...", 11, 424, 304);

  StatusBar = new TStatusBar(*this);
  StatusBar->SetAlign(TAlign::alBottom);
  StatusBar->SetSimplePanel(true);
  StatusBar->Tag = 10;

  HelpPopup = new TPopupMenu(this);
  WhatsThisItem = new TMenuItem(this);
  WhatsThisItem->SetCaption("What's This ?");
  HelpPopup->Items().Add(WhatsThisItem);
  for (TControl* control : std::initializer_list<TControl*>{SourceDriveComboBox, SourceDirectoryListBox, FilesListBox,
                                                            DestDriveComboBox, DestDirectoryListBox, BeginButton,
                                                            CloseButton, UsageButton, AboutButton, StatusBar}) {
    control->SetPopupMenu(HelpPopup);
  }

  BeginButton->OnClick = [this](TComponent* s) { BeginButtonClick(s); };
  CloseButton->OnClick = [this](TComponent* s) { CloseButtonClick(s); };
  UsageButton->OnClick = [this](TComponent* s) { UsageButtonClick(s); };
  AboutButton->OnClick = [this](TComponent* s) { AboutButtonClick(s); };
  WhatsThisItem->OnClick = [this](TComponent* s) { WhatsThisItemClick(s); };
  OnKeyDown = [](TComponent*, Word& key, TShiftState) {
    if (key != VK_F1) return;
    key = 0;
    Application().HelpContext(kFormHelpContext);
  };
  OnCreate = [this](TComponent* s) { FormCreate(s); };
  // Closing would free the window, its buttons and status bar under the running transfer.
  OnCloseQuery = [this](TComponent*, bool& canClose) {
    if (transferring_) canClose = false;
  };
}

void TMainForm::FormCreate(TComponent*) {
  Application().HelpFile = (std::filesystem::path(Application().ExeName()).parent_path() / HelpFileName).string();
}

std::vector<std::string> TMainForm::SelectedFiles() const {
  std::vector<std::string> entries;
  for (int i = 0; i < FilesListBox->Items().Count(); ++i) {
    if (FilesListBox->Selected(i)) entries.push_back(FilesListBox->Items().Strings(i));
  }
  return entries;
}

void TMainForm::BeginButtonClick(TComponent*) {
  if (transferring_) return;
  struct TRunning {
    bool& flag;
    explicit TRunning(bool& f) : flag(f) { flag = true; }
    ~TRunning() { flag = false; }
  } running(transferring_);
  TWindowTransferUi ui(*BeginButton, *CloseButton, *StatusBar);
  TTableTransfer transfer(ui);
  transfer.BeginTransfer(SourceDirectoryListBox->Directory(), SelectedFiles(), DestDirectoryListBox->Directory());
}

void TMainForm::CloseButtonClick(TComponent*) { Close(); }

void TMainForm::UsageButtonClick(TComponent*) { Application().HelpCommand(HELP_CONTENTS, 0); }

void TMainForm::WhatsThisItemClick(TComponent*) {
  TControl* control = HelpPopup->PopupComponent();
  if (control && control->IsWindowed()) Application().HelpCommand(HELP_CONTEXTPOPUP, control->Tag);
}

void TMainForm::AboutButtonClick(TComponent*) {
  if (AboutBox) AboutBox->ShowModal();
}

}  // namespace kavrin::transfer
