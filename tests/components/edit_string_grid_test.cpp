// The editable grid on a shown form between two edits, driven by real key and mouse events.
#include "components/edit_string_grid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <string>
#include <vector>

#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/form.h"
#include "classlib/widgets/std_controls.h"
#include "tests/classlib/widgets/widget_test_support.h"

namespace kavrin::components::editgrid {
namespace {

using classlib::Application;
using classlib::TEdit;
using classlib::TForm;
using B = classlib::TMsgDlgBtn;

// Before, the grid, After: four columns, column 0 fixed, column 2 without tab stop; a row is empty when
// its first data column is.
struct GridForm {
  explicit GridForm(const std::vector<std::string>& rows) {
    form = TForm::Create<TForm>(&Application());
    form->SetBounds(0, 0, 600, 400);
    before = new TEdit(*form);
    before->SetBounds(10, 10, 100, 24);
    grid = new TEditStringGrid(*form);
    grid->SetBounds(10, 40, 400, 200);
    after = new TEdit(*form);
    after->SetBounds(10, 250, 100, 24);
    grid->SetColCount(4);
    grid->SetRowCount(1 + static_cast<int>(rows.size()));
    grid->SetTabStops(2, false);
    grid->SetOptions(grid->Options().Include(classlib::TGridOption::goEditing));
    for (std::size_t i = 0; i < rows.size(); ++i) grid->SetCells(1, 1 + static_cast<int>(i), rows[i]);
    grid->SetMaxRows(10);
    grid->OnGetRowIsEmpty = [this](int row, bool& empty) { empty = grid->Cells(1, row).empty(); };
    grid->OnNewRow = [this](int row) { new_rows += std::to_string(row) + " "; };
    form->Show();
  }
  ~GridForm() { classlib::Free(form); }

  // Puts the focus into the grid on a cell, as a click there would.
  void FocusAt(int row, int col) {
    grid->SetRow(row);
    grid->SetFocus();
    EXPECT_TRUE(testing::PumpUntil([&] { return grid->Focused(); }));
    grid->SetCol(col);
  }
  std::string Rows() const {
    std::string out;
    for (int r = 1; r < grid->RowCount(); ++r) out += grid->Cells(1, r) + ",";
    return out;
  }
  std::string FocusName() const {
    QWidget* w = QApplication::focusWidget();
    if (w == grid->FocusWidget() || w == grid->InplaceEditor()) return "grid";
    if (w == before->Widget()) return "before";
    if (w == after->Widget()) return "after";
    return "elsewhere";
  }

