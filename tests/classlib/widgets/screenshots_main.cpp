// Under a real X server (Xvfb): screenshots of an MDI frame with a data grid on a real table and of a message box,
// written to the folder given, each checked to hold a picture rather than a blank screen.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "classlib/data/data_source.h"
#include "classlib/data/field.h"
#include "classlib/widgets/application.h"
#include "classlib/widgets/db_controls.h"
#include "classlib/widgets/db_grids.h"
#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/qt_ui.h"
#include "dataset/table.h"
#include "tests/classlib/widgets/screenshot_check.h"

namespace {

using namespace kavrin::classlib;
using kavrin::testing::HoldsAPicture;
using kavrin::testing::Settle;
using kavrin::testing::ShotOf;

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  std::filesystem::create_directories(folder);
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

  // A browse window: a data grid on a real engine table in a temporary folder.
  QTemporaryDir dataDir;
  if (!dataDir.isValid()) return 1;
  const std::string dataPath = dataDir.path().toStdString() + "/";
  {
    kavrin::dataset::TTable create;
    create.SetDatabaseName(dataPath);
    create.SetTableName("ORDERS.DAT");
    create.FieldDefs().Add("OrderNo", TFieldType::ftInteger);
    create.FieldDefs().Add("Customer", TFieldType::ftString, 24);
    create.FieldDefs().Add("Region", TFieldType::ftString, 12);
    create.IndexDefs().Add("", "OrderNo", ixPrimary);
    create.CreateTable();
  }
  auto* child = TForm::Create<TForm>(&app);
  child->SetFormStyle(TFormStyle::fsMDIChild);
  child->SetCaption(dataPath + "ORDERS.DAT");
  child->SetBounds(10, 10, 420, 260);
  auto* table = new kavrin::dataset::TTable(child);
  table->SetDatabaseName(dataPath);
  table->SetTableName("ORDERS.DAT");
  table->Open();
  const char* customers[] = {"Ames Hardware", "Brook & Sons", "Cole Ltd", "Dune Supply", "Eden Farms", "Frost Inc"};
  const char* regions[] = {"North", "South", "East", "West", "North", "East"};
  for (int i = 0; i < 6; ++i) {
    table->Append();
    table->FieldByName("OrderNo")->SetAsInteger(1001 + i);
    table->FieldByName("Customer")->SetAsString(customers[i]);
    table->FieldByName("Region")->SetAsString(regions[i]);
    table->Post();
  }
  table->First();
  auto* source = new TDataSource(child);
  source->SetDataSet(table);
  auto* grid = new TDBGrid(*child);
  grid->SetAlign(TAlign::alClient);
  grid->SetDataSource(source);
  auto* navigator = new TDBNavigator(*tools);
  navigator->SetBounds(left + 8, 2, 240, 25);
  navigator->SetDataSource(source);
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
  real.MessageBox(TMessageRequest{
      TMsgDlgType::mtError, "A record with the same key value(s) already exists.", "", {TMsgDlgBtn::mbOK}, 0});
  boxShot.save(QString::fromStdString(folder + "/message_box.png"));
  ok = HoldsAPicture(boxShot, "message_box.png") && ok;
  return ok ? 0 : 1;
}
