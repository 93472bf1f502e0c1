// The data-aware controls on real engine tables in a temp folder: the grid and the navigator editing,
// posting, cancelling and deleting (the confirmation answered through the scripted seam), the grid's
// window of records, its scroll bar and wheel moving through the dataset, the masked and upper-case edits, the
// drop-down, memo and image, and FocusControl.
#include "classlib/widgets/db_controls.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "classlib/data/data_source.h"
#include "classlib/data/field.h"
#include "classlib/widgets/db_grids.h"
#include "classlib/widgets/edit_mask.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/keys.h"
#include "dataset/table.h"
#include "tests/classlib/widgets/widget_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::classlib {
namespace {

using testing::GTestScriptedUi;
using testing::PumpIdle;

TEST(EditMaskTest, PictureQtMaskAndFieldText) {
  struct Case {
    const char* mask;
    const char* fieldText;
    const char* formatted;
    const char* qtMask;
    const char* back;  // the field text read back from the formatted edit text
  };
  const Case cases[] = {
      {"!99/99/9999;1; ", "2/29/2024", " 2/29/2024", "00/00/0000; ", "2/29/2024"},
      {"!99/99/9999;1; ", "12/31/1999", "12/31/1999", "00/00/0000; ", "12/31/1999"},
      {"!99/99/9999;1; ", "", "  /  /    ", "00/00/0000; ", ""},
      {"99/99/9999;1;_", "2/9/2024", "2_/9_/2024", "00/00/0000;_", "2/9/2024"},
      {"000-0000;0;_", "5551234", "555-1234", "999-9999;_", "5551234"},
      {">LL;1;_", "ab", "ab", ">AA;_", "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    const TEditMask mask(c.mask);
    EXPECT_EQ(mask.QtInputMask(), c.qtMask);
    EXPECT_EQ(mask.Format(c.fieldText), c.formatted);
    EXPECT_EQ(mask.FieldText(c.formatted), c.back);
  }
  EXPECT_TRUE(TEditMask("").Empty());
}

// A form on a table of people (ID primary key, Name, Born date, Notes memo) in a temp folder.
class DBControlsTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    CreateTable("PEOPLE.DAT", 3);
    form = TForm::Create<TForm>(&Application());
    form->SetBounds(0, 0, 600, 400);
    table = new dataset::TTable(form);
    table->SetDatabaseName(dir.Path());
    table->SetTableName("PEOPLE.DAT");
    source = new TDataSource(form);
    source->SetDataSet(table);
  }
  void TearDown() override {
    Free(form);
    WidgetTest::TearDown();
  }

  void CreateTable(const std::string& name, int count) {
    dataset::TTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName(name);
    t.FieldDefs().Add("ID", TFieldType::ftInteger);
    t.FieldDefs().Add("Name", TFieldType::ftString, 20);
    t.FieldDefs().Add("Born", TFieldType::ftDate);
    t.FieldDefs().Add("Notes", TFieldType::ftMemo);
    t.IndexDefs().Add("", "ID", ixPrimary);
    t.CreateTable();
    t.Open();
    for (int i = 1; i <= count; ++i) {
      t.Append();
      t.FieldByName("ID")->SetAsInteger(i);
      t.FieldByName("Name")->SetAsString("R" + std::to_string(i));
      t.Post();
    }
    t.Close();
  }

  // Every record's ID and Name, read by a second table on the same file.
  std::vector<std::string> Stored() {
    dataset::TTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName(current);
    t.Open();
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.push_back(t.FieldByName("ID")->AsString() + ":" + t.FieldByName("Name")->AsString());
    return rows;
  }

  TDBGrid* Grid() {
    auto* grid = new TDBGrid(*form);
    grid->SetBounds(0, 30, 500, 200);
    grid->SetDataSource(source);
    return grid;
  }

  static void Press(TWinControl* control, Word key, TShiftState shift = {}) { control->KeyDown(key, shift); }

