// Under a real X server (Xvfb): screenshots of an MDI frame with a string grid and of a message box,
// written to the folder given, each checked to hold a picture rather than a blank screen.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <string>

#include "classlib/widgets/application.h"
#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/grids.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/qt_ui.h"
#include "tests/classlib/widgets/screenshot_check.h"

namespace {

using namespace kavrin::classlib;
using kavrin::testing::HoldsAPicture;
using kavrin::testing::Settle;
using kavrin::testing::ShotOf;

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  TApplication app(argc, argv);
  app.SetTitle("KAVRIN Database System Utility");

  auto* frame = app.CreateForm<TForm>();
  frame->SetFormStyle(TFormStyle::fsMDIForm);
  frame->SetCaption("KAVRIN Database System Utility");
  frame->SetBounds(20, 20, 640, 453);
  frame->SetColor(clBtnShadow);
  auto* menu = new TMainMenu(frame);
  for (const char* caption : {"&File", "&Edit", "&Action", "&Utilities", "&Window", "&Help"}) {
    auto* item = new TMenuItem(frame);
    item->SetCaption(caption);
    menu->Items().Add(item);
    auto* sub = new TMenuItem(frame);
    sub->SetCaption("&Item");
    item->Add(sub);
  }
  frame->SetMenu(menu);
  auto* tools = new TPanel(*frame);
  tools->SetAlign(TAlign::alTop);
  tools->SetHeight(29);
  int left = 2;
  for (const char* caption : {"N", "S", "E", "P"}) {
    auto* button = new TSpeedButton(*tools);
    button->SetCaption(caption);
    button->SetBounds(left, 2, 25, 25);
    left += 25;
  }
  auto* status = new TStatusBar(*frame);
  status->SetSimplePanel(true);
  status->SetSimpleText(" Browsing");

  auto* child = TForm::Create<TForm>(&app);
  child->SetFormStyle(TFormStyle::fsMDIChild);
  child->SetCaption("/data/ORDERS.DAT");
  child->SetBounds(10, 10, 420, 260);
  auto* grid = new TStringGrid(*child);
  grid->SetAlign(TAlign::alClient);
  grid->SetColCount(4);
  grid->SetRowCount(8);
  const char* titles[] = {"#", "Name", "Type", "Length"};
  for (int c = 0; c < 4; ++c) grid->SetCells(c, 0, titles[c]);
  const char* names[] = {"OrderNo", "Customer", "Placed", "Amount", "Notes", "Paid", "Region"};
  const char* types[] = {"AutoInc", "String", "Date", "BCD", "Memo", "Boolean", "String"};
  for (int r = 1; r < 8; ++r) {
    grid->SetCells(0, r, std::to_string(r));
    grid->SetCells(1, r, names[r - 1]);
    grid->SetCells(2, r, types[r - 1]);
    grid->SetCells(3, r, r == 2 || r == 7 ? "30" : "0");
  }
  child->AfterConstruction();
  frame->Show();
  Settle(500);

  bool ok = true;
  const QImage frameShot = ShotOf(frame->Widget()->geometry());
  frameShot.save(QString::fromStdString(folder + "/mdi_frame.png"));
  ok = HoldsAPicture(frameShot, "mdi_frame.png") && ok;

  QImage boxShot;
  QTimer::singleShot(500, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      boxShot = ShotOf(box->frameGeometry());
      box->close();
    }
  });
  QtUi real;
  real.MessageBox(TMessageRequest{TMsgDlgType::mtError, "A record with the same key value(s) already exists.", "",
                                  {TMsgDlgBtn::mbOK}, 0});
  boxShot.save(QString::fromStdString(folder + "/message_box.png"));
  ok = HoldsAPicture(boxShot, "message_box.png") && ok;
  return ok ? 0 : 1;
}
