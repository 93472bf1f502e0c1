// The string grid: cells and objects, fixed rows and columns, geometry, navigation and tab stops, the
// in-place editor, DrawCell overrides, row operations and dragging a row by its fixed column.
#include "classlib/widgets/grids.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include "classlib/widgets/grid_cells.h"
#include "classlib/widgets/std_controls.h"
#include "tests/classlib/widgets/widget_test_support.h"

namespace kavrin::classlib {
namespace {

using testing::PressKey;
using testing::PumpIdle;
using testing::PumpUntil;
using testing::SendMouse;
using testing::TypeText;

TItemObject Tagged(std::intptr_t n) { return reinterpret_cast<TItemObject>(n); }

TEST(GridCells, RowOperationsCarryTextsAndObjects) {
  TGridCells cells;
  cells.Resize(3, 4);
  for (int r = 0; r < 4; ++r) {
    cells.SetText(0, r, "row" + std::to_string(r));
    cells.SetObject(2, r, Tagged(r + 10));
  }
  cells.MoveRow(3, 1);  // dropping row 3 on row 1
  EXPECT_EQ(cells.Text(0, 1), "row3");
  EXPECT_EQ(cells.Text(0, 2), "row1");
  EXPECT_EQ(cells.Text(0, 3), "row2");
  EXPECT_EQ(cells.Object(2, 1), Tagged(13));
  cells.InsertRow(1);
  EXPECT_EQ(cells.RowCount(), 5);
  EXPECT_EQ(cells.Text(0, 1), "");
  EXPECT_EQ(cells.Object(2, 1), nullptr);
  cells.DeleteRow(0);
  EXPECT_EQ(cells.Text(0, 1), "row3");
  cells.ClearRow(1);
  EXPECT_EQ(cells.Object(2, 1), nullptr);
  EXPECT_EQ(cells.Text(5, 5), "");  // outside: empty, never a crash
  EXPECT_THROW(cells.SetText(3, 0, "x"), std::out_of_range);
  EXPECT_THROW(cells.MoveRow(0, 9), std::out_of_range);
  cells.Resize(2, 2);
  EXPECT_EQ(cells.ColCount(), 2);
}

// A grid that draws its own cells and logs what it was asked.
class LoggingGrid : public TStringGrid {
 public:
  using TStringGrid::TStringGrid;
  std::vector<std::string> drawn;
  std::vector<std::pair<int, int>> moved;
  bool acceptDigitsOnly = false;
  void DrawCell(int col, int row, const TRect& rect, TGridDrawState state) override {
    std::string s = std::to_string(col) + "," + std::to_string(row);
    if (state.Has(TGridDrawStateItem::gdFixed)) s += " fixed";
    if (state.Has(TGridDrawStateItem::gdSelected)) s += " selected";
    drawn.push_back(s);
    TStringGrid::DrawCell(col, row, rect, state);
  }
  bool CanEditAcceptKey(char key) override { return !acceptDigitsOnly || (key >= '0' && key <= '9'); }
  void RowMoved(int from, int to) override {
    moved.emplace_back(from, to);
    TStringGrid::RowMoved(from, to);
  }
};

class GridTest : public testing::WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    form = TForm::Create<TForm>(&Application());
    form->SetBounds(0, 0, 600, 400);
    grid = new LoggingGrid(*form);
    grid->SetBounds(10, 10, 400, 200);
    grid->SetColCount(4);
    grid->SetRowCount(6);
    grid->SetDefaultRowHeight(20);
    form->Show();
  }
  void TearDown() override {
    ClearEvents();
    Free(form);
    WidgetTest::TearDown();
  }
  void FocusGrid() {
    grid->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return grid->Focused(); }));
  }
  TForm* form = nullptr;
  LoggingGrid* grid = nullptr;
};

TEST_F(GridTest, GeometryOfFixedAndScrolledCells) {
  grid->SetColWidths(0, 30);
  grid->SetColWidths(1, 100);
  EXPECT_EQ(grid->CellRect(0, 0), Bounds(0, 0, 30, 20));
  EXPECT_EQ(grid->CellRect(1, 0), Bounds(31, 0, 100, 20));  // one pixel of grid line between
  EXPECT_EQ(grid->CellRect(2, 3), Bounds(132, 63, 64, 20));
  struct Case {
    int x, y, col, row;
  };
  const Case cases[] = {{0, 0, 0, 0},   {30, 19, 0, 0},  {31, 20, 1, 0},
                        {31, 21, 1, 1}, {140, 70, 2, 3}, {5, 5000, 0, -1}};
  for (const auto& c : cases) {
    int col = -2, row = -2;
    grid->MouseToCell(c.x, c.y, col, row);
    EXPECT_EQ(col, c.col) << c.x << "," << c.y;
    EXPECT_EQ(row, c.row) << c.x << "," << c.y;
  }
  grid->SetTopRow(3);
  EXPECT_EQ(grid->CellRect(1, 1), TRect{});                  // scrolled away
  EXPECT_EQ(grid->CellRect(1, 3), Bounds(31, 21, 100, 20));  // right under the fixed row
  EXPECT_EQ(grid->CellRect(1, 0), Bounds(31, 0, 100, 20));   // fixed rows stay
}