  static QScrollBar* VerticalBar(TDBGrid* grid) {
    return static_cast<QAbstractScrollArea*>(grid->MouseWidget()->parentWidget())->verticalScrollBar();
  }
  // The thumb held, moved to position and let go.
  static void DragThumb(TDBGrid* grid, int position) {
    QScrollBar* bar = VerticalBar(grid);
    bar->setSliderDown(true);
    bar->setSliderPosition(position);
    bar->setSliderDown(false);
  }
  // A wheel turn over the rows, or over the scroll bar.
  static void Wheel(TDBGrid* grid, int delta, bool overBar = false) {
    QWidget* target = overBar ? static_cast<QWidget*>(VerticalBar(grid)) : grid->MouseWidget();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &event);
  }
  void OpenTable(const std::string& name, int count) {
    table->Close();
    CreateTable(name, count);
    table->SetTableName(name);
    table->Open();
  }

  // A fresh table of three people for the next case, opened.
  void NextTable() {
    current = "P" + std::to_string(++cases_) + ".DAT";
    CreateTable(current, 3);
    table->SetTableName(current);
    table->Open();
  }

  kavrin::testing::TempDir dir;
  std::string current = "PEOPLE.DAT";
  int cases_ = 0;
  TForm* form = nullptr;
  dataset::TTable* table = nullptr;
  TDataSource* source = nullptr;
};

TEST_F(DBControlsTest, GridShowsTitlesIndicatorAndTheVisibleFieldsInOrder) {
  table->Open();
  TDBGrid* grid = Grid();
  ASSERT_EQ(grid->FieldCount(), 4);
  EXPECT_EQ(grid->Cells(1, 0), "ID");
  EXPECT_EQ(grid->Cells(2, 0), "Name");
  EXPECT_EQ(grid->Cells(2, 1), "R1");
  EXPECT_EQ(grid->Cells(2, 3), "R3");
  EXPECT_EQ(grid->RowCount(), 4);
  EXPECT_EQ(grid->Cells(0, 1), IndicatorBrowse);
  EXPECT_EQ(grid->Cells(0, 2), "");
  // The visible-fields choice: Name first, then ID; the others hidden.
  table->DisableControls();
  table->FieldByName("Born")->SetVisible(false);
  table->FieldByName("Notes")->SetVisible(false);
  table->FieldByName("Name")->SetIndex(0);
  table->EnableControls();
  ASSERT_EQ(grid->FieldCount(), 2);
  EXPECT_EQ(grid->Cells(1, 0), "Name");
  EXPECT_EQ(grid->Cells(2, 0), "ID");
  grid->SetCol(2);
  EXPECT_EQ(grid->SelectedField(), table->FieldByName("ID"));
  // Chosen columns: exactly these, in this order, a hidden field too; an unknown name shows none.
  grid->Columns().SetFieldNames({"Born", "Nobody", "ID", "Notes"});
  ASSERT_EQ(grid->FieldCount(), 3);
  EXPECT_EQ(grid->Cells(1, 0), "Born");
  EXPECT_EQ(grid->Cells(2, 0), "ID");
  EXPECT_EQ(grid->Cells(3, 0), "Notes");
  EXPECT_EQ(grid->Cells(2, 2), "2");
  grid->Columns().Clear();
  EXPECT_EQ(grid->FieldCount(), 2);
  // Lines, tabs, editing and column sizing are the string grid's options.
  EXPECT_TRUE(grid->TStringGrid::Options().Has(TGridOption::goHorzLine));
  EXPECT_TRUE(grid->TStringGrid::Options().Has(TGridOption::goTabs));
  EXPECT_TRUE(grid->TStringGrid::Options().Has(TGridOption::goColSizing));
  grid->SetReadOnly(true);
  EXPECT_FALSE(grid->TStringGrid::Options().Has(TGridOption::goEditing));
  grid->SetReadOnly(false);
  grid->SetOptions({TDBGridOption::dgEditing});  // no titles, no indicator
  EXPECT_EQ(grid->FixedRows(), 0);
  EXPECT_EQ(grid->FixedCols(), 0);
  EXPECT_EQ(grid->Cells(0, 0), "R1");
  EXPECT_FALSE(grid->TStringGrid::Options().Has(TGridOption::goHorzLine));
  EXPECT_FALSE(grid->TStringGrid::Options().Has(TGridOption::goTabs));
}

