// Window placement on real forms: top-level windows on the pinned 1024 x 768 screen and MDI children.
#include "components/qel_form_enh.h"

#include <gtest/gtest.h>

#include <QMdiArea>
#include <QWidget>
#include <map>
#include <string>

#include "classlib/registry/registry.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/registry_folder.h"

namespace kavrin::components::qelformenh {
namespace {

using classlib::Application;
using classlib::TForm;
using classlib::TFormStyle;
using WS = classlib::TWindowState;

const char* const kSubKey = "\\SOFTWARE\\Trevane Software\\KAVRIN Database System\\Database System Utility";

using Values = std::map<std::string, std::string>;

class PlacementTest : public testing::WidgetTest {
 protected:
  // A form as NORVA makes it: the placement component with the program's settings key.
  TForm* NewForm(const std::string& name, int left, int top, int width, int height, bool mdi_child = false) {
    auto* form = new TForm(&Application());
    if (mdi_child) form->SetFormStyle(TFormStyle::fsMDIChild);
    form->Name = name;
    form->SetBounds(left, top, width, height);
    auto* enh = new TQelFormEnh(form);
    enh->SetRootKey(TRootKey::rkLocalMachine);
    enh->SetSavePosition(true);
    enh->SetSaveSize(true);
    enh->SetSubKey(kSubKey);
    form->AfterConstruction();
    return form;
  }
  static TQelFormEnh* EnhOf(TForm* form) {
    for (int i = 0; i < form->ComponentCount(); ++i) {
      if (auto* enh = dynamic_cast<TQelFormEnh*>(form->Components(i))) return enh;
    }
    return nullptr;
  }
  static void Store(const std::string& name, const Values& values) {
    classlib::TRegistry reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(std::string(kSubKey) + "\\" + name, true));
    for (const auto& [value, text] : values) reg.WriteString(value, text);
  }
  static Values Stored(const std::string& name) {
    classlib::TRegistry reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    Values out;
    if (!reg.OpenKey(std::string(kSubKey) + "\\" + name, false)) return out;
    for (const char* value : {"Left", "Top", "Width", "Height", "WindowState"}) {
      if (reg.ValueExists(value)) out[value] = reg.ReadString(value);
    }
    return out;
  }
  static Values Placement(int left, int top, int width, int height, int state) {
    return Values{{"Left", std::to_string(left)},
                  {"Top", std::to_string(top)},
                  {"Width", std::to_string(width)},
                  {"Height", std::to_string(height)},
                  {"WindowState", std::to_string(state)}};
  }
  static QRect Bounds(const TForm* form) { return QRect(form->Left(), form->Top(), form->Width(), form->Height()); }

