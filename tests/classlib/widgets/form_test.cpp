// Forms: creation, showing, closing and freeing, bounds, active-control events, key preview, and the
// MDI frame with its children, arrangements and window list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTimer>

#include "classlib/data/data_source.h"
#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/menus.h"
#include "classlib/widgets/qt_ui.h"
#include "classlib/widgets/std_controls.h"
#include "dataset/table.h"
#include "tests/classlib/widgets/widget_test_support.h"

namespace kavrin::classlib {
namespace {

using testing::GTestScriptedUi;
using testing::PumpIdle;
using testing::PumpUntil;

class FormTest : public testing::WidgetTest {};

// A component whose destructor reads its form: the form must still be whole.
class CaptionReader : public TComponent {
 public:
  CaptionReader(TForm* form, std::string& out) : TComponent(form), form_(form), out_(out) {}
  ~CaptionReader() override { out_ = form_->Caption() + (form_->Widget() ? " with widget" : " without widget"); }

 private:
  TForm* form_;
  std::string& out_;
};

TEST_F(FormTest, AnExceptionFromOnCreateGoesToTheHandlerAndTheFormStays) {
  std::vector<std::string> caught;
  Application().OnException = [&](TComponent*, const std::exception& e) { caught.push_back(e.what()); };
  struct Throwing : TForm {
    explicit Throwing(TComponent* owner) : TForm(owner) {
      SetCaption("Broken");
      OnCreate = [](TComponent*) { throw std::runtime_error("registry missing"); };
    }
  };
  auto* form = TForm::Create<Throwing>(&Application());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(caught, (std::vector<std::string>{"registry missing"}));
  EXPECT_EQ(form->Caption(), "Broken");
  Free(form);
}

TEST_F(FormTest, ComponentsAreFreedBeforeTheWidgetAndAfterOnDestroy) {
  std::string read;
  std::vector<std::string> order;
  auto* form = TForm::Create<TForm>(&Application());
  form->SetCaption("Browse");
  new CaptionReader(form, read);
  form->OnDestroy = [&](TComponent*) { order.push_back(read.empty() ? "destroy first" : "destroy late"); };
  Free(form);
  EXPECT_EQ(read, "Browse with widget");
  EXPECT_EQ(order, (std::vector<std::string>{"destroy first"}));
}

// A data-side component (not a widget) that reads its form when freed.
class DataSideReader : public TComponent {
 public:
  DataSideReader(TForm* form, std::vector<std::string>& out) : TComponent(form), form_(form), out_(out) {}
  ~DataSideReader() override { out_.push_back(Name() + (form_->Widget() ? " with widget" : " without widget")); }