// A width the user dragged stays while the records move and change; a new set of columns is sized afresh.
TEST_F(DBControlsTest, ColumnWidthsSurviveScrollingAndPostingButNotANewLayout) {
  table->Open();
  TDBGrid* grid = Grid();
  const int nameWidth = grid->ColWidths(2);
  grid->SetColWidths(2, nameWidth + 77);
  table->Next();
  table->Edit();
  table->FieldByName("Name")->SetAsString("Changed");
  table->Post();
  table->Refresh();
  EXPECT_EQ(grid->Cells(2, 2), "Changed");
  EXPECT_EQ(grid->ColWidths(2), nameWidth + 77);
  table->FieldByName("ID")->SetVisible(false);
  ASSERT_EQ(grid->Cells(1, 0), "Name");
  EXPECT_EQ(grid->ColWidths(1), nameWidth);
}

TEST_F(DBControlsTest, AFieldTextThatThrowsWhileTheGridFillsLeavesTheCurrentRecordCurrent) {
  table->Open();
  Grid();
  bool fail = false;
  table->FieldByName("Name")->OnGetText = [&](TField& field, std::string& text, bool) {
    text = field.AsString();
    if (fail && text == "R3") throw std::runtime_error("no text for R3");
  };
  fail = true;
  try {
    table->Next();
  } catch (const std::runtime_error&) {
  }
  fail = false;
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 2);
  EXPECT_EQ(table->FieldByName("Name")->AsString(), "R2");
  table->FieldByName("Name")->OnGetText = nullptr;  // the form's teardown shows records after fail is gone
}

