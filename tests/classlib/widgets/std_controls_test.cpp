// The standard and extended controls, menus, clipboard, timers, file lists and canvas, on real Qt
// widgets offscreen.
#include "classlib/widgets/std_controls.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <algorithm>
#include <fstream>

#include "classlib/widgets/clipboard.h"
#include "classlib/widgets/ext_controls.h"
#include "classlib/widgets/file_lists.h"
#include "classlib/widgets/menus.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

using testing::PressKey;
using testing::PumpIdle;
using testing::PumpUntil;
using testing::SendMouse;
using testing::TypeText;

class ControlsTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    form = TForm::Create<TForm>(&Application());
    form->SetBounds(0, 0, 600, 400);
    form->Show();
  }
  void TearDown() override {
    ClearEvents();
    Free(form);
    WidgetTest::TearDown();
  }
  void Focus(TWinControl* c) {
    c->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return QApplication::focusWidget() == c->FocusWidget() || c->Focused(); }));
  }
  TForm* form = nullptr;
};

TEST_F(ControlsTest, KeyFiltersMaxLengthPasswordReadOnlyAndCase) {
  struct Case {
    const char* name;
    std::function<void(TEdit&)> setUp;
    std::string typed;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"digits only",
       [](TEdit& e) {
         e.OnKeyPress = [](TComponent*, char& key) {
           if (!((key >= '0' && key <= '9') || key == '\b' || key == '\r')) key = 0;
         };
       },
       "1a2b3\b4", "124"},
      {"max length 15", [](TEdit& e) { e.SetMaxLength(15); }, "abcdefghijklmnopqrst", "abcdefghijklmno"},
      {"read-only", [](TEdit& e) { e.SetReadOnly(true); }, "abc", ""},
      {"upper case", [](TEdit& e) { e.SetCharCase(TEditCharCase::ecUpperCase); }, "Keys9", "KEYS9"},
      {"password", [](TEdit& e) { e.SetPasswordChar('*'); }, "wren", "wren"},
  };
  for (const auto& c : cases) {
    auto* edit = new TEdit(*form);
    c.setUp(*edit);
    Focus(edit);
    TypeText(c.typed);
    EXPECT_EQ(edit->Text(), c.expected) << c.name;
    Free(edit);
  }
  auto* password = new TEdit(*form);
  password->SetPasswordChar('*');
  EXPECT_EQ(password->LineEdit()->echoMode(), QLineEdit::Password);
}

TEST_F(ControlsTest, TabSkipsControlsWithoutTabStopAndEditsTakeTheirColour) {
  auto* first = new TEdit(*form);
  auto* readOnly = new TEdit(*form);
  readOnly->SetTop(30);
  readOnly->SetReadOnly(true);
  readOnly->SetColor(clSilver);
  readOnly->SetTabStop(false);
  auto* last = new TEdit(*form);
  last->SetTop(60);
  EXPECT_EQ(readOnly->LineEdit()->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
  Focus(first);
  PressKey(nullptr, Qt::Key_Tab, "\t");
  EXPECT_TRUE(PumpUntil([&] { return last->Focused(); }));
  EXPECT_FALSE(readOnly->Focused());
}

TEST_F(ControlsTest, LabelsAndImages) {
  auto* label = new TLabel(*form);
  label->SetCaption("&Lock Retry Count");
  EXPECT_EQ(static_cast<QLabel*>(label->Widget())->text().toStdString(), "Lock Retry Count");
  const int width = label->Width();
  label->SetCaption("&Lock Retry Count && more");
  EXPECT_GT(label->Width(), width);  // auto-sized to its text
  EXPECT_EQ(StripAccelerator("R&&D &Notes"), "R&D Notes");

  auto* image = new TImage(*form);
  image->SetBounds(100, 100, 40, 30);
  TBitmap picture;
  picture.SetSize(10, 10);
  TCanvas& paint = picture.BeginDraw();
  paint.Brush.Color = clRed;
  paint.FillRect(Rect(0, 0, 10, 10));
  picture.EndDraw();
  image->SetPicture(picture);
  image->SetCenter(true);
  QImage shot = image->Widget()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(20, 15), QColor(Qt::red));  // centred: the middle is the picture
  EXPECT_NE(shot.pixelColor(2, 2), QColor(Qt::red));
  image->SetStretch(true);
  shot = image->Widget()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::red));  // stretched over the whole control
  image->SetAutoSize(true);
  EXPECT_EQ(image->BoundsRect(), Bounds(100, 100, 10, 10));
  image->Clear();
  EXPECT_TRUE(image->Picture().Empty());
}