 private:
  TForm* form_;
  std::vector<std::string>& out_;
};

TEST_F(FormTest, AFormOwnsDataComponentsAndWidgetsInOneList) {
  std::vector<std::string> freed;
  auto* form = TForm::Create<TForm>(&Application());
  auto* table = new dataset::TTable(form);
  table->Name = "Table1";
  auto* source = new TDataSource(form);
  source->SetName("DataSource1");
  source->SetDataSet(table);
  auto* button = new TButton(*form);
  button->Name = "OkBtn";
  auto* reader = new DataSideReader(form, freed);
  reader->Name = "Reader";
  EXPECT_EQ(form->ComponentCount(), 4);
  EXPECT_EQ(form->FindComponent("table1"), table);
  EXPECT_EQ(form->FindComponent("DATASOURCE1"), source);
  EXPECT_EQ(form->FindComponent("okbtn"), button);
  EXPECT_EQ(form->FindComponent("Nothing"), nullptr);
  EXPECT_EQ(table->Owner(), form);
  EXPECT_EQ(form->Components(3), reader);
  EXPECT_EQ(form->Components(4), nullptr);
  Free(button);  // a component freed on its own leaves its owner's list
  EXPECT_EQ(form->FindComponent("OkBtn"), nullptr);
  EXPECT_EQ(form->ComponentCount(), 3);
  Free(form);
  EXPECT_EQ(freed, (std::vector<std::string>{"Reader with widget"}));
}

TEST_F(FormTest, CloseActions) {
  struct Case {
    TCloseAction action;
    bool canClose;
    bool visibleAfter;
    bool freed;
  };
  const Case cases[] = {
      {TCloseAction::caHide, true, false, false},
      {TCloseAction::caNone, true, true, false},
      {TCloseAction::caFree, true, false, true},
      {TCloseAction::caHide, false, true, false},  // OnCloseQuery refuses
  };
  for (const auto& c : cases) {
    auto* form = TForm::Create<TForm>(&Application());
    bool destroyed = false;
    form->OnDestroy = [&](TComponent*) { destroyed = true; };
    form->OnCloseQuery = [&](TComponent*, bool& can) { can = c.canClose; };
    form->OnClose = [&](TComponent*, TCloseAction& a) { a = c.action; };
    form->Show();
    form->Close();
    EXPECT_FALSE(destroyed);  // a freed form goes only once the event is over
    PumpIdle();
    EXPECT_EQ(destroyed, c.freed);
    if (!c.freed) {
      EXPECT_EQ(form->Visible(), c.visibleAfter);
      Free(form);
    }
  }
}

TEST_F(FormTest, TopLevelBoundsAreTheClientRectangle) {
  auto* form = TForm::Create<TForm>(&Application());
  form->SetBounds(30, 40, 640, 453);
  form->Show();
  EXPECT_EQ(form->BoundsRect(), Bounds(30, 40, 640, 453));
  EXPECT_EQ(form->Widget()->geometry(), QRect(30, 40, 640, 453));
  EXPECT_EQ(form->ClientWidth(), 640);
  form->SetPosition(TPosition::poScreenCenter);
  auto* centred = TForm::Create<TForm>(&Application());
  centred->SetPosition(TPosition::poScreenCenter);
  centred->SetBounds(0, 0, 200, 100);
  centred->Show();
  EXPECT_EQ(centred->Left(), (1024 - 200) / 2);
  EXPECT_EQ(centred->Top(), (768 - 100) / 2);
  Free(centred);
  Free(form);
}

TEST_F(FormTest, BorderStyleIconsAndStayOnTopBecomeWindowFlags) {
  struct Case {
    TFormBorderStyle border;
    TBorderIcons icons;
    TFormStyle style;
    bool fixedSize;
    Qt::WindowFlags present;
    Qt::WindowFlags absent;
  };
  const Case cases[] = {
      {TFormBorderStyle::bsSizeable,
       {TBorderIcon::biSystemMenu, TBorderIcon::biMinimize, TBorderIcon::biMaximize},
       TFormStyle::fsNormal,
       false,
       Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint,
       Qt::WindowStaysOnTopHint},
      {TFormBorderStyle::bsDialog,
       {TBorderIcon::biSystemMenu},
       TFormStyle::fsNormal,
       true,
       Qt::WindowCloseButtonHint,
       Qt::WindowMinimizeButtonHint},
      {TFormBorderStyle::bsSingle,
       {},
       TFormStyle::fsStayOnTop,
       true,
       Qt::WindowStaysOnTopHint,
       Qt::WindowCloseButtonHint},
      {TFormBorderStyle::bsNone,
       {TBorderIcon::biSystemMenu},
       TFormStyle::fsNormal,
       false,
       Qt::FramelessWindowHint,
       Qt::WindowTitleHint},
  };
  for (const auto& c : cases) {
    auto* form = TForm::Create<TForm>(&Application());
    form->SetBounds(0, 0, 300, 200);
    form->SetFormStyle(c.style);
    form->SetBorderIcons(c.icons);
    form->SetBorderStyle(c.border);
    form->SetColor(clSilver);
    TBitmap picture;
    picture.SetSize(16, 16);
    TIcon icon;
    icon.SetBitmap(picture);
    form->SetIcon(icon);
    form->Show();
    const Qt::WindowFlags flags = form->Widget()->windowFlags();
    EXPECT_EQ(flags & c.present, c.present) << static_cast<int>(c.border);
    EXPECT_FALSE(flags & c.absent) << static_cast<int>(c.border);
    EXPECT_EQ(form->Widget()->minimumSize() == form->Widget()->maximumSize(), c.fixedSize);
    EXPECT_FALSE(form->Widget()->windowIcon().isNull());
    EXPECT_EQ(form->ClientWidget()->palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(form->BoundsRect(), Bounds(0, 0, 300, 200));
    Free(form);
  }
}

TEST_F(FormTest, AFixedBorderTakesBoundsSetAfterIt) {
  struct Case {
    TFormBorderStyle border;
    bool fixed;
  };
  const Case cases[] = {{TFormBorderStyle::bsDialog, true},
                        {TFormBorderStyle::bsSingle, true},
                        {TFormBorderStyle::bsToolWindow, true},
                        {TFormBorderStyle::bsSizeable, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.border));
    auto* form = TForm::Create<TForm>(&Application());
    form->SetBorderStyle(c.border);
    form->SetBounds(20, 30, 330, 110);
    form->SetWidth(360);
    form->Show();
    EXPECT_EQ(form->BoundsRect(), Bounds(20, 30, 360, 110));
    EXPECT_EQ(form->Widget()->minimumSize() == form->Widget()->maximumSize(), c.fixed);
    if (c.fixed) {
      EXPECT_EQ(form->Widget()->maximumSize(), QSize(360, 110));
    }
    Free(form);
  }
}

TEST_F(FormTest, AlignedControlsFollowTheFormSize) {
  auto* form = TForm::Create<TForm>(&Application());
  form->SetBounds(0, 0, 400, 300);
  auto* top = new TGroupBox(*form);
  top->SetHeight(30);
  top->SetAlign(TAlign::alTop);
  auto* client = new TGroupBox(*form);
  client->SetAlign(TAlign::alClient);
  form->Show();
  EXPECT_EQ(top->BoundsRect(), Bounds(0, 0, 400, 30));
  EXPECT_EQ(client->BoundsRect(), Bounds(0, 30, 400, 270));
  form->SetBounds(0, 0, 500, 400);
  EXPECT_EQ(top->BoundsRect(), Bounds(0, 0, 500, 30));
  EXPECT_EQ(client->BoundsRect(), Bounds(0, 30, 500, 370));
  Free(form);
}

TEST_F(FormTest, EnterAndExitAreActiveControlChangesAndABoxCountsForNothing) {
  auto* form = TForm::Create<TForm>(&Application());
  form->SetBounds(0, 0, 300, 200);
  auto* first = new TEdit(*form);
  auto* second = new TEdit(*form);
  second->SetTop(40);
  std::vector<std::string> events;
  first->OnEnter = [&](TComponent*) { events.push_back("enter first"); };
  first->OnExit = [&](TComponent*) { events.push_back("exit first"); };
  second->OnEnter = [&](TComponent*) { events.push_back("enter second"); };
  second->OnExit = [&](TComponent*) { events.push_back("exit second"); };
  form->Show();
  first->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return form->ActiveControl() == first; }));
  second->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return form->ActiveControl() == second; }));
  EXPECT_EQ(events, (std::vector<std::string>{"enter first", "exit first", "enter second"}));
  // A real message box takes the focus and gives it back: no exit, no enter.
  events.clear();
  QTimer::singleShot(100, [] {
    if (auto* box = QApplication::activeModalWidget()) box->close();
  });
  QtUi real;
  real.MessageBox(TMessageRequest{TMsgDlgType::mtInformation, "Interrupt", "", {TMsgDlgBtn::mbOK}, 0});
  PumpIdle();
  EXPECT_TRUE(events.empty()) << events.front();
  EXPECT_EQ(form->ActiveControl(), second);
  Free(form);
}