TEST_F(DBControlsTest, GridEditingCases) {
  struct Case {
    const char* name;
    std::function<void(TDBGrid*)> steps;
    std::vector<std::string> stored;
    TDataSetState state;
  };
  const Case cases[] = {
      {"typing then a row change posts",
       [](TDBGrid* g) {
         g->SetCol(2);
         g->SetEditText(2, 1, "Ann");
         Press(g, VK_DOWN);
       },
       {"1:Ann", "2:R2", "3:R3"},
       TDataSetState::dsBrowse},
      {"typed through the keyboard, posted by Down",
       [this](TDBGrid* g) {
         form->Show();
         g->SetFocus();
         g->SetCol(2);
         testing::TypeText("Kim");
         EXPECT_TRUE(g->EditorMode());
         testing::PressKey(nullptr, Qt::Key_Down);
       },
       {"1:Kim", "2:R2", "3:R3"},
       TDataSetState::dsBrowse},
      {"Esc cancels the edit",
       [](TDBGrid* g) {
         g->SetCol(2);
         g->ShowEditor();
         g->InplaceEditor()->setText("Zed");
         Press(g, VK_ESCAPE);
         Press(g, VK_DOWN);
       },
       {"1:R1", "2:R2", "3:R3"},
       TDataSetState::dsBrowse},
      {"Insert then post by moving up",
       [](TDBGrid* g) {
         Press(g, VK_DOWN);
         Press(g, VK_INSERT);
         g->SetCol(1);
         g->SetEditText(1, 2, "7");
         g->SetCol(2);
         g->SetEditText(2, 2, "New");
         Press(g, VK_UP);
       },
       {"1:R1", "2:R2", "3:R3", "7:New"},
       TDataSetState::dsBrowse},
      {"Down past the last record appends; Esc drops the empty row",
       [](TDBGrid* g) {
         Press(g, VK_END, TShiftState{.Ctrl = true});
         Press(g, VK_DOWN);
         EXPECT_EQ(g->Cells(0, g->Row()), IndicatorInsert);
         Press(g, VK_ESCAPE);
       },
       {"1:R1", "2:R2", "3:R3"},
       TDataSetState::dsBrowse},
      {"Tab from the last column moves to the next record and posts",
       [](TDBGrid* g) {
         g->Columns().SetFieldNames({"ID", "Name"});
         g->SetCol(2);
         g->SetEditText(2, 1, "Tab");
         Press(g, VK_TAB);
         EXPECT_EQ(g->SelectedField()->FieldName(), "ID");
         EXPECT_EQ(g->Row(), 2);
       },
       {"1:Tab", "2:R2", "3:R3"},
       TDataSetState::dsBrowse},
      {"a read-only grid does not edit",
       [](TDBGrid* g) {
         g->SetReadOnly(true);
         g->SetCol(2);
         g->SetEditText(2, 1, "No");
         Press(g, VK_INSERT);
         Press(g, VK_DOWN);
       },
       {"1:R1", "2:R2", "3:R3"},
       TDataSetState::dsBrowse},
      {"leaving the grid drops an untouched new row and keeps a typed one",
       [](TDBGrid* g) {
         Press(g, VK_INSERT);
         g->DoExit();
         EXPECT_EQ(g->RowCount(), 4);
         Press(g, VK_INSERT);
         g->SetCol(1);
         g->SetEditText(1, 1, "5");
         g->DoExit();
         EXPECT_EQ(g->DataSource()->DataSet()->State(), TDataSetState::dsInsert);
         g->DataSource()->DataSet()->Post();
       },
       {"1:R1", "2:R2", "3:R3", "5:"},
       TDataSetState::dsBrowse},
      {"an edit still pending stays in edit state",
       [](TDBGrid* g) {
         g->SetCol(2);
         g->SetEditText(2, 1, "Bea");
       },
       {"1:R1", "2:R2", "3:R3"},
       TDataSetState::dsEdit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NextTable();
    TDBGrid* grid = Grid();
    c.steps(grid);
    EXPECT_EQ(table->State(), c.state);
    if (c.state == TDataSetState::dsEdit) {
      EXPECT_EQ(grid->Cells(0, grid->Row()), IndicatorEdit);
    }
    table->Cancel();
    EXPECT_EQ(Stored(), c.stored);
    Free(grid);
    table->Close();
  }
}

TEST_F(DBControlsTest, GridAndNavigatorDeleteAskThroughTheSeam) {
  struct Case {
    bool navigator;
    TModalResult answer;
    std::vector<std::string> stored;
  };
  const Case cases[] = {
      {false, mrOk, {"1:R1", "3:R3"}},
      {false, mrCancel, {"1:R1", "2:R2", "3:R3"}},
      {true, mrOk, {"1:R1", "3:R3"}},
      {true, mrCancel, {"1:R1", "2:R2", "3:R3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.navigator ? "navigator " : "grid ") + DescribeResult(c.answer));
    NextTable();
    TDBGrid* grid = Grid();
    auto* nav = new TDBNavigator(*form);
    nav->SetDataSource(source);
    Press(grid, VK_DOWN);
    {
      GTestScriptedUi ui;
      ui.ExpectMessage(TMsgDlgType::mtConfirmation, DeleteRecordQuestion, {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel},
                       c.answer);
      if (c.navigator) {
        nav->BtnClick(TNavigateBtn::nbDelete);
      } else {
        Press(grid, VK_DELETE, TShiftState{.Ctrl = true});
      }
    }
    EXPECT_EQ(Stored(), c.stored);
    EXPECT_EQ(grid->RowCount(), 1 + static_cast<int>(c.stored.size()));
    Free(nav);
    Free(grid);
    table->Close();
  }
  // Without ConfirmDelete, or in a read-only grid, no question is asked.
  NextTable();
  auto* nav = new TDBNavigator(*form);
  nav->SetDataSource(source);
  nav->ConfirmDelete = false;
  GTestScriptedUi ui;
  nav->BtnClick(TNavigateBtn::nbDelete);
  EXPECT_EQ(Stored().size(), 2u);
  TDBGrid* grid = Grid();
  grid->SetReadOnly(true);
  Press(grid, VK_DELETE, TShiftState{.Ctrl = true});
  EXPECT_EQ(Stored().size(), 2u);
  EXPECT_FALSE(grid->CanEditModify());
}

TEST_F(DBControlsTest, NavigatorButtonsFollowTheStateAndPostAndCancel) {
  table->Open();
  auto* nav = new TDBNavigator(*form);
  nav->SetDataSource(source);
  auto* edit = new TDBEdit(*form);
  edit->SetDataSource(source);
  edit->SetDataField("Name");
  struct Expect {
    TNavigateBtn button;
    bool enabled;
  };
  auto check = [&](const char* step, std::initializer_list<Expect> expected) {
    SCOPED_TRACE(step);
    for (const Expect& e : expected) {
      EXPECT_EQ(nav->ButtonEnabled(e.button), e.enabled) << static_cast<int>(e.button);
      EXPECT_EQ(nav->Button(e.button)->isEnabled(), e.enabled) << static_cast<int>(e.button);
    }
  };
  check("first record", {{TNavigateBtn::nbFirst, false},
                         {TNavigateBtn::nbNext, true},
                         {TNavigateBtn::nbPost, false},
                         {TNavigateBtn::nbEdit, true},
                         {TNavigateBtn::nbDelete, true}});
  nav->BtnClick(TNavigateBtn::nbLast);
  check("last record", {{TNavigateBtn::nbFirst, true}, {TNavigateBtn::nbNext, false}, {TNavigateBtn::nbLast, false}});
  EXPECT_EQ(edit->Text(), "R3");
  nav->BtnClick(TNavigateBtn::nbEdit);
  check("editing", {{TNavigateBtn::nbPost, true}, {TNavigateBtn::nbCancel, true}, {TNavigateBtn::nbEdit, false}});
  edit->LineEdit()->setText("Cy");
  emit edit->LineEdit()->textEdited("Cy");
  nav->BtnClick(TNavigateBtn::nbPost);  // the pending text of the edit goes with the post
  EXPECT_EQ(Stored().back(), "3:Cy");
  nav->BtnClick(TNavigateBtn::nbInsert);
  table->FieldByName("ID")->SetAsInteger(9);
  nav->BtnClick(TNavigateBtn::nbCancel);
  EXPECT_EQ(Stored().size(), 3u);
  nav->SetEnabled(false);
  check("disabled", {{TNavigateBtn::nbFirst, false}, {TNavigateBtn::nbRefresh, false}});
  nav->SetDataSource(nullptr);
  nav->SetEnabled(true);
  check("unbound", {{TNavigateBtn::nbFirst, false}, {TNavigateBtn::nbInsert, false}});
}

TEST_F(DBControlsTest, TheGridReadsOnlyAWindowOfALargeTable) {
  table->Close();
  CreateTable("BIG.DAT", 3000);
  table->SetTableName("BIG.DAT");
  int fetched = 0;
  table->OnCalcFields = [&](TDataSet&) { ++fetched; };  // runs once per record read into the window
  table->Open();
  const int afterOpen = fetched;
  TDBGrid* grid = Grid();
  const int window = grid->DataLink().BufferCount();
  EXPECT_GT(window, 3);
  EXPECT_LT(window, 20);
  EXPECT_EQ(grid->RowCount(), 1 + window);
  EXPECT_LE(fetched - afterOpen, 2 * window + 2);
  struct Step {
    const char* name;
    std::function<void()> action;
  };
  const Step steps[] = {
      {"Ctrl+End", [&] { Press(grid, VK_END, TShiftState{.Ctrl = true}); }},
      {"Page Up", [&] { Press(grid, VK_PRIOR); }},
      {"Ctrl+Home", [&] { Press(grid, VK_HOME, TShiftState{.Ctrl = true}); }},
      {"Page Down", [&] { Press(grid, VK_NEXT); }},
      {"thumb to the middle", [&] { DragThumb(grid, 1500); }},
      {"thumb a window down", [&] { DragThumb(grid, 1500 + window); }},
      {"page area below", [&] { VerticalBar(grid)->triggerAction(QAbstractSlider::SliderPageStepAdd); }},
      {"wheel steps",
       [&] {
         for (int i = 0; i < 3; ++i) Wheel(grid, -120);
       }},
      {"thumb to the bottom", [&] { DragThumb(grid, VerticalBar(grid)->maximum()); }},
      {"thumb to the top", [&] { DragThumb(grid, 0); }},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const int before = fetched;
    s.action();
    EXPECT_LE(fetched - before, 3 * window + 2);
  }
  DragThumb(grid, 1500);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 1501);
  Press(grid, VK_END, TShiftState{.Ctrl = true});
  EXPECT_EQ(grid->Cells(1, grid->Row()), "3000");
  EXPECT_LT(fetched, 400) << "the grid never reads the whole table";
  table->OnCalcFields = nullptr;  // the form's teardown reads records after fetched is gone
}

// A grid that cannot tell the record number: its thumb only says first, last or between.
class UnnumberedGrid : public TDBGrid {
 public:
  using TDBGrid::TDBGrid;

 protected:
  bool IsSequenced() const override { return false; }
};

TEST_F(DBControlsTest, ScrollBarAndWheelMoveTheCurrentRecordThroughTheDataset) {
  OpenTable("MANY.DAT", 50);
  form->Show();
  TDBGrid* grid = Grid();
  QScrollBar* bar = VerticalBar(grid);
  const int page = grid->DataLink().BufferCount();
  ASSERT_GT(page, 3);
  ASSERT_LT(page, 20);
  // The thumb stands for the record number: 50 positions, a window of them in view.
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 49);
  EXPECT_EQ(bar->pageStep(), page);
  auto action = [&](QAbstractSlider::SliderAction a) { return [=] { bar->triggerAction(a); }; };
  struct Step {
    const char* name;
    std::function<void()> act;
    int id;
  };
  const Step steps[] = {
      {"arrow down", action(QAbstractSlider::SliderSingleStepAdd), 2},
      {"arrow down again", action(QAbstractSlider::SliderSingleStepAdd), 3},
      {"arrow up", action(QAbstractSlider::SliderSingleStepSub), 2},
      {"page area below", action(QAbstractSlider::SliderPageStepAdd), 2 + page},
      {"page area below again", action(QAbstractSlider::SliderPageStepAdd), 2 + 2 * page},
      {"page area above", action(QAbstractSlider::SliderPageStepSub), 2 + page},
      {"page area above past the top",
       [&] {
         for (int i = 0; i < 3; ++i) bar->triggerAction(QAbstractSlider::SliderPageStepSub);
       },
       1},
      {"arrow up at the first", action(QAbstractSlider::SliderSingleStepSub), 1},
      {"thumb to the bottom", [&] { DragThumb(grid, bar->maximum()); }, 50},
      {"arrow down at the last adds no record", action(QAbstractSlider::SliderSingleStepAdd), 50},
      {"wheel up a step", [&] { Wheel(grid, 120); }, 49},
      {"wheel up two steps", [&] { Wheel(grid, 240); }, 47},
      {"half a wheel step", [&] { Wheel(grid, 60); }, 47},
      {"the other half", [&] { Wheel(grid, 60); }, 46},
      {"wheel down a step", [&] { Wheel(grid, -120); }, 47},
      {"wheel up over the bar", [&] { Wheel(grid, 120, true); }, 46},
      {"wheel down over the bar", [&] { Wheel(grid, -240, true); }, 48},
      {"thumb far up", [&] { DragThumb(grid, 19); }, 20},
      {"a sideways wheel moves no record", [&] { Wheel(grid, 0); }, 20},
      {"thumb a little down", [&] { DragThumb(grid, 22); }, 23},
      {"thumb to the top", [&] { DragThumb(grid, 0); }, 1},
      {"wheel up at the first", [&] { Wheel(grid, 120); }, 1},
      {"the bar's own bottom", action(QAbstractSlider::SliderToMaximum), 50},
      {"the bar's own top", action(QAbstractSlider::SliderToMinimum), 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.act();
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), s.id);
    EXPECT_EQ(grid->Cells(1, grid->Row()), std::to_string(s.id));
    EXPECT_EQ(bar->value(), s.id - 1) << "the thumb shows where the current record is";
    EXPECT_EQ(grid->TopRow(), grid->FixedRows()) << "the bar moves records, not the grid's rows";
    EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  }
  EXPECT_EQ(table->RecordCount(), 50) << "no arrow or wheel appends";
  // A new row has no number: the thumb stays where the record it was inserted at stood.
  table->MoveBy(9);
  table->Insert();
  EXPECT_EQ(bar->value(), 9);
  table->Cancel();
  EXPECT_EQ(bar->value(), 9);
  // The thumb taken while inserting goes where it was let go; the new row is posted on the way.
  table->Insert();
  table->FieldByName("ID")->SetAsInteger(1000);
  DragThumb(grid, 29);
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(table->RecordCount(), 51);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 30);
  EXPECT_EQ(bar->value(), 29);
  // An empty table leaves nothing to scroll.
  OpenTable("NONE.DAT", 0);
  EXPECT_EQ(bar->maximum(), 0);
  Wheel(grid, -120);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_TRUE(table->IsEmpty());
}