TEST_F(ControlsTest, EditChangeAndSelection) {
  auto* edit = new TEdit(*form);
  int changes = 0;
  edit->OnChange = [&](TComponent*) { ++changes; };
  edit->SetText("Hello");
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(edit->Modified);
  edit->SetSelStart(1);
  edit->SetSelLength(3);
  EXPECT_EQ(edit->SelText(), "ell");
  edit->SetSelText("ipp");
  EXPECT_EQ(edit->Text(), "Hippo");
  EXPECT_TRUE(edit->Modified);
}

TEST_F(ControlsTest, MemoWrapTabsLinesAndCaretInsert) {
  auto* memo = new TMemo(*form);
  memo->Lines().Add("first");
  memo->Lines().Add("second");
  EXPECT_EQ(memo->Lines().Count(), 2);
  EXPECT_EQ(memo->Text(), "first\r\nsecond");
  EXPECT_EQ(memo->Lines().Text(), "first\r\nsecond\r\n");
  memo->SetText("A\r\n\r\nB");
  EXPECT_EQ(memo->Lines().Count(), 3);
  EXPECT_EQ(memo->Lines().Strings(1), "");
  memo->SetSelStart(1);
  memo->SetSelText("xy");
  EXPECT_EQ(memo->Text(), "Axy\r\n\r\nB");

  memo->SetWordWrap(false);
  EXPECT_EQ(memo->TextEdit()->lineWrapMode(), QTextEdit::NoWrap);
  memo->SetScrollBars(TScrollStyle::ssBoth);
  EXPECT_EQ(memo->TextEdit()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  memo->SetWordWrap(true);
  EXPECT_EQ(memo->TextEdit()->lineWrapMode(), QTextEdit::WidgetWidth);

  // Tab: text when the memo wants tabs, the next control otherwise.
  memo->SetText("");
  memo->SetWantTabs(true);
  Focus(memo);
  PressKey(nullptr, Qt::Key_Tab, "\t");
  EXPECT_EQ(memo->Text(), "\t");
  memo->SetWantTabs(false);
  EXPECT_TRUE(memo->TextEdit()->tabChangesFocus());
}

TEST_F(ControlsTest, ClipboardCommandsGoToTheFocusedControl) {
  auto* source = new TEdit(*form);
  auto* target = new TEdit(*form);
  target->SetTop(30);
  auto* readOnly = new TEdit(*form);
  readOnly->SetTop(60);
  readOnly->SetReadOnly(true);
  source->SetText("Customer");
  Focus(source);
  source->SelectAll();
  SendClipboardCommand(TClipboardCommand::Copy);
  EXPECT_EQ(Clipboard().AsText(), "Customer");
  SendClipboardCommand(TClipboardCommand::Cut);
  EXPECT_EQ(source->Text(), "");
  Focus(target);
  SendClipboardCommand(TClipboardCommand::Paste);
  EXPECT_EQ(target->Text(), "Customer");
  readOnly->SetText("fixed");
  Focus(readOnly);
  readOnly->SelectAll();
  SendClipboardCommand(TClipboardCommand::Cut);
  EXPECT_EQ(readOnly->Text(), "fixed");
  Clipboard().SetAsText("x");
  EXPECT_TRUE(Clipboard().HasFormat(CF_TEXT));
}

TEST_F(ControlsTest, ListBoxObjectsSortingSelectionAndOwnerDraw) {
  auto* list = new TListBox(*form);
  list->SetBounds(10, 10, 200, 150);
  list->Items().AddObject("Name", reinterpret_cast<TItemObject>(std::intptr_t{2}));
  list->Items().AddObject("Area", reinterpret_cast<TItemObject>(std::intptr_t{5}));
  list->SetSorted(true);
  list->Items().AddObject("city", reinterpret_cast<TItemObject>(std::intptr_t{7}));
  ASSERT_EQ(list->Items().Count(), 3);
  EXPECT_EQ(list->Items().Strings(0), "Area");
  EXPECT_EQ(list->Items().Strings(1), "city");  // sorted ignoring case
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(list->Items().Objects(2)), 2);
  EXPECT_EQ(list->List()->item(1)->text().toStdString(), "city");

  list->SetMultiSelect(true);
  list->SetSelected(0, true);
  list->SetSelected(2, true);
  EXPECT_EQ(list->SelCount(), 2);
  EXPECT_TRUE(list->Selected(2));
  EXPECT_FALSE(list->Selected(1));
  EXPECT_THROW(list->Selected(3), std::out_of_range);
  EXPECT_EQ(list->ItemAtPos(TPoint{5, 1000}, true), -1);
  EXPECT_EQ(list->ItemAtPos(TPoint{5, 1000}, false), 3);
  const TRect second = list->ItemRect(1);
  EXPECT_EQ(list->ItemAtPos(TPoint{5, second.Top + 1}, true), 1);

  std::vector<int> drawn;
  list->SetStyle(TListBoxStyle::lbOwnerDrawFixed);
  list->SetItemHeight(15);
  list->OnDrawItem = [&](TComponent*, int index, const TRect& rect, TOwnerDrawState) {
    drawn.push_back(index);
    list->Canvas().FillRect(rect);
    list->Canvas().TextOut(rect.Left + 2, rect.Top, list->Items().Strings(index));
  };
  list->List()->viewport()->grab();
  EXPECT_EQ(drawn, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(list->ItemRect(1).Height(), 15);
}

TEST_F(ControlsTest, DragAndDropBetweenListBoxes) {
  auto* left = new TListBox(*form);
  left->SetBounds(10, 10, 150, 200);
  auto* right = new TListBox(*form);
  right->SetBounds(300, 10, 150, 200);
  left->Items().Add("Name");
  left->Items().Add("City");
  left->SetDragMode(TDragMode::dmAutomatic);
  std::vector<std::string> log;
  right->OnDragOver = [&](TComponent*, TControl* source, int, int, TDragState, bool& accept) {
    accept = source == left;
  };
  right->OnDragDrop = [&](TComponent*, TControl* source, int x, int y) {
    log.push_back(std::string(source == left ? "from left" : "from elsewhere") + " at " +
                  std::to_string(right->ItemAtPos(TPoint{x, y}, true)));
  };
  TControl* ended = nullptr;
  left->OnEndDrag = [&](TComponent*, TControl* target, int, int) { ended = target; };
  PumpIdle();
  QWidget* from = left->List()->viewport();
  const QPoint start = left->List()->visualItemRect(left->List()->item(0)).center();
  SendMouse(from, QEvent::MouseButtonPress, start);
  // Moves go to the pressed widget; the target is found under the global position.
  const QPoint over = from->mapFromGlobal(right->List()->viewport()->mapToGlobal(QPoint(20, 100)));
  SendMouse(from, QEvent::MouseMove, start + QPoint(10, 0), Qt::NoButton);
  SendMouse(from, QEvent::MouseMove, over, Qt::NoButton);
  EXPECT_TRUE(left->Dragging());
  SendMouse(from, QEvent::MouseButtonRelease, over, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(log, (std::vector<std::string>{"from left at -1"}));
  EXPECT_EQ(ended, right);
  EXPECT_FALSE(left->Dragging());
}

// A check box that may be made read-only, as a derived control does it.
class LockedCheckBox : public TCheckBox {
 public:
  using TCheckBox::TCheckBox;
  bool ReadOnly = false;
  void Toggle() override {
    if (!ReadOnly) TCheckBox::Toggle();
  }
};

TEST_F(ControlsTest, CheckBoxesRadioGroupsAndDropDowns) {
  auto* check = new LockedCheckBox(*form);
  int clicks = 0;
  check->OnClick = [&](TComponent*) { ++clicks; };
  static_cast<QCheckBox*>(check->Widget())->click();
  EXPECT_TRUE(check->Checked());
  check->ReadOnly = true;
  static_cast<QCheckBox*>(check->Widget())->click();
  EXPECT_TRUE(check->Checked());
  EXPECT_EQ(static_cast<QCheckBox*>(check->Widget())->checkState(), Qt::Checked);
  check->SetChecked(false);  // the program may still change it
  EXPECT_EQ(clicks, 2);

  auto* group = new TRadioGroup(*form);
  group->SetCaption("Select Mail Transport");
  group->Items().Add("MAPI");
  group->Items().Add("SMTP");
  std::vector<int> picked;
  group->OnClick = [&](TComponent*) { picked.push_back(group->ItemIndex()); };
  group->SetItemIndex(1);
  auto buttons = group->Widget()->findChildren<QRadioButton*>();
  ASSERT_EQ(buttons.size(), 2);
  EXPECT_TRUE(buttons[1]->isChecked());
  buttons[0]->click();
  EXPECT_EQ(group->ItemIndex(), 0);
  EXPECT_EQ(picked, (std::vector<int>{1, 0}));

  auto* combo = new TComboBox(*form);
  combo->SetStyle(TComboBoxStyle::csDropDownList);
  for (const char* s : {"Installation", "Help Files", "Performance"}) combo->Items().Add(s);
  int changes = 0;
  combo->OnChange = [&](TComponent*) { ++changes; };
  combo->SetItemIndex(2);
  EXPECT_EQ(combo->Text(), "Performance");
  EXPECT_EQ(changes, 0);  // the program's choice fires nothing
  combo->SetText("Help Files");
  EXPECT_EQ(combo->ItemIndex(), 1);
  emit combo->Combo()->activated(0);
  EXPECT_EQ(changes, 1);
  combo->Items().Delete(0);
  EXPECT_EQ(combo->Combo()->count(), 2);
}

TEST_F(ControlsTest, PageControlChangingCanRefuse) {
  auto* pages = new TPageControl(*form);
  auto* data = new TTabSheet(*pages);
  data->SetCaption("Browse &Data");
  auto* structure = new TTabSheet(*pages);
  structure->SetCaption("&Structure");
  auto* edit = new TEdit(*structure);
  EXPECT_EQ(edit->ParentForm(), form);
  bool allow = false;
  int changes = 0;
  pages->OnChanging = [&](TComponent*, bool& allowChange) {
    EXPECT_EQ(pages->ActivePage(), data);  // still the old page while asked
    allowChange = allow;
  };
  pages->OnChange = [&](TComponent*) { ++changes; };
  EXPECT_EQ(pages->ActivePage(), data);
  pages->Tabs()->setCurrentIndex(1);  // as a click on the tab does
  EXPECT_EQ(pages->ActivePageIndex(), 0);
  EXPECT_EQ(pages->Tabs()->currentIndex(), 0);
  allow = true;
  pages->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(pages->ActivePage(), structure);
  EXPECT_EQ(changes, 1);
  pages->SetActivePageIndex(0);  // the program's change asks no one
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(pages->Tabs()->tabText(1).toStdString(), "&Structure");
}

TEST_F(ControlsTest, PanelsSpeedButtonsStatusBarProgressAndTimers) {
  auto* bar = new TPanel(*form);
  bar->SetAlign(TAlign::alTop);
  bar->SetHeight(29);
  bar->SetShowHint(true);
  auto* open = new TSpeedButton(*bar);
  open->SetHint("Open Shared|");
  EXPECT_EQ(open->Widget()->toolTip().toStdString(), "Open Shared");  // the panel shows hints
  EXPECT_EQ(static_cast<QToolButton*>(open->Widget())->focusPolicy(), Qt::NoFocus);
  auto* first = new TSpeedButton(*bar);
  auto* second = new TSpeedButton(*bar);
  first->GroupIndex = second->GroupIndex = 1;
  first->Click();
  second->Click();
  EXPECT_FALSE(first->Down());
  EXPECT_TRUE(second->Down());

  auto* status = new TStatusBar(*form);
  status->SetSimplePanel(true);
  status->SetSimpleText("Opening data files and checking integrity....");
  EXPECT_EQ(status->BoundsRect().Bottom, form->ClientHeight());
  EXPECT_EQ(bar->BoundsRect(), Bounds(0, 0, form->ClientWidth(), 29));

  auto* gauge = new TProgressBar(*form);
  gauge->SetPosition(150);
  EXPECT_EQ(gauge->Position(), 100);
  gauge->SetPosition(-3);
  EXPECT_EQ(gauge->Position(), 0);
  gauge->StepIt();
  EXPECT_EQ(static_cast<QProgressBar*>(gauge->Widget())->value(), 10);

  std::vector<std::string> caught;
  Application().OnException = [&](TComponent*, const std::exception& e) { caught.push_back(e.what()); };
  TTimer timer(form);
  int ticks = 0;
  timer.SetInterval(10);
  timer.OnTimer = [&](TComponent*) {
    if (++ticks == 2) throw std::runtime_error("socket timer");
  };
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  timer.SetEnabled(false);
  EXPECT_EQ(caught, (std::vector<std::string>{"socket timer"}));
}

TEST_F(ControlsTest, MenusInsertDeleteAndPopupComponent) {
  TMainMenu menu(form);
  auto* file = new TMenuItem(form);
  file->SetCaption("&File");
  menu.Items().Add(file);
  std::vector<TMenuItem*> items;
  for (const char* caption : {"&New...", "-", "E&xit"}) {
    items.push_back(new TMenuItem(form));
    items.back()->SetCaption(caption);
    file->Add(items.back());
  }
  EXPECT_TRUE(items[1]->IsLine());
  EXPECT_TRUE(items[1]->Action()->isSeparator());
  auto* history = new TMenuItem(form);
  history->SetCaption("C:\\DATA\\ORDERS.DAT");
  file->Insert(1, history);
  const auto actions = file->SubMenu()->actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[1]->text().toStdString(), "C:\\DATA\\ORDERS.DAT");
  EXPECT_EQ(history->MenuIndex(), 1);
  file->Delete(1);
  EXPECT_EQ(file->Count(), 3);
  EXPECT_EQ(file->SubMenu()->actions().size(), 3);
  EXPECT_THROW(file->Delete(7), std::out_of_range);
  int clicks = 0;
  items[0]->OnClick = [&](TComponent*) { ++clicks; };
  items[0]->Action()->trigger();
  EXPECT_EQ(clicks, 1);

  TPopupMenu popup(form);
  popup.Alignment = TPopupAlignment::paCenter;
  auto* whatsThis = new TMenuItem(form);
  whatsThis->SetCaption("What's This ?");
  popup.Items().Add(whatsThis);
  auto* edit = new TEdit(*form);
  auto* label = new TLabel(*form);
  edit->SetPopupMenu(&popup);
  label->SetPopupMenu(&popup);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), edit->Widget()->mapToGlobal(QPoint(2, 2)));
  QCoreApplication::sendEvent(edit->Widget(), &event);
  EXPECT_EQ(popup.PopupComponent(), edit);
  popup.Menu()->hide();
  QContextMenuEvent onLabel(QContextMenuEvent::Mouse, QPoint(1, 1), label->Widget()->mapToGlobal(QPoint(1, 1)));
  QCoreApplication::sendEvent(label->Widget(), &onLabel);
  EXPECT_EQ(popup.PopupComponent(), label);
  EXPECT_FALSE(label->IsWindowed());
  EXPECT_TRUE(edit->IsWindowed());
  popup.Menu()->hide();
  // The items go before the menus that hold them.
  for (auto* item : items) Free(item);
  Free(history);
  Free(whatsThis);
  Free(file);
}

