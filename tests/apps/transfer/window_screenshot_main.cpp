// Under a real X server (Xvfb): a screenshot of GASKORN's main window over a folder with two tables, as
// a transfer runs (Begin Transfer and Close disabled), written to the folder given and checked to hold a
// picture rather than a blank screen, whose disabled buttons show grey captions beside the black ones
// of the buttons still enabled.
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "apps/transfer/about_box.h"
#include "apps/transfer/main_form.h"
#include "apps/transfer/window_transfer_ui.h"
#include "classlib/widgets/application.h"
#include "tests/classlib/widgets/screenshot_check.h"

namespace {

using namespace kavrin;
using kavrin::testing::HoldsAPicture;
using kavrin::testing::Settle;
using kavrin::testing::ShotOf;

// The darkest grey level of a button on the screen: its caption, on the light face.
int DarkestOf(const classlib::TControl& button) {
  const QWidget* w = button.Widget();
  const QImage image = ShotOf(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
  int darkest = 255;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
  }
  return darkest;
}

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
  form->Show();
  transfer::TWindowTransferUi running(*form->BeginButton, *form->CloseButton, *form->StatusBar);
  running.SetBusy(true);
  running.SetStatus("Transferring table CUSTOMER.DB to KAVRIN table...");
  Settle(500);

  const QImage shot = ShotOf(form->Widget()->frameGeometry());
  const std::string file = folder + "/gaskorn_main_window.png";
  shot.save(QString::fromStdString(file));
  const int enabled = std::max(DarkestOf(*form->UsageButton), DarkestOf(*form->AboutButton));
  const int disabled = std::min(DarkestOf(*form->BeginButton), DarkestOf(*form->CloseButton));
  std::printf("darkest caption pixel: enabled buttons %d, disabled buttons %d\n", enabled, disabled);
  const bool greyed = disabled > enabled + 40;
  if (!greyed) std::fprintf(stderr, "the disabled buttons look like the enabled ones\n");
  return HoldsAPicture(shot, "gaskorn_main_window.png") && greyed ? 0 : 1;
}