TEST_F(DBControlsTest, WithoutRecordNumbersTheThumbHasThreePositions) {
  OpenTable("MANY.DAT", 50);
  form->Show();
  auto* grid = new UnnumberedGrid(*form);
  grid->SetBounds(0, 30, 500, 200);
  grid->SetDataSource(source);
  QScrollBar* bar = VerticalBar(grid);
  EXPECT_EQ(bar->maximum(), 2);
  struct Step {
    const char* name;
    std::function<void()> act;
    int id;
    int position;  // 0 top, 1 middle, 2 bottom
  };
  const Step steps[] = {
      {"first", [&] { table->First(); }, 1, 0},
      {"arrow down", [&] { bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); }, 2, 1},
      {"thumb to the bottom", [&] { DragThumb(grid, 2); }, 50, 2},
      {"thumb to the middle stays", [&] { DragThumb(grid, 1); }, 50, 2},
      {"wheel up", [&] { Wheel(grid, 120); }, 49, 1},
      {"wheel up over the bar moves a record, not the thumb to the top", [&] { Wheel(grid, 120, true); }, 48, 1},
      {"page area above", [&] { bar->triggerAction(QAbstractSlider::SliderPageStepSub); },
       48 - grid->DataLink().BufferCount(), 1},
      {"thumb to the top", [&] { DragThumb(grid, 0); }, 1, 0},
      {"thumb to the middle stays at the top", [&] { DragThumb(grid, 1); }, 1, 0},
      {"Ctrl+End", [&] { Press(grid, VK_END, TShiftState{.Ctrl = true}); }, 50, 2},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.act();
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), s.id);
    EXPECT_EQ(bar->value(), s.position);
  }
}