TEST_F(ControlsTest, FileListsShowOneRootAndMatchMasksIgnoringCase) {
  testing::TempDir dir;
  for (const char* name : {"CUSTOMER.DB", "orders.dbf", "Notes.DBT", "parts.Db", ".hidden.db"}) {
    std::ofstream(dir.PathOf(name)) << "x";
  }
  ::chmod(dir.PathOf("parts.Db").c_str(), 0444);
  std::filesystem::create_directory(dir.PathOf("Sub"));
  std::filesystem::create_directory(dir.PathOf("archive"));

  struct Case {
    TFileType types;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{TFileAttr::ftNormal}, {"CUSTOMER.DB", "orders.dbf"}},
      {{TFileAttr::ftReadOnly, TFileAttr::ftNormal}, {"CUSTOMER.DB", "orders.dbf", "parts.Db"}},
      {{TFileAttr::ftReadOnly}, {"parts.Db"}},
      {{TFileAttr::ftNormal, TFileAttr::ftHidden}, {".hidden.db", "CUSTOMER.DB", "orders.dbf"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ListFiles(dir.Path(), "*.DB;*.DBF", c.types), c.expected);

  auto* drives = new TDriveComboBox(*form);
  EXPECT_EQ(drives->Items().Count(), 1);
  EXPECT_EQ(drives->Text(), "/");
  auto* folders = new TDirectoryListBox(*form);
  auto* files = new TFileListBox(*form);
  files->SetMask("*.DB;*.DBF");
  files->SetFileType({TFileAttr::ftReadOnly, TFileAttr::ftNormal});
  files->SetMultiSelect(true);
  folders->FileList = files;
  int changes = 0;
  folders->OnChange = [&](TComponent*) { ++changes; };
  folders->SetDirectory(dir.Path());
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(files->Items().Count(), 3);
  const auto tree = DirectoryTree(dir.Path());
  EXPECT_EQ(tree.front().Path, "/");
  EXPECT_EQ(tree[tree.size() - 2].Name, "archive");  // sub-folders sorted ignoring case
  EXPECT_EQ(tree.back().Name, "Sub");
  EXPECT_EQ(folders->Items().Strings(folders->ItemIndex()), std::filesystem::path(dir.Path()).filename().string());
  // A double-click opens a sub-folder.
  folders->SetItemIndex(folders->Items().Count() - 1);
  folders->DblClick();
  EXPECT_EQ(folders->Directory(), dir.PathOf("Sub"));
  EXPECT_EQ(files->Items().Count(), 0);
  folders->SetDirectory(dir.Path());
  files->SetItemIndex(0);
  EXPECT_EQ(files->FileName(), dir.PathOf("CUSTOMER.DB"));
}

// The darkest grey level in a picture of a control: its caption, on these light faces.
int Darkest(const QImage& image) {
  int darkest = 255;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) darkest = std::min(darkest, qGray(image.pixel(x, y)));
  }
  return darkest;
}