TEST_F(FormTest, KeyPreviewSeesKeysFirstAndCanConsumeThem) {
  auto* form = TForm::Create<TForm>(&Application());
  auto* edit = new TEdit(*form);
  std::vector<std::string> seen;
  form->SetKeyPreview(true);
  form->OnKeyDown = [&](TComponent*, Word& key, TShiftState shift) {
    seen.push_back("form " + std::to_string(key));
    if (key == VK_NEXT && shift.NoKeyModifier()) key = 0;  // PageDown: the form's own
  };
  edit->OnKeyDown = [&](TComponent*, Word& key, TShiftState) { seen.push_back("edit " + std::to_string(key)); };
  form->Show();
  edit->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
  QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
  QCoreApplication::sendEvent(edit->Widget(), &pageDown);
  QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QCoreApplication::sendEvent(edit->Widget(), &a);
  EXPECT_EQ(seen, (std::vector<std::string>{"form 34", "form 65", "edit 65"}));
  EXPECT_EQ(edit->Text(), "a");
  Free(form);
}

// Enter and Esc on a form: the buttons that registered as default or cancel take them, a focused
// button takes Enter itself, and a button that is hidden, disabled, unmarked or gone takes nothing.
TEST_F(FormTest, EnterAndEscPressTheButtonsThatRegisteredWithTheForm) {
  struct Case {
    const char* name;
    std::function<void(TForm&, TButton& ok, TButton& cancel, TButton& other, TEdit& edit)> setUp;
    int key;
    std::string pressed;  // the caption of the button clicked, empty for none
  };
  const Case cases[] = {
      {"Esc in an edit", [](TForm&, TButton&, TButton&, TButton&, TEdit&) {}, Qt::Key_Escape, "Cancel"},
      {"Enter in an edit", [](TForm&, TButton&, TButton&, TButton&, TEdit&) {}, Qt::Key_Return, "OK"},
      {"Enter on a focused button", [](TForm&, TButton&, TButton&, TButton& other, TEdit&) { other.SetFocus(); },
       Qt::Key_Return, "Other"},
      {"Esc on a focused button", [](TForm&, TButton&, TButton&, TButton& other, TEdit&) { other.SetFocus(); },
       Qt::Key_Escape, "Cancel"},
      {"cancel disabled", [](TForm&, TButton&, TButton& cancel, TButton&, TEdit&) { cancel.SetEnabled(false); },
       Qt::Key_Escape, ""},
      {"default hidden", [](TForm&, TButton& ok, TButton&, TButton&, TEdit&) { ok.Hide(); }, Qt::Key_Return, ""},
      {"default taken back", [](TForm&, TButton& ok, TButton&, TButton&, TEdit&) { ok.SetDefault(false); },
       Qt::Key_Return, ""},
      {"default moved to another button",
       [](TForm&, TButton& ok, TButton&, TButton& other, TEdit&) {
         ok.SetDefault(false);
         other.SetDefault(true);
       },
       Qt::Key_Return, "Other"},
      {"one button both",
       [](TForm&, TButton& ok, TButton& cancel, TButton&, TEdit&) {
         cancel.SetCancel(false);
         ok.SetCancel(true);
       },
       Qt::Key_Escape, "OK"},
      {"cancel freed", [](TForm&, TButton&, TButton& cancel, TButton&, TEdit&) { Free(&cancel); }, Qt::Key_Escape, ""},
      {"cancel moved to another form and freed there",
       [](TForm& form, TButton&, TButton& cancel, TButton&, TEdit&) {
         cancel.SetParent(TForm::Create<TForm>(&form));
         Free(&cancel);
       },
       Qt::Key_Escape, ""},
      {"panel with the buttons freed",
       [](TForm& form, TButton&, TButton&, TButton&, TEdit&) {
         // The panel goes first, so its buttons no longer know their form when they go.
         Free(form.FindComponent("Panel"));
       },
       Qt::Key_Return, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* form = TForm::Create<TForm>(&Application());
    form->SetBounds(0, 0, 300, 200);
    auto* edit = new TEdit(*form);
    auto* panel = new TPanel(*form);
    panel->Name = "Panel";
    panel->SetBounds(0, 60, 300, 100);
    std::string pressed;
    auto button = [&](const char* caption, int left) {
      auto* b = new TButton(*panel);
      b->SetCaption(caption);
      b->SetLeft(left);
      b->OnClick = [&pressed, caption](TComponent*) { pressed = caption; };
      return b;
    };
    TButton* ok = button("OK", 0);
    TButton* cancel = button("Cancel", 80);
    TButton* other = button("Other", 160);
    ok->SetDefault(true);
    cancel->SetCancel(true);
    form->Show();
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    c.setUp(*form, *ok, *cancel, *other, *edit);
    ASSERT_TRUE(PumpUntil([&] { return QApplication::focusWidget() != nullptr; }));
    testing::PressKey(nullptr, c.key, c.key == Qt::Key_Return ? "\r" : "\x1b");
    EXPECT_EQ(pressed, c.pressed);
    Free(form);
  }
}

// A default or cancel button that comes to lie on another form, alone or inside its panel, answers
// Enter or Esc there.
TEST_F(FormTest, ButtonsMovedOntoAnotherFormAnswerEnterAndEscThere) {
  for (const bool withPanel : {false, true}) {
    SCOPED_TRACE(withPanel ? "the panel moved" : "the buttons moved");
    auto* first = TForm::Create<TForm>(&Application());
    auto* panel = new TPanel(*first);
    std::string pressed;
    auto button = [&](const char* caption) {
      auto* b = new TButton(*panel);
      b->SetCaption(caption);
      b->OnClick = [&pressed, caption](TComponent*) { pressed = caption; };
      return b;
    };
    TButton* ok = button("OK");
    TButton* cancel = button("Cancel");
    ok->SetDefault(true);
    cancel->SetCancel(true);
    auto* second = TForm::Create<TForm>(&Application());
    second->SetBounds(0, 0, 300, 200);
    auto* edit = new TEdit(*second);
    if (withPanel) {
      panel->SetParent(second);
    } else {
      ok->SetParent(second);
      cancel->SetParent(second);
    }
    second->Show();
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    for (const auto& [key, caption] : {std::pair{Qt::Key_Escape, "Cancel"}, std::pair{Qt::Key_Return, "OK"}}) {
      pressed.clear();
      testing::PressKey(nullptr, key, key == Qt::Key_Return ? "\r" : "\x1b");
      EXPECT_EQ(pressed, caption);
    }
    Free(first);  // its panel and buttons leave the second form as they go
    Free(second);
  }
}

class MdiTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    frame = Application().CreateForm<TForm>();
    ASSERT_EQ(Application().MainForm(), frame);
    frame->SetFormStyle(TFormStyle::fsMDIForm);
    frame->SetBounds(0, 0, 800, 600);
    frame->Show();
  }
  void TearDown() override {
    ClearEvents();
    Free(frame);
    FormTest::TearDown();
  }
  TForm* AddChild(const std::string& caption) {
    auto* child = TForm::Create<TForm>(&Application());
    child->SetFormStyle(TFormStyle::fsMDIChild);
    child->SetCaption(caption);
    child->SetBounds(0, 0, 300, 200);
    // Created as the class library creates it: the style is known before OnCreate runs.
    return child;
  }
  TForm* frame = nullptr;
};

