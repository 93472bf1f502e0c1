#include "classlib/widgets/qt_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <cctype>
#include <map>

#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/form.h"

namespace kavrin::classlib {

namespace {

QWidget* DialogParent() { return QApplication::activeWindow(); }

QStringList NameFilters(const std::string& filter) {
  QStringList out;
  for (const auto& [description, patterns] : ParseFilter(filter)) {
    out << QString::fromStdString(description + " (" + CaseInsensitiveNameFilter(patterns) + ")");
  }
  return out;
}

void PrepareFileDialog(QFileDialog& fd, const TOpenDialog& dialog) {
  fd.setOption(QFileDialog::DontUseNativeDialog, true);
  fd.setWindowTitle(QString::fromStdString(dialog.ShownTitle()));
  if (!dialog.InitialDir.empty()) fd.setDirectory(QString::fromStdString(dialog.InitialDir));
  const QStringList filters = NameFilters(dialog.Filter);
  if (!filters.isEmpty()) {
    fd.setNameFilters(filters);
    const int index = dialog.FilterIndex - 1;
    if (index >= 0 && index < filters.size()) fd.selectNameFilter(filters[index]);
  }
  if (!dialog.DefaultExt.empty()) fd.setDefaultSuffix(QString::fromStdString(dialog.DefaultExt));
  if (!dialog.FileName.empty()) fd.selectFile(QString::fromStdString(dialog.FileName));
}

void TakeFiles(QFileDialog& fd, TOpenDialog& dialog) {
  dialog.Files.clear();
  for (const QString& f : fd.selectedFiles()) dialog.Files.push_back(f.toStdString());
  dialog.FileName = dialog.Files.empty() ? std::string() : dialog.Files.front();
  const QStringList filters = fd.nameFilters();
  const int index = static_cast<int>(filters.indexOf(fd.selectedNameFilter()));
  if (index >= 0) dialog.FilterIndex = index + 1;
}

}  // namespace

std::string CaseInsensitiveNameFilter(const std::string& patterns) {
  std::string out;
  for (char c : patterns) {
    if (c == ';') {
      out += ' ';
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      out += '[';
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

TModalResult QtUi::MessageBox(const TMessageRequest& request) {
  QMessageBox box(DialogParent());
  switch (request.Type) {
    case TMsgDlgType::mtWarning: box.setIcon(QMessageBox::Warning); break;
    case TMsgDlgType::mtError: box.setIcon(QMessageBox::Critical); break;
    case TMsgDlgType::mtInformation: box.setIcon(QMessageBox::Information); break;
    case TMsgDlgType::mtConfirmation: box.setIcon(QMessageBox::Question); break;
    case TMsgDlgType::mtCustom: box.setIcon(QMessageBox::NoIcon); break;
  }
  box.setWindowTitle(QString::fromStdString(request.Caption.empty() ? MessageCaption(request.Type) : request.Caption));
  box.setText(QString::fromStdString(request.Text));
  struct Choice {
    TMsgDlgBtn Button;
    const char* Caption;
    QMessageBox::ButtonRole Role;
  };
  static const Choice choices[] = {
      {TMsgDlgBtn::mbYes, "&Yes", QMessageBox::YesRole},
      {TMsgDlgBtn::mbNo, "&No", QMessageBox::NoRole},
      {TMsgDlgBtn::mbOK, "OK", QMessageBox::AcceptRole},
      {TMsgDlgBtn::mbCancel, "Cancel", QMessageBox::RejectRole},
      {TMsgDlgBtn::mbAbort, "&Abort", QMessageBox::RejectRole},
      {TMsgDlgBtn::mbRetry, "&Retry", QMessageBox::AcceptRole},
      {TMsgDlgBtn::mbIgnore, "&Ignore", QMessageBox::AcceptRole},
      {TMsgDlgBtn::mbAll, "&All", QMessageBox::YesRole},
      {TMsgDlgBtn::mbHelp, "&Help", QMessageBox::HelpRole},
  };
  std::map<QAbstractButton*, TModalResult> results;
  QPushButton* first = nullptr;
  QPushButton* escape = nullptr;
  for (const auto& c : choices) {
    if (!request.Buttons.Has(c.Button)) continue;
    QPushButton* b = box.addButton(c.Caption, c.Role);
    results[b] = ButtonResult(c.Button);
    if (!first) first = b;
    if (c.Button == TMsgDlgBtn::mbCancel || (!escape && c.Button == TMsgDlgBtn::mbNo)) escape = b;
  }
  if (results.empty()) {
    QPushButton* b = box.addButton("OK", QMessageBox::AcceptRole);
    results[b] = mrOk;
    first = b;
  }
  box.setDefaultButton(first);
  if (escape) box.setEscapeButton(escape);
  box.exec();
  auto it = results.find(box.clickedButton());
  return it == results.end() ? mrCancel : it->second;
}

TModalResult QtUi::ShowModal(TForm& form) {
  form.BeginModal();
  form.RunModalLoop();
  return form.EndModal();
}

bool QtUi::ExecuteOpen(TOpenDialog& dialog) {
  QFileDialog fd(DialogParent());
  PrepareFileDialog(fd, dialog);
  fd.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.Options.Has(TOpenOption::ofAllowMultiSelect)) {
    fd.setFileMode(QFileDialog::ExistingFiles);
  } else if (dialog.Options.Has(TOpenOption::ofFileMustExist)) {
    fd.setFileMode(QFileDialog::ExistingFile);
  } else {
    fd.setFileMode(QFileDialog::AnyFile);
  }
  QCheckBox* readOnly = nullptr;
  if (!dialog.Options.Has(TOpenOption::ofHideReadOnly)) {
    readOnly = new QCheckBox("Open as &read-only", &fd);
    readOnly->setChecked(dialog.Options.Has(TOpenOption::ofReadOnly));
    if (auto* grid = qobject_cast<QGridLayout*>(fd.layout())) grid->addWidget(readOnly, grid->rowCount(), 0, 1, -1);
  }
  if (fd.exec() != QDialog::Accepted) return false;
  TakeFiles(fd, dialog);
  if (readOnly) dialog.Options.Set(TOpenOption::ofReadOnly, readOnly->isChecked());
  return !dialog.Files.empty();
}

bool QtUi::ExecuteSave(TSaveDialog& dialog) {
  QFileDialog fd(DialogParent());
  PrepareFileDialog(fd, dialog);
  fd.setAcceptMode(QFileDialog::AcceptSave);
  fd.setFileMode(QFileDialog::AnyFile);
  // The overwrite question goes through the seam, asked by the save dialog itself.
  fd.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (fd.exec() != QDialog::Accepted) return false;
  TakeFiles(fd, dialog);
  return !dialog.Files.empty();
}

namespace {

// A printer as the dialogs show it: the choice's queue, or a PDF file.
void ShowChoice(QPrinter& printer, const TPrinterChoice& choice) {
  if (choice.PrintToFile) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(choice.FileName));
  } else if (!choice.Queue.empty()) {
    printer.setPrinterName(QString::fromStdString(choice.Queue));
  }
}

// What the user left in the dialog: the file when one was named, else the queue picked (none on a
// machine without printers).
TPrinterChoice TakeChoice(const QPrinter& printer) {
  if (!printer.outputFileName().isEmpty()) {
    return PrintFile(printer.outputFileName().toStdString());
  }
  return PrinterQueue(printer.printerName().toStdString());
}

}  // namespace

bool QtUi::ExecutePrint(TPrintDialog& dialog) {
  QPrinter printer(QPrinter::HighResolution);
  ShowChoice(printer, dialog.Choice);
  QPrintDialog pd(&printer, DialogParent());
  QAbstractPrintDialog::PrintDialogOptions options;
  if (dialog.Options.Has(TPrintDialogOption::poPageNums)) options |= QAbstractPrintDialog::PrintPageRange;
  if (dialog.Options.Has(TPrintDialogOption::poSelection)) options |= QAbstractPrintDialog::PrintSelection;
  // Without a printer a PDF file is the only output, so only an explicit refusal takes it away.
  if (!dialog.Options.Has(TPrintDialogOption::poDisablePrintToFile)) options |= QAbstractPrintDialog::PrintToFile;
  options |= QAbstractPrintDialog::PrintShowPageSize;
  pd.setOptions(options);
  if (dialog.MaxPage > 0) pd.setMinMax(dialog.MinPage, dialog.MaxPage);
  if (dialog.FromPage > 0) pd.setFromTo(dialog.FromPage, dialog.ToPage);
  if (pd.exec() != QDialog::Accepted) return false;
  dialog.Copies = printer.copyCount();
  dialog.FromPage = pd.fromPage();
  dialog.ToPage = pd.toPage();
  dialog.Choice = TakeChoice(printer);
  switch (pd.printRange()) {
    case QAbstractPrintDialog::Selection: dialog.PrintRange = TPrintRange::prSelection; break;
    case QAbstractPrintDialog::PageRange: dialog.PrintRange = TPrintRange::prPageNums; break;
    default: dialog.PrintRange = TPrintRange::prAllPages; break;
  }
  return true;
}

// Qt's page setup dialog cannot pick a printer; its print dialog can, so the setup shows that one
// under the setup's own title, with OK in place of Print.
bool QtUi::ExecutePrinterSetup(TPrinterSetupDialog& dialog) {
  QPrinter printer(QPrinter::HighResolution);
  ShowChoice(printer, dialog.Choice);
  QPrintDialog pd(&printer, DialogParent());
  pd.setWindowTitle(QStringLiteral("Print Setup"));
  pd.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
  if (auto* buttons = pd.findChild<QDialogButtonBox*>()) {
    if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok)) ok->setText(QStringLiteral("OK"));
  }
  if (pd.exec() != QDialog::Accepted) return false;
  dialog.Choice = TakeChoice(printer);
  return true;
}

bool QtUi::SelectFolder(TFolderRequest& request) {
  QFileDialog fd(DialogParent());
  fd.setOption(QFileDialog::DontUseNativeDialog, true);
  fd.setOption(QFileDialog::ShowDirsOnly, true);
  fd.setFileMode(QFileDialog::Directory);
  fd.setWindowTitle(QString::fromStdString(request.Title));
  if (!request.Directory.empty()) fd.setDirectory(QString::fromStdString(request.Directory));
  if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) return false;
  request.Directory = fd.selectedFiles().front().toStdString();
  return true;
}

}  // namespace kavrin::classlib
