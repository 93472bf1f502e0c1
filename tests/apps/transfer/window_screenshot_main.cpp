// Under a real X server (Xvfb): a screenshot of GASKORN's main window over a folder with two tables,
// written to the folder given and checked to hold a picture rather than a blank screen.
#include <QEventLoop>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "apps/transfer/about_box.h"
#include "apps/transfer/main_form.h"
#include "classlib/widgets/application.h"

namespace {

using namespace kavrin;

void Settle(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// A shot holds a picture when it has enough colours and no colour covers nearly all of it.
bool HoldsAPicture(const QImage& image, const char* what) {
  if (image.isNull() || image.width() < 50 || image.height() < 50) {
    std::fprintf(stderr, "%s: no image\n", what);
    return false;
  }
  QHash<QRgb, int> counts;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) ++counts[image.pixel(x, y)];
  }
  const int samples = ((image.width() + 1) / 2) * ((image.height() + 1) / 2);
  int largest = 0;
  for (int n : counts) largest = std::max(largest, n);
  std::printf("%s: %dx%d, %lld colours, largest share %.1f%%\n", what, image.width(), image.height(),
              static_cast<long long>(counts.size()), 100.0 * largest / samples);
  return counts.size() >= 4 && largest < samples * 97 / 100;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const std::filesystem::path tables = std::filesystem::path(folder) / "gaskorn_screenshot_tables";
  std::filesystem::create_directories(tables);
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

  const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).copy(form->Widget()->frameGeometry()).toImage();
  const std::string file = folder + "/gaskorn_main_window.png";
  shot.save(QString::fromStdString(file));
  return HoldsAPicture(shot, "gaskorn_main_window.png") ? 0 : 1;
}