TEST_F(DBControlsTest, ErrorsFromTheScrollBarAndWheelGoToTheApplication) {
  OpenTable("MANY.DAT", 50);
  form->Show();
  std::vector<std::string> caught;
  Application().OnException = [&](TComponent*, const std::exception& e) { caught.push_back(e.what()); };
  TDBGrid* grid = Grid();
  QScrollBar* bar = VerticalBar(grid);
  bool fail = false;
  table->OnCalcFields = [&](TDataSet&) {
    if (fail) throw std::runtime_error("unreadable record");
  };
  struct Entry {
    const char* name;
    std::function<void()> act;
  };
  // Each reads records past the window, so each meets the failing read.
  const Entry entries[] = {
      {"the bar's own bottom", [&] { bar->triggerAction(QAbstractSlider::SliderToMaximum); }},
      {"page area below", [&] { bar->triggerAction(QAbstractSlider::SliderPageStepAdd); }},
      {"thumb to the middle", [&] { DragThumb(grid, 30); }},
      {"a long wheel turn", [&] { Wheel(grid, -120 * 20); }},
  };
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.name);
    table->First();
    caught.clear();
    fail = true;
    e.act();
    fail = false;
    ASSERT_EQ(caught.size(), 1u);
    EXPECT_EQ(caught.front(), "unreadable record");
    // The grid goes on working once the records read again.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 50);
    EXPECT_EQ(bar->value(), 49);
  }
  table->OnCalcFields = nullptr;  // the form's teardown reads records after fail is gone
  Application().OnException = nullptr;
}