// The pixels of a picture that are clearly red.
int RedPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100) ++count;
    }
  }
  return count;
}

// A disabled control shows the style's grey caption, whatever font colour the program gave it, and
// shows the font colour again once enabled.
TEST_F(ControlsTest, ADisabledControlLooksDisabledWhateverItsFontColour) {
  struct Case {
    const char* name;
    std::function<TControl*(TWinControl&)> make;
  };
  const Case cases[] = {
      {"button", [](TWinControl& p) -> TControl* { return new TButton(p); }},
      {"check box", [](TWinControl& p) -> TControl* { return new TCheckBox(p); }},
      {"radio button", [](TWinControl& p) -> TControl* { return new TRadioButton(p); }},
      {"label", [](TWinControl& p) -> TControl* { return new TLabel(p); }},
  };
  auto* edit = new TEdit(*form);  // holds the focus, so no control below draws a focus frame
  Focus(edit);
  auto shot = [](TControl* c) { return c->Widget()->grab().toImage(); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TControl* enabled = c.make(*form);
    TControl* disabled = c.make(*form);
    int top = 40;
    for (TControl* control : {enabled, disabled}) {
      control->SetBounds(10, top, 100, 25);
      control->SetCaption("Transfer");
      top += 40;
    }
    disabled->SetEnabled(false);
    PumpIdle();
    const QImage on = shot(enabled);
    const QImage off = shot(disabled);
    ASSERT_EQ(on.size(), off.size());
    EXPECT_NE(on, off);
    EXPECT_GT(Darkest(off), Darkest(on) + 40) << "the disabled caption is grey, not the font's black";
    for (TControl* control : {enabled, disabled}) control->Font().SetColor(clRed);
    PumpIdle();
    EXPECT_GT(RedPixels(shot(enabled)), 0);
    EXPECT_EQ(RedPixels(shot(disabled)), 0) << "a font colour set while disabled waits for the control to be enabled";
    disabled->SetEnabled(true);
    PumpIdle();
    EXPECT_GT(RedPixels(shot(disabled)), 0);
    Free(enabled);
    Free(disabled);
  }
}