TEST_F(MdiTest, ChildrenAreVisibleFromCreationAndBoundsAreSubWindowRectangles) {
  auto* child = AddChild("ORDERS.DAT");
  child->AfterConstruction();
  EXPECT_TRUE(child->Visible());
  EXPECT_EQ(frame->MDIChildCount(), 1);
  EXPECT_EQ(frame->ActiveMDIChild(), child);
  child->SetBounds(20, 30, 320, 210);
  QMdiSubWindow* sub = frame->MDIArea()->subWindowList().front();
  EXPECT_EQ(sub->geometry(), QRect(20, 30, 320, 210));
  EXPECT_EQ(child->BoundsRect(), Bounds(20, 30, 320, 210));
  EXPECT_EQ(sub->windowTitle().toStdString(), "ORDERS.DAT");
  // Activating another child fires its OnActivate and the screen's active-form change.
  auto* other = AddChild("ITEMS.DAT");
  std::vector<std::string> log;
  child->OnActivate = [&](TComponent*) { log.push_back("ORDERS"); };
  Screen().OnActiveFormChange = [&](TComponent*) {
    log.push_back(std::string("screen ") + (frame->ActiveMDIChild() ? frame->ActiveMDIChild()->Caption() : "-"));
  };
  other->AfterConstruction();
  child->BringToFront();
  EXPECT_EQ(log, (std::vector<std::string>{"screen ITEMS.DAT", "ORDERS", "screen ORDERS.DAT"}));
  ClearEvents();
  Free(other);
  Free(child);
  EXPECT_EQ(frame->MDIChildCount(), 0);
}