TEST_F(GridTest, ColumnSizingDragsTheRightEdgeOfAColumnInTheFixedRow) {
  grid->SetOptions({TGridOption::goColSizing});
  grid->SetColWidths(1, 80);
  QWidget* vp = grid->MouseWidget();
  const TRect title = grid->CellRect(1, 0);
  const QPoint edge(title.Right, title.Top + 5);
  SendMouse(vp, QEvent::MouseButtonPress, edge);
  SendMouse(vp, QEvent::MouseMove, edge + QPoint(20, 0), Qt::NoButton);
  SendMouse(vp, QEvent::MouseButtonRelease, edge + QPoint(20, 0), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(grid->ColWidths(1), 100);
  // A press inside a data cell sizes nothing and moves the current cell.
  const TRect cell = grid->CellRect(2, 2);
  SendMouse(vp, QEvent::MouseButtonPress, QPoint(cell.Left + 3, cell.Top + 3));
  SendMouse(vp, QEvent::MouseMove, QPoint(cell.Left + 30, cell.Top + 3), Qt::NoButton);
  SendMouse(vp, QEvent::MouseButtonRelease, QPoint(cell.Left + 30, cell.Top + 3), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(grid->ColWidths(1), 100);
  EXPECT_EQ(grid->ColWidths(2), 64);
  EXPECT_EQ(grid->Col(), 2);
  EXPECT_EQ(grid->Row(), 2);
}

TEST_F(GridTest, CellsObjectsAndDrawCellStates) {
  grid->SetCells(1, 1, "Name");
  grid->SetObjects(3, 1, Tagged(7));
  EXPECT_EQ(grid->Cells(1, 1), "Name");
  EXPECT_EQ(grid->Objects(3, 1), Tagged(7));
  EXPECT_THROW(grid->SetCells(9, 1, "x"), std::out_of_range);
  grid->SetOptions({TGridOption::goRowSelect, TGridOption::goVertLine});
  FocusGrid();
  grid->drawn.clear();
  grid->MouseWidget()->grab();
  auto has = [&](const std::string& s) {
    return std::find(grid->drawn.begin(), grid->drawn.end(), s) != grid->drawn.end();
  };
  EXPECT_TRUE(has("0,0 fixed"));
  EXPECT_TRUE(has("0,1 fixed"));
  EXPECT_TRUE(has("1,1 selected"));
  EXPECT_TRUE(has("3,1 selected"));  // the whole row
  EXPECT_TRUE(has("1,2"));
}

TEST_F(GridTest, KeysMoveTheCurrentCellAndTabFollowsTabStops) {
  grid->SetOptions({TGridOption::goTabs, TGridOption::goEditing});
  grid->SetTabStops(2, false);
  FocusGrid();
  int vetoed = 0;
  grid->OnSelectCell = [&](TComponent*, int, int row, bool& can) {
    if (row == 5) {
      can = false;
      ++vetoed;
    }
  };
  struct Step {
    int key;
    Qt::KeyboardModifiers mods;
    int col, row;
  };
  const Step steps[] = {
      {Qt::Key_Down, Qt::NoModifier, 1, 2},     {Qt::Key_Right, Qt::NoModifier, 2, 2},
      {Qt::Key_Left, Qt::NoModifier, 1, 2},     {Qt::Key_Tab, Qt::NoModifier, 3, 2},  // column 2 skipped
      {Qt::Key_Tab, Qt::NoModifier, 1, 3},      {Qt::Key_Backtab, Qt::ShiftModifier, 3, 2},
      {Qt::Key_End, Qt::ControlModifier, 3, 2},  // row 5 refused by OnSelectCell
      {Qt::Key_Down, Qt::NoModifier, 3, 3},     {Qt::Key_Down, Qt::NoModifier, 3, 4},
      {Qt::Key_Down, Qt::NoModifier, 3, 4},     {Qt::Key_Home, Qt::NoModifier, 1, 4},
  };
  for (const auto& s : steps) {
    PressKey(nullptr, s.key, QString(), s.mods);
    EXPECT_EQ(grid->Col(), s.col) << s.key;
    EXPECT_EQ(grid->Row(), s.row) << s.key;
  }
  EXPECT_EQ(vetoed, 2);
}

TEST_F(GridTest, TabReachesTheGridAndLeavesItWithoutGoTabs) {
  auto* first = new TEdit(*form);
  first->SetBounds(10, 220, 100, 24);
  auto* second = new TEdit(*form);
  second->SetBounds(10, 250, 100, 24);
  first->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return first->Focused(); }));
  // Creation order is the tab order: the grid comes first, so Tab wraps round to it.
  for (TWinControl* next :
       {static_cast<TWinControl*>(second), static_cast<TWinControl*>(grid), static_cast<TWinControl*>(first)}) {
    PressKey(nullptr, Qt::Key_Tab, "\t");
    EXPECT_TRUE(PumpUntil([&] { return next->Focused(); })) << next->Name();
  }
}