  TForm* form = nullptr;
  TEdit* before = nullptr;
  TEditStringGrid* grid = nullptr;
  TEdit* after = nullptr;
  std::string new_rows;
};

struct Key {
  Qt::Key key;
  Qt::KeyboardModifiers mods = Qt::NoModifier;
};
const Key kDown{Qt::Key_Down};
const Key kUp{Qt::Key_Up};
const Key kTab{Qt::Key_Tab};
const Key kBacktab{Qt::Key_Backtab, Qt::ShiftModifier};
const Key kRight{Qt::Key_Right};
const Key kLeft{Qt::Key_Left};
const Key kCtrlDelete{Qt::Key_Delete, Qt::ControlModifier};
const Key kInsert{Qt::Key_Insert};
const Key kA{Qt::Key_A};
const Key kB{Qt::Key_B};

class EditGridFormTest : public testing::WidgetTest {};

TEST_F(EditGridFormTest, KeySequences) {
  const struct {
    const char* why;
    std::vector<std::string> rows;
    int row;
    int col;
    std::vector<Key> keys;
    std::string rows_after;
    int row_after;
    int col_after;
    const char* focus;
    std::string new_rows;
  } cases[] = {
      {"Down on the last row appends", {"a"}, 1, 3, {kDown}, "a,,", 2, 1, "grid", "2 "},
      {"Down on an empty last row does not append", {"a", ""}, 2, 1, {kDown}, "a,,", 2, 1, "grid", ""},
      {"Up on an empty last row removes it", {"a", ""}, 2, 1, {kUp}, "a,", 1, 1, "grid", ""},
      {"Insert puts an empty row at the current one", {"a", "b"}, 2, 3, {kInsert}, "a,,b,", 2, 1, "grid", "2 "},
      {"Ctrl+Delete removes the row", {"a", "b", "c"}, 2, 1, {kCtrlDelete}, "a,c,", 2, 1, "grid", ""},
      {"Ctrl+Delete clears the only row", {"a"}, 1, 1, {kCtrlDelete}, ",", 1, 1, "grid", ""},
      {"Tab skips the column without tab stop", {"a"}, 1, 1, {kTab}, "a,", 1, 3, "grid", ""},
      {"Right skips it too, Left comes back", {"a"}, 1, 1, {kRight, kLeft}, "a,", 1, 1, "grid", ""},
      {"Tab at the end of a row wraps", {"a", "b"}, 1, 3, {kTab}, "a,b,", 2, 1, "grid", ""},
      {"Tab at the end of the last row leaves for the next control", {"a"}, 1, 3, {kTab}, "a,", 1, 3, "after", ""},
      {"Right at the end of the last row stays", {"a"}, 1, 3, {kRight}, "a,", 1, 3, "grid", ""},
      {"Shift+Tab at the first cell leaves for the previous control",
       {"a"},
       1,
       1,
       {kBacktab},
       "a,",
       1,
       1,
       "before",
       ""},
      {"Shift+Tab wraps to the previous row's last column", {"a", "b"}, 2, 1, {kBacktab}, "a,b,", 1, 3, "grid", ""},
      {"Shift+Tab on an empty last row removes it", {"a", ""}, 2, 1, {kBacktab}, "a,", 1, 3, "grid", ""},
      {"typing a list through the editor", {""}, 1, 1, {kA, kDown, kB, kDown, kUp}, "a,b,", 2, 1, "grid", "1 2 3 "},
      {"Home does nothing", {"a"}, 1, 3, {{Qt::Key_Home}}, "a,", 1, 3, "grid", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    GridForm f(c.rows);
    f.FocusAt(c.row, c.col);
    for (const Key& k : c.keys) QTest::keyClick(QApplication::focusWidget(), k.key, k.mods);
    testing::PumpIdle(5);
    EXPECT_EQ(f.Rows(), c.rows_after);
    EXPECT_EQ(f.grid->Row(), c.row_after);
    EXPECT_EQ(f.grid->Col(), c.col_after);
    EXPECT_EQ(f.FocusName(), c.focus);
    EXPECT_EQ(f.new_rows, c.new_rows);
  }
}

TEST_F(EditGridFormTest, MaxRowsZeroAppendsAndInsertsNothingFromTheKeyboard) {
  GridForm f({"a"});
  f.grid->SetMaxRows(0);
  f.FocusAt(1, 1);
  for (Key k : {kDown, kInsert}) QTest::keyClick(QApplication::focusWidget(), k.key, k.mods);
  EXPECT_EQ(f.Rows(), "a,");
  EXPECT_EQ(f.new_rows, "");
}

TEST_F(EditGridFormTest, ARowCheckShowsItsErrorBoxOnceWhenTheGridIsLeft) {
  GridForm f({"good", "bad"});
  int checks = 0;
  f.grid->OnRowExit = [&](int row, bool& can_exit) {
    ++checks;
    if (f.grid->Cells(1, row) != "bad") return;
    classlib::MessageDlg("Row " + std::to_string(row) + " is not complete.", classlib::TMsgDlgType::mtError, {B::mbOK});
    can_exit = false;
  };
  f.FocusAt(2, 1);
  {
    testing::GTestScriptedUi ui;
    ui.ExpectMessage(classlib::TMsgDlgType::mtError, "Row 2 is not complete.", {B::mbOK}, classlib::mrOk);
    QTest::mouseClick(f.after->Widget(), Qt::LeftButton);
    testing::PumpIdle();
    EXPECT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(f.FocusName(), "grid");
    EXPECT_EQ(f.form->ActiveControl(), f.grid);
    EXPECT_EQ(f.grid->Row(), 2);
  }
  EXPECT_EQ(checks, 1);
  // Once the row is fixed the grid lets the focus go, without a box.
  f.grid->SetCells(1, 2, "fixed");
  testing::GTestScriptedUi quiet;
  QTest::mouseClick(f.after->Widget(), Qt::LeftButton);
  testing::PumpIdle();
  EXPECT_EQ(f.FocusName(), "after");
  EXPECT_EQ(quiet.Messages().size(), 0u);
}

TEST_F(EditGridFormTest, ARowThatMayNotBeEnteredGivesTheFocusBack) {
  GridForm f({"a"});
  int asked = 0;
  f.grid->OnRowEnter = [&](int, bool& can) {
    ++asked;
    can = false;
  };
  f.before->SetFocus();
  ASSERT_TRUE(testing::PumpUntil([&] { return f.FocusName() == "before"; }));
  QTest::keyClick(f.before->Widget(), Qt::Key_Tab);
  testing::PumpIdle();
  EXPECT_EQ(f.FocusName(), "before");
  EXPECT_EQ(f.form->ActiveControl(), f.before);
  EXPECT_EQ(asked, 1);
  // Allowed again, the grid takes the focus on its first enterable column.
  f.grid->OnRowEnter = nullptr;
  f.grid->SetCol(3);
  QTest::keyClick(f.before->Widget(), Qt::Key_Tab);
  testing::PumpIdle();
  EXPECT_EQ(f.FocusName(), "grid");
  EXPECT_EQ(f.grid->Col(), 1);
}

TEST_F(EditGridFormTest, LeavingTheGridRemovesAnEmptyLastRow) {
  GridForm f({"a", ""});
  f.FocusAt(2, 1);
  QTest::mouseClick(f.after->Widget(), Qt::LeftButton);
  testing::PumpIdle();
  EXPECT_EQ(f.FocusName(), "after");
  EXPECT_EQ(f.Rows(), "a,");
  EXPECT_TRUE(f.grid->ValidateGrid());
}

TEST_F(EditGridFormTest, AClickMovesOnlyWhereTheEventsAllow) {
  GridForm f({"a", "b"});
  f.grid->SetDefaultRowHeight(24);
  f.FocusAt(1, 1);
  f.grid->OnRowEnter = [](int row, bool& can) { can = row != 2; };
  const classlib::TRect cell = f.grid->CellRect(3, 2);
  QTest::mouseClick(f.grid->MouseWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(cell.Left + 5, cell.Top + 5));
  EXPECT_EQ(f.grid->Row(), 1);
  f.grid->OnRowEnter = nullptr;
  QTest::mouseClick(f.grid->MouseWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(cell.Left + 5, cell.Top + 5));
  EXPECT_EQ(f.grid->Row(), 2);
  EXPECT_EQ(f.grid->Col(), 3);
  // A double-click on the current cell opens the editor, unless OnCanEditShow refuses.
  f.grid->OnCanEditShow = [](int, bool& can) { can = false; };
  QTest::mouseDClick(f.grid->MouseWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(cell.Left + 5, cell.Top + 5));
  EXPECT_FALSE(f.grid->EditorMode());
  f.grid->OnCanEditShow = nullptr;
  QTest::mouseDClick(f.grid->MouseWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(cell.Left + 5, cell.Top + 5));
  EXPECT_TRUE(f.grid->EditorMode());
}

TEST_F(EditGridFormTest, FiveColumnsOf50FitA300PixelViewportWithTheFifthAt95) {
  auto* form = TForm::Create<TForm>(&Application());
  form->SetBounds(0, 0, 600, 400);
  auto* grid = new TEditStringGrid(*form);
  grid->SetScrollBars(classlib::TGridScrollBars::ssNone);
  grid->SetFixedCols(0);
  grid->SetColCount(5);
  grid->SetDefaultColWidth(50);
  form->Show();
  grid->SetBounds(0, 0, 300, 150);
  testing::PumpIdle();
  // The frame around the viewport: the grid is made wider by it, so the viewport is 300.
  grid->SetWidth(300 + grid->Width() - grid->ClientWidth());
  ASSERT_TRUE(testing::PumpUntil([&] { return grid->ClientWidth() == 300; }));
  EXPECT_EQ(grid->GridLineWidth(), 1);
  grid->SetColumnsToFit(5);
  grid->SetFitColumns(true);
  std::vector<int> widths;
  for (int c = 0; c < 5; ++c) widths.push_back(grid->ColWidths(c));
  EXPECT_EQ(widths, (std::vector<int>{50, 50, 50, 50, 95}));
  // A wider viewport widens the fifth column again.
  grid->SetWidth(grid->Width() + 20);
  ASSERT_TRUE(testing::PumpUntil([&] { return grid->ColWidths(4) == 115; }));
  // A changed width of another column is taken from the last one.
  grid->SetColWidths(0, 70);
  EXPECT_EQ(grid->ColWidths(4), 95);
  classlib::Free(form);
}

}  // namespace
}  // namespace kavrin::components::editgrid