  testing::RegistryFolder folder;
};

TEST_F(PlacementTest, AMaximizedFormSavesItsNormalRectangleAndComesBackMaximizedOverIt) {
  TForm* form = NewForm("MainForm", 100, 80, 400, 300);
  EnhOf(form)->Loaded();  // first start: nothing stored, the form stays where it is
  EXPECT_EQ(Bounds(form), QRect(100, 80, 400, 300));
  form->Show();
  form->SetWindowState(WS::wsMaximized);
  ASSERT_TRUE(testing::PumpUntil([&] { return form->Width() == 1024; }));
  EXPECT_EQ(form->WindowState(), WS::wsMaximized);
  classlib::Free(form);
  EXPECT_EQ(Stored("MainForm"), Placement(100, 80, 400, 300, 2));

  // Reloaded visible: maximized, over the stored normal rectangle.
  form = NewForm("MainForm", 10, 10, 320, 240);
  form->Show();
  EnhOf(form)->Loaded();
  ASSERT_TRUE(testing::PumpUntil([&] { return form->Width() == 1024; }));
  EXPECT_EQ(form->WindowState(), WS::wsMaximized);
  EXPECT_EQ(form->FrameWidget()->normalGeometry(), QRect(100, 80, 400, 300));
  form->SetWindowState(WS::wsNormal);
  ASSERT_TRUE(testing::PumpUntil([&] { return form->Width() == 400; }));
  EXPECT_EQ(Bounds(form), QRect(100, 80, 400, 300));
  classlib::Free(form);
  EXPECT_EQ(Stored("MainForm"), Placement(100, 80, 400, 300, 0));

  // Without AllowMaximized it comes back normal.
  Store("MainForm", Placement(100, 80, 400, 300, 2));
  form = NewForm("MainForm", 10, 10, 320, 240);
  EnhOf(form)->SetAllowMaximized(false);
  form->Show();
  EnhOf(form)->Loaded();
  testing::PumpIdle();
  EXPECT_EQ(form->WindowState(), WS::wsNormal);
  EXPECT_EQ(Bounds(form), QRect(100, 80, 400, 300));
  classlib::Free(form);
}

TEST_F(PlacementTest, AHiddenMainWindowGetsItsRectangleButNotItsState) {
  Store("MainForm", Placement(60, 40, 500, 350, 2));
  TForm* form = NewForm("MainForm", 0, 0, 320, 240);
  EnhOf(form)->Loaded();
  EXPECT_EQ(Bounds(form), QRect(60, 40, 500, 350));
  form->Show();
  testing::PumpIdle();
  EXPECT_EQ(form->WindowState(), WS::wsNormal);
  EXPECT_EQ(Bounds(form), QRect(60, 40, 500, 350));
  classlib::Free(form);
}

TEST_F(PlacementTest, StoredTextsThatAreNotPlainDecimals) {
  const struct {
    const char* left;
    int restored;
  } cases[] = {{"0x10", 16}, {"0X1f", 31}, {"0x", 7}, {"ten", 7}, {"-3", -3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.left);
    Store("MainForm", Values{{"Left", c.left}});
    TForm* form = NewForm("MainForm", 7, 9, 320, 240);
    EnhOf(form)->Loaded();
    EXPECT_EQ(form->Left(), c.restored);
    EXPECT_EQ(form->Top(), 9);
    EXPECT_EQ(form->Width(), 320);
    form->Name = "Other";  // keep the stored text for the next case
    classlib::Free(form);
  }
}

TEST_F(PlacementTest, CheckPosKeepsANormalFormOnTheScreen) {
  const struct {
    Values stored;
    QRect restored;
  } cases[] = {
      {Placement(900, 100, 400, 300, 0), QRect(624, 100, 400, 300)},
      {Placement(100, 600, 400, 300, 0), QRect(100, 468, 400, 300)},
      {Placement(-50, -20, 400, 300, 0), QRect(0, 0, 400, 300)},
      {Placement(200, 100, 400, 300, 0), QRect(200, 100, 400, 300)},
  };
  for (const auto& c : cases) {
    Store("MainForm", c.stored);
    TForm* form = NewForm("MainForm", 0, 0, 320, 240);
    EnhOf(form)->SetCheckPos(true);
    form->Show();
    EnhOf(form)->Loaded();
    EXPECT_EQ(Bounds(form), c.restored) << c.stored.at("Left") << "," << c.stored.at("Top");
    form->Name = "Other";
    classlib::Free(form);
  }
  // A form that comes back maximized is left alone, its normal rectangle as stored.
  Store("MainForm", Placement(900, 100, 400, 300, 2));
  TForm* maximized = NewForm("MainForm", 0, 0, 320, 240);
  EnhOf(maximized)->SetCheckPos(true);
  maximized->Show();
  EnhOf(maximized)->Loaded();
  ASSERT_TRUE(testing::PumpUntil([&] { return maximized->Width() == 1024; }));
  EXPECT_EQ(maximized->WindowState(), WS::wsMaximized);
  EXPECT_EQ(maximized->FrameWidget()->normalGeometry(), QRect(900, 100, 400, 300));
  maximized->Name = "Other";
  classlib::Free(maximized);

  // Without CheckPos the stored place is taken as it is.
  Store("MainForm", Placement(900, 100, 400, 300, 0));
  TForm* form = NewForm("MainForm", 0, 0, 320, 240);
  EnhOf(form)->Loaded();
  EXPECT_EQ(Bounds(form), QRect(900, 100, 400, 300));
  classlib::Free(form);
}

TEST_F(PlacementTest, MinSizeXLimitsOnlySizeableFormsAndANegativeValueIsNoLimit) {
  TForm* form = NewForm("MainForm", 0, 0, 320, 240);
  TQelFormEnh* enh = EnhOf(form);
  enh->SetMinSizeX(300);
  enh->SetMaxSizeY(400);
  enh->Loaded();
  form->Show();
  testing::PumpIdle();
  EXPECT_EQ(form->FrameWidget()->minimumWidth(), 300);
  EXPECT_EQ(form->FrameWidget()->maximumHeight(), 400);
  form->SetBounds(0, 0, 100, 600);  // the user dragging it smaller and taller
  EXPECT_EQ(form->Width(), 300);
  EXPECT_EQ(form->Height(), 400);
  enh->SetMinSizeX(-5);
  enh->SetMaxSizeY(0);
  EXPECT_EQ(enh->MinSizeX(), 0);
  EXPECT_EQ(form->FrameWidget()->minimumWidth(), 0);
  EXPECT_EQ(form->FrameWidget()->maximumHeight(), QWIDGETSIZE_MAX);
  form->SetBounds(0, 0, 100, 600);
  EXPECT_EQ(form->Width(), 100);
  EXPECT_EQ(form->Height(), 600);
  form->Name = "Other";
  classlib::Free(form);

  // A form with a single border keeps its fixed size.
  form = NewForm("Dialog", 0, 0, 320, 240);
  form->SetBorderStyle(classlib::TFormBorderStyle::bsSingle);
  EnhOf(form)->SetMinSizeX(500);
  form->Show();
  testing::PumpIdle();
  EXPECT_EQ(form->Width(), 320);
  EXPECT_EQ(form->FrameWidget()->minimumWidth(), 320);
  classlib::Free(form);
}

class SizeCounter : public messagegrabber::TMessageGrabber {
 public:
  using TMessageGrabber::TMessageGrabber;
  int sizes = 0;