TEST_F(GridTest, TheInPlaceEditorEditsForwardsGridKeysAndEscRestores) {
  grid->SetOptions({TGridOption::goEditing, TGridOption::goTabs});
  grid->SetCells(1, 1, "old");
  std::vector<std::string> set;
  grid->OnSetEditText = [&](TComponent*, int, int, const std::string& v) { set.push_back(v); };
  FocusGrid();
  TypeText("n");  // a typed character opens the editor with it
  ASSERT_TRUE(grid->EditorMode());
  ASSERT_EQ(QApplication::focusWidget(), grid->InplaceEditor());
  TypeText("ew");
  EXPECT_EQ(grid->Cells(1, 1), "new");
  EXPECT_EQ(set.back(), "new");
  // Left inside the text moves the caret; at the start it goes to the grid.
  PressKey(nullptr, Qt::Key_Left);
  EXPECT_EQ(grid->Col(), 1);
  PressKey(nullptr, Qt::Key_Down);  // Down always goes to the grid
  EXPECT_EQ(grid->Row(), 2);
  EXPECT_FALSE(grid->EditorMode());
  // F2 opens the editor on the current text; Esc puts the old text back.
  grid->SetCells(1, 2, "keep");
  PressKey(nullptr, Qt::Key_F2);
  ASSERT_TRUE(grid->EditorMode());
  grid->InplaceEditor()->selectAll();
  TypeText("zz");
  EXPECT_EQ(grid->Cells(1, 2), "zz");
  PressKey(nullptr, Qt::Key_Escape);
  EXPECT_EQ(grid->Cells(1, 2), "keep");
  EXPECT_FALSE(grid->EditorMode());
  // The key check of the grid: refused characters never reach the text.
  grid->acceptDigitsOnly = true;
  PressKey(nullptr, Qt::Key_F2);
  grid->InplaceEditor()->selectAll();
  TypeText("a1b2");
  EXPECT_EQ(grid->Cells(1, 2), "12");
}

TEST_F(GridTest, RowOperationsAndDraggingARowByItsFixedColumn) {
  for (int r = 1; r < 6; ++r) {
    grid->SetCells(0, r, std::to_string(r));
    grid->SetCells(1, r, "field" + std::to_string(r));
  }
  grid->InsertRow(2);
  EXPECT_EQ(grid->RowCount(), 7);
  EXPECT_EQ(grid->Cells(1, 3), "field2");
  grid->DeleteRow(2);
  EXPECT_EQ(grid->Cells(1, 2), "field2");
  grid->MoveRow(3, 1);
  EXPECT_EQ(grid->moved, (std::vector<std::pair<int, int>>{{3, 1}}));
  EXPECT_EQ(grid->Cells(1, 1), "field3");
  EXPECT_EQ(grid->Cells(1, 2), "field1");
  // A row's height goes with it; the rows it passes each move up one.
  for (int r = 1; r < 6; ++r) grid->SetRowHeights(r, 10 + r);
  grid->MoveRow(1, 4);
  EXPECT_EQ(grid->Cells(1, 4), "field3");
  EXPECT_EQ((std::vector<int>{grid->RowHeights(1), grid->RowHeights(2), grid->RowHeights(3), grid->RowHeights(4)}),
            (std::vector<int>{12, 13, 14, 11}));
  grid->MoveRow(4, 1);
  for (int r = 1; r < 6; ++r) grid->SetRowHeights(r, grid->DefaultRowHeight());

  // A drag that starts in column 0 and drops on another row, as the structure editor moves fields.
  int dragRow = -1;
  std::vector<std::string> drops;
  grid->OnMouseDown = [&](TComponent*, TMouseButton, TShiftState, int x, int y) {
    int col, row;
    grid->MouseToCell(x, y, col, row);
    if (col == 0 && row >= 1) {
      dragRow = row;
      grid->BeginDrag(false);
    }
  };
  grid->OnDragOver = [&](TComponent*, TControl* source, int x, int y, TDragState, bool& accept) {
    int col, row;
    grid->MouseToCell(x, y, col, row);
    accept = source == grid && col == 0 && row >= 1 && row != dragRow;
  };
  grid->OnDragDrop = [&](TComponent*, TControl*, int x, int y) {
    int col, row;
    grid->MouseToCell(x, y, col, row);
    grid->MoveRow(dragRow, row);
    drops.push_back(std::to_string(dragRow) + "->" + std::to_string(row));
  };
  PumpIdle();
  QWidget* vp = grid->MouseWidget();
  const TRect from = grid->CellRect(0, 4);
  const TRect to = grid->CellRect(0, 2);
  const QPoint start(from.Left + 5, from.Top + 5);
  SendMouse(vp, QEvent::MouseButtonPress, start);
  SendMouse(vp, QEvent::MouseMove, start + QPoint(0, -8), Qt::NoButton);
  const QPoint end(to.Left + 5, to.Top + 5);
  SendMouse(vp, QEvent::MouseMove, end, Qt::NoButton);
  SendMouse(vp, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(drops, (std::vector<std::string>{"4->2"}));
  EXPECT_EQ(grid->Cells(1, 2), "field4");
}

}  // namespace
}  // namespace kavrin::classlib