TEST_F(MdiTest, CascadeAndTileUseShareOfTheClientArea) {
  std::vector<TForm*> children;
  for (const char* name : {"A.DAT", "B.DAT", "C.DAT", "D.DAT"}) {
    children.push_back(AddChild(name));
    children.back()->AfterConstruction();
  }
  const QRect vp = frame->MDIArea()->viewport()->rect();
  const TRect client = Bounds(0, 0, vp.width(), vp.height());
  frame->Tile();
  const auto tiles = TileLayout(client, 4, TTileMode::tbHorizontal);
  for (std::size_t i = 0; i < children.size(); ++i) EXPECT_EQ(children[i]->BoundsRect(), tiles[i]) << i;
  frame->TileMode = TTileMode::tbVertical;
  frame->Tile();
  const auto vertical = TileLayout(client, 4, TTileMode::tbVertical);
  for (std::size_t i = 0; i < children.size(); ++i) EXPECT_EQ(children[i]->BoundsRect(), vertical[i]) << i;
  frame->Cascade();
  for (auto* c : children) {
    EXPECT_EQ(c->Width(), client.Width() * 3 / 4);
    EXPECT_EQ(c->Height(), client.Height() * 3 / 4);
  }
  // Minimized windows take no part in tiling and line up as icons.
  children[0]->SetWindowState(TWindowState::wsMinimized);
  children[1]->SetWindowState(TWindowState::wsMinimized);
  frame->Tile();
  const auto two = TileLayout(client, 2, TTileMode::tbVertical);
  EXPECT_EQ(children[2]->BoundsRect(), two[0]);
  EXPECT_EQ(children[3]->BoundsRect(), two[1]);
  frame->ArrangeIcons();
  const auto icons = IconLayout(client, 2);
  EXPECT_EQ(children[0]->Left(), icons[0].Left);
  EXPECT_EQ(children[1]->Left(), icons[1].Left);
  EXPECT_EQ(children[0]->Top(), icons[0].Top);
  for (auto* c : children) Free(c);
}

