// Under a real X server (Xvfb): a screenshot of GASKORN's main window over a folder with two tables,
// written to the folder given and checked to hold a picture rather than a blank screen.
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <string>

#include "apps/transfer/about_box.h"
#include "apps/transfer/main_form.h"
#include "classlib/widgets/application.h"
#include "tests/classlib/widgets/screenshot_check.h"

namespace {

using namespace kavrin;
using kavrin::testing::HoldsAPicture;
using kavrin::testing::Settle;
using kavrin::testing::ShotOf;

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  std::filesystem::create_directories(folder);
  // The tables it lists live apart: the screenshot folder holds pictures only.
  QTemporaryDir tableDir;
  if (!tableDir.isValid()) return 1;
  const std::filesystem::path tables = tableDir.path().toStdString();
  for (const char* name : {"CUSTOMER.DB", "orders.dbf"}) std::ofstream(tables / name).put('\0');

  classlib::TApplication app(argc, argv);
  app.SetTitle(transfer::MainFormCaption);
  auto* form = app.CreateForm<transfer::TMainForm>();
  form->AboutBox = app.CreateForm<transfer::TAboutBox>();
  form->SourceDirectoryListBox->SetDirectory(tables.string());
  form->DestDirectoryListBox->SetDirectory(folder);
  form->FilesListBox->SetSelected(0, true);
  form->StatusBar->SetSimpleText("Transferring table CUSTOMER.DB to KAVRIN table...");
  form->Show();
  Settle(500);

  const QImage shot = ShotOf(form->Widget()->frameGeometry());
  const std::string file = folder + "/gaskorn_main_window.png";
  shot.save(QString::fromStdString(file));
  return HoldsAPicture(shot, "gaskorn_main_window.png") ? 0 : 1;
}