TEST_F(ControlsTest, CanvasAndFonts) {
  TFont font;
  EXPECT_EQ(font.PixelsPerInch(), 96);
  font.SetSize(8);
  EXPECT_EQ(font.Height(), -11);
  font.SetHeight(-16);
  EXPECT_EQ(font.Size(), 12);
  TCanvas canvas;
  canvas.Font.Assign(font);
  const int one = canvas.TextWidth("0");
  EXPECT_GT(one, 0);
  EXPECT_EQ(canvas.TextWidth(std::string(12, '0')), 12 * one);
  TBitmap bitmap;
  bitmap.SetSize(20, 10);
  TCanvas& c = bitmap.BeginDraw();
  c.Brush.Color = clRed;
  c.FillRect(Rect(0, 0, 10, 10));
  c.Pen.Color = clBlue;
  c.MoveTo(15, 0);
  c.LineTo(15, 9);
  EXPECT_EQ(c.Pixel(5, 5), clRed);
  EXPECT_EQ(c.Pixel(15, 3), clBlue);
  EXPECT_EQ(c.Pixel(12, 3), clWhite);
  bitmap.EndDraw();
  TBitmap copy;
  copy.LoadFromBytes(bitmap.SaveToBytes());
  EXPECT_EQ(copy.Width(), 20);
  EXPECT_THROW(copy.LoadFromBytes("not a picture"), std::runtime_error);
  EXPECT_EQ(ColorToRGB(clBtnFace), 0xC0C0C0u);
  EXPECT_EQ(ColorToRGB(clHighlight), 0x800000u);
}

}  // namespace
}  // namespace kavrin::classlib