TEST_F(MdiTest, WindowListClosingAndTheFramesCloseQuery) {
  TMainMenu menu(frame);
  auto* windowItem = new TMenuItem(frame);
  windowItem->SetCaption("&Window");
  auto* cascadeItem = new TMenuItem(frame);
  cascadeItem->SetCaption("&Cascade");
  menu.Items().Add(windowItem);
  windowItem->Add(cascadeItem);
  frame->SetMenu(&menu);
  frame->SetWindowMenu(windowItem);
  auto* a = AddChild("A.DAT");
  a->AfterConstruction();
  auto* b = AddChild("B.DAT");
  b->AfterConstruction();
  emit windowItem->SubMenu()->aboutToShow();
  EXPECT_EQ(windowItem->WindowListCount(), 3);  // separator, "&1 A.DAT", "&2 B.DAT"
  const auto actions = windowItem->SubMenu()->actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[2]->text().toStdString(), "&1 A.DAT");
  EXPECT_TRUE(actions[3]->isChecked());  // B is active
  actions[2]->trigger();
  EXPECT_EQ(frame->ActiveMDIChild(), a);

  // A child closes to a minimized window by default, and frees itself with caFree.
  a->Close();
  EXPECT_EQ(a->WindowState(), TWindowState::wsMinimized);
  bool bFreed = false;
  b->OnDestroy = [&](TComponent*) { bFreed = true; };
  b->OnClose = [](TComponent*, TCloseAction& action) { action = TCloseAction::caFree; };
  b->Close();
  PumpIdle();
  EXPECT_TRUE(bFreed);
  EXPECT_EQ(frame->MDIChildCount(), 1);

  // The frame asks each child before it closes.
  a->OnCloseQuery = [](TComponent*, bool& can) { can = false; };
  EXPECT_FALSE(frame->CloseQuery());
  a->OnCloseQuery = nullptr;
  EXPECT_TRUE(frame->CloseQuery());
  Free(a);
  frame->SetMenu(nullptr);
}

}  // namespace
}  // namespace kavrin::classlib