 protected:
  void WMSize() override { ++sizes; }
};

TEST_F(PlacementTest, OwnerChecks) {
  TForm* form = NewForm("MainForm", 0, 0, 320, 240);
  form->Show();
  const int before = form->ComponentCount();
  auto raised = [](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "nothing raised";
  };
  EXPECT_EQ(raised([&] { new TQelFormEnh(form); }), "This form already contains a TQelFormEnh component");
  auto* edit = new classlib::TEdit(*form);
  EXPECT_EQ(raised([&] { new TQelFormEnh(edit); }), "Owner must be a form");
  auto* label = new classlib::TLabel(*form);
  EXPECT_EQ(raised([&] { new messagegrabber::TMessageGrabber(label); }), "Owner must be a windowed control");
  EXPECT_EQ(raised([&] { new messagegrabber::TMessageGrabber(nullptr); }), "Owner must be a windowed control");
  EXPECT_EQ(form->ComponentCount(), before + 2) << "only the edit and the label joined the form";
  EXPECT_EQ(edit->ComponentCount(), 0);

  // A grabber sees its owner's resizes until WM_DESTROY unhooks it; it is not passed on.
  auto* grabber = new SizeCounter(edit);
  EXPECT_TRUE(grabber->Hooked());
  edit->SetBounds(0, 0, 120, 30);
  EXPECT_EQ(grabber->sizes, 1);
  messagegrabber::TMessage destroy{messagegrabber::GrabbedMessage::WM_DESTROY, nullptr};
  grabber->WndProc(destroy);
  EXPECT_FALSE(grabber->Hooked());
  edit->SetBounds(0, 0, 140, 30);
  EXPECT_EQ(grabber->sizes, 1);
  form->Name = "Other";
  classlib::Free(form);
}

class MdiPlacementTest : public PlacementTest {
 protected:
  void SetUp() override {
    PlacementTest::SetUp();
    frame = Application().CreateForm<TForm>();
    ASSERT_EQ(Application().MainForm(), frame);
    frame->SetFormStyle(TFormStyle::fsMDIForm);
    frame->SetBounds(0, 0, 800, 600);
    frame->Show();
  }
  void TearDown() override {
    classlib::Free(frame);
    PlacementTest::TearDown();
  }
  TForm* frame = nullptr;
};

TEST_F(MdiPlacementTest, BrowseWindowsShareOneSubkeyAndTheLastDestroyedDecides) {
  TForm* first = NewForm("BrowseForm", 0, 0, 300, 200, true);
  EnhOf(first)->Loaded();
  first->SetBounds(10, 20, 300, 200);
  testing::PumpIdle();
  classlib::Free(first);
  EXPECT_EQ(Stored("BrowseForm"), Placement(10, 20, 300, 200, 0));

  // Each new one opens at the stored placement.
  TForm* a = NewForm("BrowseForm", 0, 0, 250, 150, true);
  EnhOf(a)->Loaded();
  TForm* b = NewForm("BrowseForm", 0, 0, 250, 150, true);
  EnhOf(b)->Loaded();
  EXPECT_EQ(Bounds(a), QRect(10, 20, 300, 200));
  EXPECT_EQ(Bounds(b), QRect(10, 20, 300, 200));

  // b is maximized inside the frame: Qt keeps no normal rectangle for it, the cached one is saved.
  a->SetBounds(40, 50, 320, 210);
  b->SetBounds(60, 70, 330, 220);
  b->SetWindowState(WS::wsMaximized);
  ASSERT_TRUE(testing::PumpUntil([&] { return b->WindowState() == WS::wsMaximized; }));
  EXPECT_NE(Bounds(b), QRect(60, 70, 330, 220));
  classlib::Free(a);
  EXPECT_EQ(Stored("BrowseForm"), Placement(40, 50, 320, 210, 0));
  classlib::Free(b);
  EXPECT_EQ(Stored("BrowseForm"), Placement(60, 70, 330, 220, 2));

  // And it comes back maximized.
  TForm* c = NewForm("BrowseForm", 0, 0, 250, 150, true);
  EnhOf(c)->Loaded();
  ASSERT_TRUE(testing::PumpUntil([&] { return c->WindowState() == WS::wsMaximized; }));
  c->SetWindowState(WS::wsNormal);
  ASSERT_TRUE(testing::PumpUntil([&] { return c->WindowState() == WS::wsNormal; }));
  EXPECT_EQ(Bounds(c), QRect(60, 70, 330, 220));
  classlib::Free(c);
}

TEST_F(MdiPlacementTest, AFormMadeAnMdiChildAfterItsComponentIsWatchedInItsSubwindow) {
  Store("BrowseForm", Placement(10, 20, 300, 200, 0));
  auto* form = new TForm(&Application());
  form->Name = "BrowseForm";
  auto* enh = new TQelFormEnh(form);
  enh->SetSavePosition(true);
  enh->SetSaveSize(true);
  enh->SetRootKey(TRootKey::rkLocalMachine);
  enh->SetSubKey(kSubKey);
  form->SetFormStyle(TFormStyle::fsMDIChild);
  form->AfterConstruction();
  enh->Loaded();
  EXPECT_EQ(Bounds(form), QRect(10, 20, 300, 200));
  // Only moved, then maximized: the subwindow's move is what keeps the cache right.
  form->SetBounds(30, 40, 300, 200);
  form->SetWindowState(WS::wsMaximized);
  ASSERT_TRUE(testing::PumpUntil([&] { return form->WindowState() == WS::wsMaximized; }));
  classlib::Free(form);
  EXPECT_EQ(Stored("BrowseForm"), Placement(30, 40, 300, 200, 2));
}

TEST_F(MdiPlacementTest, CheckPosKeepsAnMdiChildInsideTheFramesClientArea) {
  const QSize area = frame->MDIArea()->viewport()->size();
  ASSERT_GT(area.width(), 400);
  Store("BrowseForm", Placement(area.width() - 100, area.height() - 50, 300, 200, 0));
  TForm* child = NewForm("BrowseForm", 0, 0, 250, 150, true);
  EnhOf(child)->SetCheckPos(true);
  EnhOf(child)->Loaded();
  EXPECT_EQ(Bounds(child), QRect(area.width() - 300, area.height() - 200, 300, 200));
  child->Name = "Other";
  classlib::Free(child);

  Store("BrowseForm", Placement(-30, -40, 300, 200, 0));
  child = NewForm("BrowseForm", 0, 0, 250, 150, true);
  EnhOf(child)->SetCheckPos(true);
  EnhOf(child)->Loaded();
  EXPECT_EQ(Bounds(child), QRect(0, 0, 300, 200));
  child->Name = "Other";
  classlib::Free(child);
}

}  // namespace
}  // namespace kavrin::components::qelformenh
