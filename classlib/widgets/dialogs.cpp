#include "classlib/widgets/dialogs.h"

#include <filesystem>

#include "classlib/widgets/application.h"

namespace kavrin::classlib {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& filter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= filter.size()) {
    const auto bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::pair<std::string, std::string>> out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) out.emplace_back(parts[i], parts[i + 1]);
  if (parts.size() % 2 == 1 && !parts.back().empty() && parts.size() > 1) out.emplace_back(parts.back(), parts.back());
  return out;
}

std::string WithDefaultExt(const std::string& name, const std::string& defaultExt) {
  if (name.empty() || defaultExt.empty()) return name;
  const fs::path p(name);
  if (p.has_extension()) return name;
  return name + "." + defaultExt;
}

void TOpenDialog::Accepted() {
  if (Options.Has(TOpenOption::ofNoChangeDir) || FileName.empty()) return;
  std::error_code ec;
  const fs::path folder = fs::absolute(fs::path(FileName), ec).parent_path();
  if (!ec && !folder.empty()) fs::current_path(folder, ec);
}

bool TOpenDialog::Execute() {
  if (!CurrentUi().ExecuteOpen(*this)) return false;
  for (auto& file : Files) {
    std::error_code ec;
    if (!fs::exists(file, ec)) file = WithDefaultExt(file, DefaultExt);
  }
  FileName = Files.empty() ? std::string() : Files.front();
  Accepted();
  return true;
}

bool TSaveDialog::Execute() {
  for (;;) {
    if (!CurrentUi().ExecuteSave(*this)) return false;
    FileName = WithDefaultExt(FileName, DefaultExt);
    Files = {FileName};
    std::error_code ec;
    if (Options.Has(TOpenOption::ofOverwritePrompt) && fs::exists(FileName, ec)) {
      TMessageRequest request;
      request.Type = TMsgDlgType::mtWarning;
      request.Text = FileName + " already exists.\nDo you want to replace it?";
      request.Caption = ShownTitle();
      request.Buttons = {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo};
      // No goes back to the dialog, as the system dialog does.
      if (CurrentUi().MessageBox(request) != mrYes) continue;
    }
    Accepted();
    return true;
  }
}

bool TPrintDialog::Execute() {
  Choice = PrinterChoice();
  if (!CurrentUi().ExecutePrint(*this)) return false;
  PrinterChoice() = Choice;
  PrintToFile = Choice.PrintToFile;
  return true;
}

bool TPrinterSetupDialog::Execute() {
  Choice = PrinterChoice();
  if (!CurrentUi().ExecutePrinterSetup(*this)) return false;
  PrinterChoice() = Choice;
  return true;
}

bool SelectFolder(const std::string& title, std::string& directory) {
  TFolderRequest request{title, directory};
  if (!CurrentUi().SelectFolder(request)) return false;
  directory = request.Directory;
  return true;
}

TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) {
  TMessageRequest request;
  request.Type = type;
  request.Text = text;
  request.Caption = MessageCaption(type);
  request.Buttons = buttons;
  request.HelpContext = helpContext;
  return CurrentUi().MessageBox(request);
}

void ShowMessage(const std::string& text) {
  TMessageRequest request;
  request.Type = TMsgDlgType::mtCustom;
  request.Text = text;
  request.Caption = MessageCaption(TMsgDlgType::mtCustom);
  request.Buttons = {TMsgDlgBtn::mbOK};
  CurrentUi().MessageBox(request);
}

}  // namespace kavrin::classlib
