// GASKORN's one window: the source folder and its Paradox and dBase tables, the destination folder,
// the buttons and the status bar. The transfer itself is TTableTransfer; the form only gathers the
// choices and shows the progress.
#pragma once

#include <string>
#include <vector>

#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/file_lists.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/std_controls.h"

namespace kavrin::transfer {

class TAboutBox;

inline constexpr const char* MainFormCaption = "BDE Database Transfer Utility";
inline constexpr const char* HelpFileName = "GASKORN.HLP";

class TMainForm : public classlib::TForm {
 public:
  explicit TMainForm(classlib::TComponent* owner);

  classlib::TLabel* ExplanationLabel;
  classlib::TGroupBox* SourceGroupBox;
  classlib::TDriveComboBox* SourceDriveComboBox;
  classlib::TDirectoryListBox* SourceDirectoryListBox;
  classlib::TGroupBox* FilesGroupBox;
  classlib::TFileListBox* FilesListBox;
  classlib::TGroupBox* DestGroupBox;
  classlib::TDriveComboBox* DestDriveComboBox;
  classlib::TDirectoryListBox* DestDirectoryListBox;
  classlib::TButton* BeginButton;
  classlib::TButton* CloseButton;
  classlib::TButton* UsageButton;
  classlib::TButton* AboutButton;
  classlib::TStatusBar* StatusBar;
  classlib::TPopupMenu* HelpPopup;
  classlib::TMenuItem* WhatsThisItem;
  // Shown by the About button; the program block creates it after this form.
  TAboutBox* AboutBox = nullptr;

  void FormCreate(classlib::TComponent* sender);
  void BeginButtonClick(classlib::TComponent* sender);
  void CloseButtonClick(classlib::TComponent* sender);
  void UsageButtonClick(classlib::TComponent* sender);
  void WhatsThisItemClick(classlib::TComponent* sender);
  void AboutButtonClick(classlib::TComponent* sender);

  // The selected entries of the file list, in list order.
  std::vector<std::string> SelectedFiles() const;
  // While a click's transfer runs (the window keeps processing messages), the window refuses to close.
  bool Transferring() const { return transferring_; }

 private:
  bool transferring_ = false;
};

}  // namespace kavrin::transfer