TEST_F(DBControlsTest, MaskedAndUpperCaseEditsWriteTheirFields) {
  table->Open();
  table->FieldByName("Born")->SetEditMask("!99/99/9999;1; ");
  form->Show();
  auto* born = new TDBEdit(*form);
  born->SetDataSource(source);
  born->SetDataField("Born");
  auto* name = new TDBEdit(*form);
  name->SetDataSource(source);
  name->SetDataField("Name");
  name->SetCharCase(TEditCharCase::ecUpperCase);
  EXPECT_EQ(born->LineEdit()->inputMask().toStdString(), "00/00/0000");  // Qt drops the default blank
  EXPECT_EQ(name->MaxLength(), 20);

  struct Case {
    const char* typed;
    const char* stored;  // the date's text after the post; empty for null
  };
  const Case cases[] = {
      {"12311999", "12/31/1999"},
      {"02292024", "2/29/2024"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    born->SetFocus();
    born->LineEdit()->setCursorPosition(0);
    born->LineEdit()->selectAll();
    testing::TypeText(c.typed);
    EXPECT_EQ(table->State(), TDataSetState::dsEdit);
    table->Post();
    EXPECT_EQ(table->FieldByName("Born")->AsString(), c.stored);
    EXPECT_EQ(born->LineEdit()->text().trimmed().toStdString().find('/') != std::string::npos, true);
  }
  // A letter is refused by the mask and by the date field.
  born->SetFocus();
  born->LineEdit()->setCursorPosition(0);
  testing::TypeText("x");
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);

  name->SetFocus();
  name->LineEdit()->selectAll();
  testing::TypeText("smith");
  EXPECT_EQ(name->Text(), "SMITH");
  born->SetFocus();  // leaving the edit writes the field
  EXPECT_EQ(table->FieldByName("Name")->AsString(), "SMITH");
  table->Post();
  EXPECT_EQ(Stored().front(), "1:SMITH");
  // Read-only: typing does not start an edit.
  name->SetReadOnly(true);
  name->SetFocus();
  testing::TypeText("q");
  EXPECT_EQ(table->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(name->Text(), "SMITH");
}

TEST_F(DBControlsTest, ComboMemoImageAndFocusControl) {
  table->Open();
  form->Show();
  auto* combo = new TDBComboBox(*form);
  combo->SetStyle(TComboBoxStyle::csDropDownList);
  combo->Items().Add("R1");
  combo->Items().Add("Picked");
  combo->SetDataSource(source);
  combo->SetDataField("Name");
  EXPECT_EQ(combo->ItemIndex(), 0);
  combo->Choose(1);
  EXPECT_EQ(table->State(), TDataSetState::dsEdit);
  table->Post();
  EXPECT_EQ(Stored().front(), "1:Picked");

  auto* memo = new TDBMemo(*form);
  memo->SetDataSource(source);
  memo->SetDataField("Notes");
  EXPECT_EQ(memo->Text(), "");
  memo->Lines().SetText("line one");  // as typed: the memo starts the edit
  EXPECT_EQ(table->State(), TDataSetState::dsEdit);
  table->Post();
  table->Refresh();
  EXPECT_EQ(table->FieldByName("Notes")->AsString(), "line one");
  table->Next();
  EXPECT_EQ(memo->Text(), "");
  table->Prior();
  EXPECT_EQ(memo->Text(), "line one");

  auto* image = new TDBImage(*form);
  image->SetDataSource(source);
  image->SetDataField("Notes");
  EXPECT_TRUE(image->Picture().Empty());  // text is no picture
  TBitmap picture;
  picture.SetSize(8, 6);
  image->LoadPicture(picture);
  EXPECT_EQ(table->State(), TDataSetState::dsEdit);
  memo->SetDataSource(nullptr);
  table->Post();
  TBitmap back;
  back.LoadFromBytes(table->FieldByName("Notes")->AsString());
  EXPECT_EQ(back.Width(), 8);

  TDBGrid* grid = Grid();
  auto* edit = new TDBEdit(*form);
  edit->SetDataSource(source);
  edit->SetDataField("ID");
  table->FieldByName("ID")->FocusControl();
  PumpIdle();
  EXPECT_TRUE(edit->Focused() || grid->Focused());
  table->FieldByName("Born")->FocusControl();  // only the grid shows Born
  PumpIdle();
  EXPECT_EQ(grid->SelectedField(), table->FieldByName("Born"));
}

}  // namespace
}  // namespace kavrin::classlib
