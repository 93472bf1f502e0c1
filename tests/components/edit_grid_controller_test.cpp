#include "components/edit_grid_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavrin::components::editgrid {
namespace {

// A string grid with one fixed column and one fixed row unless told otherwise.
class FakeGrid : public EditGridView {
 public:
  FakeGrid(int cols, int rows, int fixed_cols = 1, int fixed_rows = 1)
      : cols_(cols), fixed_cols_(fixed_cols), fixed_rows_(fixed_rows), tab_stops_(cols, true), widths_(cols, 64) {
    SetRowCount(rows);
    row_ = fixed_rows;
    col_ = fixed_cols;
  }

  int ColCount() const override { return cols_; }
  int RowCount() const override { return static_cast<int>(cells_.size()); }
  void SetRowCount(int count) override { cells_.resize(count, std::vector<std::string>(cols_)); }
  int FixedCols() const override { return fixed_cols_; }
  int FixedRows() const override { return fixed_rows_; }
  int Col() const override { return col_; }
  int Row() const override { return row_; }
  void SetCol(int col) override {
    EXPECT_TRUE(col >= fixed_cols_ && col < cols_) << "column " << col;
    col_ = col;
  }
  void SetRow(int row) override {
    EXPECT_TRUE(row >= fixed_rows_ && row < RowCount()) << "row " << row;
    row_ = row;
  }
  bool TabStop(int col) const override { return tab_stops_[col]; }
  bool GridEditable() const override { return editable; }
  std::string Cell(int col, int row) const override { return cells_.at(row).at(col); }
  void SetCell(int col, int row, const std::string& text) override { cells_.at(row).at(col) = text; }
  void ShowEditor() override { log += "[editor]"; }
  void HideEditor() override {}
  void FocusNextControl(bool forward) override { log += forward ? "[next control]" : "[previous control]"; }
  int ClientWidth() const override { return client_width; }
  int ColWidth(int col) const override { return widths_.at(col); }
  void SetColWidth(int col, int width) override {
    widths_.at(col) = width;
    ++width_changes;
  }

  void SetTabStop(int col, bool on) { tab_stops_[col] = on; }
  void SetWidths(std::vector<int> widths) { widths_ = std::move(widths); }
  const std::vector<int>& Widths() const { return widths_; }
  // The first data column of each data row, "" for an empty one: "a,b,".
  std::string Rows() const {
    std::string out;
    for (int r = fixed_rows_; r < RowCount(); ++r) out += cells_[r][fixed_cols_] + ",";
    return out;
  }
  void Fill(const std::vector<std::string>& first_column) {
    SetRowCount(fixed_rows_ + static_cast<int>(first_column.size()));
    for (std::size_t i = 0; i < first_column.size(); ++i) cells_[fixed_rows_ + i][fixed_cols_] = first_column[i];
  }

  bool editable = true;
  int client_width = 300;
  int width_changes = 0;
  std::string log;

 private:
  int cols_;
  int fixed_cols_;
  int fixed_rows_;
  std::vector<bool> tab_stops_;
  std::vector<int> widths_;
  std::vector<std::vector<std::string>> cells_;
  int col_ = 0;
  int row_ = 0;
};

// A row is empty when its first data column is.
void UseFirstColumnForEmptiness(TEditStringGridController& grid, FakeGrid& view) {
  grid.OnGetRowIsEmpty = [&view](int row, bool& empty) { empty = view.Cell(view.FixedCols(), row).empty(); };
}

struct Keystroke {
  GridKey key;
  ShiftState shift{};
};
const Keystroke kDown{GridKey::Down};
const Keystroke kUp{GridKey::Up};
const Keystroke kTab{GridKey::Tab};
const Keystroke kShiftTab{GridKey::Tab, {true, false, false}};
const Keystroke kRight{GridKey::Right};
const Keystroke kLeft{GridKey::Left};
const Keystroke kCtrlDelete{GridKey::Delete, {false, true, false}};
const Keystroke kInsert{GridKey::Insert};

struct KeyCase {
  const char* why;
  std::vector<std::string> rows;  // first data column of each data row
  int max_rows;
  int start_row;
  int start_col;
  std::vector<Keystroke> keys;
  std::string rows_after;
  int row_after;
  int col_after;
  std::string log;       // focus moves
  std::string new_rows;  // rows NewRow fired for
};

TEST(EditGridTest, KeySequences) {
  // Four columns: 0 fixed, 1 to 3 data; column 2's tab stop is off.
  const KeyCase cases[] = {
      {"MaxRows 0 appends nothing", {"a"}, 0, 1, 1, {kDown, kInsert}, "a,", 1, 1, "", ""},
      {"Down on the last row appends", {"a"}, 10, 1, 3, {kDown}, "a,,", 2, 1, "", "2 "},
      {"Down on an empty last row does not append", {"a", ""}, 10, 2, 1, {kDown}, "a,,", 2, 1, "", ""},
      {"a full grid ignores Down", {"a", "b"}, 2, 2, 1, {kDown}, "a,b,", 2, 1, "", ""},
      {"Up on an empty last row removes it", {"a", ""}, 10, 2, 1, {kUp}, "a,", 1, 1, "", ""},
      {"Up on a filled last row moves up", {"a", "b"}, 10, 2, 3, {kUp}, "a,b,", 1, 3, "", ""},
      {"Up on the first row stays", {"a"}, 10, 1, 1, {kUp}, "a,", 1, 1, "", ""},
      {"Insert puts an empty row at the current one", {"a", "b"}, 10, 2, 3, {kInsert}, "a,,b,", 2, 1, "", "2 "},
      {"Ctrl+Delete removes the row", {"a", "b", "c"}, 10, 2, 1, {kCtrlDelete}, "a,c,", 2, 1, "", ""},
      {"Ctrl+Delete on the last row moves up", {"a", "b"}, 10, 2, 1, {kCtrlDelete}, "a,", 1, 1, "", ""},
      {"Ctrl+Delete clears the only row", {"a"}, 10, 1, 1, {kCtrlDelete}, ",", 1, 1, "", ""},
      {"Tab skips a column without tab stop", {"a"}, 10, 1, 1, {kTab}, "a,", 1, 3, "", ""},
      {"Right skips it too", {"a"}, 10, 1, 1, {kRight}, "a,", 1, 3, "", ""},
      {"Tab at the end of a row wraps", {"a", "b"}, 10, 1, 3, {kTab}, "a,b,", 2, 1, "", ""},
      {"Tab at the end of the last row leaves", {"a"}, 10, 1, 3, {kTab}, "a,", 1, 3, "[next control]", ""},
      {"Right at the end of the last row stays", {"a"}, 10, 1, 3, {kRight}, "a,", 1, 3, "", ""},
      {"Shift+Tab at the first column of the first row leaves",
       {"a"},
       10,
       1,
       1,
       {kShiftTab},
       "a,",
       1,
       1,
       "[previous control]",
       ""},
      {"Shift+Tab wraps to the previous row's last column", {"a", "b"}, 10, 2, 1, {kShiftTab}, "a,b,", 1, 3, "", ""},
      {"Left skips the column without tab stop", {"a"}, 10, 1, 3, {kLeft}, "a,", 1, 1, "", ""},
      {"Shift+Tab on an empty last row removes it", {"a", ""}, 10, 2, 1, {kShiftTab}, "a,", 1, 3, "", ""},
      {"Tab round a whole grid", {"a", "b"}, 10, 1, 1, {kTab, kTab, kTab, kTab}, "a,b,", 2, 3, "[next control]", ""},
      {"typing a list", {"a"}, 10, 1, 1, {kDown, kDown}, "a,,", 2, 1, "", "2 "},
      {"Home and End do nothing",
       {"a"},
       10,
       1,
       3,
       {{GridKey::Home}, {GridKey::End, {false, true, false}}},
       "a,",
       1,
       3,
       "",
       ""},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.why);
    FakeGrid view(4, 2);
    view.SetTabStop(2, false);
    view.Fill(c.rows);
    view.SetRow(c.start_row);
    view.SetCol(c.start_col);
    TEditStringGridController grid(view);
    grid.SetMaxRows(c.max_rows);
    UseFirstColumnForEmptiness(grid, view);
    std::string new_rows;
    grid.OnNewRow = [&](int row) { new_rows += std::to_string(row) + " "; };
    for (const Keystroke& k : c.keys) EXPECT_TRUE(grid.KeyDown(k.key, k.shift));
    EXPECT_EQ(view.Rows(), c.rows_after);
    EXPECT_EQ(view.Row(), c.row_after);
    EXPECT_EQ(view.Col(), c.col_after);
    EXPECT_EQ(view.log, c.log);
    EXPECT_EQ(new_rows, c.new_rows);
  }
}

TEST(EditGridTest, VetoesStopMovesAndAVetoedNewRowGoesAgain) {
  FakeGrid view(4, 2);
  view.Fill({"a", "b"});
  TEditStringGridController grid(view);
  grid.SetMaxRows(10);
  UseFirstColumnForEmptiness(grid, view);
  int refuse_row = -1;
  grid.OnRowEnter = [&](int row, bool& can) { can = row != refuse_row; };
  bool row_may_be_left = true;
  grid.OnRowExit = [&](int, bool& can) { can = row_may_be_left; };

  refuse_row = 2;
  EXPECT_TRUE(grid.KeyDown(GridKey::Down, {}));
  EXPECT_EQ(view.Row(), 1);
  view.SetRow(2);
  refuse_row = 3;
  grid.KeyDown(GridKey::Down, {});
  EXPECT_EQ(view.Rows(), "a,b,") << "the appended row goes again when it may not be entered";
  EXPECT_EQ(view.Row(), 2);
  refuse_row = -1;
  row_may_be_left = false;
  for (GridKey key : {GridKey::Down, GridKey::Up, GridKey::Insert}) grid.KeyDown(key, {});
  view.SetRow(1);
  view.SetCol(3);
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Rows(), "a,b,");
  EXPECT_EQ(view.Row(), 1);
  EXPECT_EQ(view.Col(), 3);
  EXPECT_EQ(view.log, "") << "a row that may not be left keeps Tab too";
  bool may_delete = false;
  grid.OnCanDeleteRow = [&](int, bool& can) { can = may_delete; };
  grid.KeyDown(GridKey::Delete, {false, true, false});
  EXPECT_EQ(view.Rows(), "a,b,");
}

TEST(EditGridTest, OnColEnterCanAllowAColumnWithoutTabStop) {
  FakeGrid view(4, 2);
  view.SetTabStop(2, false);
  view.Fill({"a"});
  TEditStringGridController grid(view);
  grid.OnColEnter = [](int col, bool& can) { can = can || col == 2; };
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Col(), 2);
  grid.OnColEnter = [](int col, bool& can) { can = can && col != 3; };
  view.SetCol(1);
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Col(), 1) << "column 1 is now the last enterable one";
  EXPECT_EQ(view.log, "[next control]");
}

TEST(EditGridTest, ShiftTabLeavesWhenNoColumnLeftOfTheCursorCanBeEntered) {
  FakeGrid view(4, 2);
  view.SetTabStop(1, false);
  view.Fill({"a"});
  view.SetCol(2);
  TEditStringGridController grid(view);
  grid.KeyDown(GridKey::Left, {});
  EXPECT_EQ(view.Col(), 2);
  EXPECT_EQ(view.log, "");
  grid.KeyDown(GridKey::Tab, {true, false, false});
  EXPECT_EQ(view.log, "[previous control]");
}

TEST(EditGridTest, CursorRightOfTheLastEnterableColumn) {
  FakeGrid view(5, 2);
  view.SetTabStop(3, false);
  view.SetTabStop(4, false);
  view.Fill({"a", "b"});
  TEditStringGridController grid(view);
  view.SetRow(2);
  view.SetCol(3);
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Col(), 2) << "back to the last enterable column on the last row";
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.log, "[next control]");
  view.SetRow(1);
  view.SetCol(3);
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Row(), 2);
  EXPECT_EQ(view.Col(), 1);
  grid.OnRowEnter = [](int, bool& can) { can = false; };
  view.SetRow(1);
  view.SetCol(3);
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Col(), 4) << "one column to the right";
  grid.KeyDown(GridKey::Tab, {});
  EXPECT_EQ(view.Col(), 4) << "never past the last column";
}

TEST(EditGridTest, GridThatIsNotEditableJustMoves) {
  FakeGrid view(4, 2);
  view.SetTabStop(2, false);
  view.Fill({"a", "", ""});
  view.editable = false;
  TEditStringGridController grid(view);
  grid.SetMaxRows(10);
  UseFirstColumnForEmptiness(grid, view);
  grid.OnRowExit = [](int, bool& can) { can = false; };
  grid.KeyDown(GridKey::Right, {});
  EXPECT_EQ(view.Col(), 2) << "one column right, tab stop or not";
  grid.KeyDown(GridKey::Down, {});
  grid.KeyDown(GridKey::Down, {});
  grid.KeyDown(GridKey::Down, {});
  EXPECT_EQ(view.Row(), 3);
  EXPECT_EQ(view.Rows(), "a,,,");
  grid.KeyDown(GridKey::Up, {});
  EXPECT_EQ(view.Rows(), "a,,,") << "Up removes nothing";
  EXPECT_EQ(view.Row(), 2);
  view.SetCol(1);
  grid.KeyDown(GridKey::Left, {});
  EXPECT_EQ(view.Row(), 1);
  EXPECT_EQ(view.Col(), 3);
  EXPECT_FALSE(grid.KeyDown(GridKey::Delete, {false, true, false}));
  EXPECT_FALSE(grid.KeyDown(GridKey::Other, {}));
}

TEST(EditGridTest, ArrowsKeepTheNearestEnterableColumnAtOrLeftOfTheCursor) {
  FakeGrid view(4, 2);
  view.Fill({"a", "b"});
  view.SetRow(2);
  view.SetCol(2);
  TEditStringGridController grid(view);
  view.SetTabStop(2, false);
  grid.KeyDown(GridKey::Up, {});
  EXPECT_EQ(view.Row(), 1);
  EXPECT_EQ(view.Col(), 1);
}

TEST(EditGridTest, LeavingTheGridRemovesAnEmptyLastRowAndValidates) {
  FakeGrid view(4, 2);
  view.Fill({"a", ""});
  view.SetRow(2);
  TEditStringGridController grid(view);
  UseFirstColumnForEmptiness(grid, view);
  EXPECT_EQ(grid.FocusExit(), FocusExitAnswer::Let);
  EXPECT_EQ(view.Rows(), "a,");
  EXPECT_EQ(view.Row(), 1);

  FakeGrid single(4, 2);
  TEditStringGridController only(single);
  UseFirstColumnForEmptiness(only, single);
  EXPECT_TRUE(only.IsGridEmpty());
  EXPECT_TRUE(only.ValidateGrid());
  EXPECT_EQ(single.Rows(), ",");

  FakeGrid filled(4, 2);
  filled.Fill({"a", ""});
  filled.SetRow(2);
  TEditStringGridController check(filled);
  UseFirstColumnForEmptiness(check, filled);
  std::vector<int> refused_columns{3};
  check.OnColExit = [&](int col, bool& can) { can = col != refused_columns.front(); };
  EXPECT_FALSE(check.ValidateGrid()) << "the empty row went; the row before it fails a column";
  EXPECT_EQ(filled.Rows(), "a,");
  refused_columns = {-1};
  EXPECT_TRUE(check.ValidateGrid());
}

TEST(EditGridTest, RefusedFocusChangesDoNotLoop) {
  FakeGrid view(4, 2);
  view.Fill({"a"});
  TEditStringGridController grid(view);
  UseFirstColumnForEmptiness(grid, view);
  int errors = 0;
  grid.OnRowExit = [&](int, bool& can) {
    ++errors;  // the application shows its error box here
    can = false;
  };
  EXPECT_EQ(grid.FocusExit(), FocusExitAnswer::TakeBack);
  EXPECT_EQ(grid.FocusEnter(), FocusEnterAnswer::Stay) << "the focus that came back asks nothing";
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(grid.FocusExit(), FocusExitAnswer::TakeBack) << "the next try asks again";
  EXPECT_EQ(errors, 2);

  grid.OnRowExit = nullptr;
  grid.OnRowEnter = [](int, bool& can) { can = false; };
  EXPECT_EQ(grid.FocusEnter(), FocusEnterAnswer::Stay) << "the skip left from the refused exit";
  EXPECT_EQ(grid.FocusEnter(), FocusEnterAnswer::GiveBack);
  EXPECT_EQ(grid.FocusExit(), FocusExitAnswer::Let) << "the focus that went back asks nothing";
}

TEST(EditGridTest, FocusEnterGoesToTheFirstEnterableColumn) {
  FakeGrid view(4, 2);
  view.SetTabStop(1, false);
  view.Fill({"a"});
  view.SetCol(3);
  TEditStringGridController grid(view);
  EXPECT_EQ(grid.FocusEnter(), FocusEnterAnswer::Stay);
  EXPECT_EQ(view.Col(), 2);
}

TEST(EditGridTest, FirstRowStartsOnceWhenTypedIntoOrStarted) {
  FakeGrid view(4, 2);
  TEditStringGridController grid(view);
  UseFirstColumnForEmptiness(grid, view);
  std::vector<int> started;
  grid.OnNewRow = [&](int row) { started.push_back(row); };
  grid.KeyPress(U'\t');
  EXPECT_TRUE(started.empty());
  grid.KeyPress(U'x');
  grid.StartFirstRow();
  EXPECT_EQ(started, (std::vector<int>{1, 1}));
  view.SetCell(1, 1, "x");
  grid.KeyPress(U'y');
  grid.StartFirstRow();
  EXPECT_EQ(started.size(), 2u);
  view.editable = false;
  view.SetCell(1, 1, "");
  grid.KeyPress(U'x');
  EXPECT_EQ(started.size(), 2u);
}

TEST(EditGridTest, MouseClicks) {
  const struct {
    const char* why;
    bool editable;
    bool may_leave;
    int col, row;
    bool double_click;
    int col_after, row_after;
    std::string log;
    MouseAnswer answer;
  } cases[] = {
      {"fixed cell", true, true, 0, 2, false, 1, 1, "", MouseAnswer::PassToGrid},
      {"current cell", true, true, 1, 1, false, 1, 1, "", MouseAnswer::Handled},
      {"double click on the current cell", true, true, 1, 1, true, 1, 1, "[editor]", MouseAnswer::Handled},
      {"double click, not editable", false, true, 1, 1, true, 1, 1, "", MouseAnswer::Handled},
      {"other column", true, true, 3, 1, false, 3, 1, "", MouseAnswer::Handled},
      {"other column, may not leave", true, false, 3, 1, false, 1, 1, "", MouseAnswer::Handled},
      {"other column, not editable", false, false, 3, 1, false, 3, 1, "", MouseAnswer::Handled},
      {"other row", true, true, 2, 2, false, 2, 2, "", MouseAnswer::Handled},
      {"other row, may not leave", true, false, 2, 2, false, 1, 1, "", MouseAnswer::Handled},
      {"other row, not editable", false, false, 2, 2, false, 2, 2, "", MouseAnswer::Handled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    FakeGrid view(4, 3);
    view.editable = c.editable;
    TEditStringGridController grid(view);
    grid.OnColExit = [&](int, bool& can) { can = c.may_leave; };
    EXPECT_EQ(grid.MouseDown(c.col, c.row, c.double_click), c.answer);
    EXPECT_EQ(view.Col(), c.col_after);
    EXPECT_EQ(view.Row(), c.row_after);
    EXPECT_EQ(view.log, c.log);
  }
}

TEST(EditGridTest, FittingColumnsToTheViewport) {
  const struct {
    const char* why;
    std::vector<int> widths;
    int columns_to_fit;
    int client;
    std::vector<int> after;
  } cases[] = {
      {"five of 50 in 300 widen the fifth to 95", {50, 50, 50, 50, 50}, 5, 300, {50, 50, 50, 50, 95}},
      {"already fitting", {50, 50, 50, 50, 45}, 5, 250, {50, 50, 50, 50, 45}},
      {"too wide: the last narrows", {50, 50, 50, 50, 50}, 5, 235, {50, 50, 50, 50, 30}},
      {"much too wide: narrow columns go to 0", {50, 50, 50, 10, 10}, 5, 120, {50, 50, 15, 0, 0}},
      {"only the first three", {50, 50, 50, 50, 50}, 3, 200, {50, 50, 97, 50, 50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    FakeGrid view(5, 2);
    view.SetWidths(c.widths);
    view.client_width = c.client;
    TEditStringGridController grid(view);
    EXPECT_EQ(grid.ColumnsToFit(), 5);
    grid.SetColumnsToFit(c.columns_to_fit);
    EXPECT_EQ(view.Widths(), c.widths) << "nothing happens before FitColumns";
    grid.SetFitColumns(true);
    EXPECT_EQ(view.Widths(), c.after);
  }
}

TEST(EditGridTest, FittingWaitsForLoadingAndTakesOnlyValidCounts) {
  FakeGrid view(5, 2);
  view.SetWidths({50, 50, 50, 50, 50});
  TEditStringGridController grid(view);
  grid.SetLoading(true);
  grid.SetFitColumns(true);
  EXPECT_EQ(view.width_changes, 0);
  grid.Loaded();
  EXPECT_EQ(view.Widths()[4], 95);
  for (int bad : {0, -1, 6}) {
    grid.SetColumnsToFit(bad);
    EXPECT_EQ(grid.ColumnsToFit(), 5) << bad;
  }
  view.client_width = 400;
  grid.Fit();
  EXPECT_EQ(view.Widths()[4], 195);
  EXPECT_EQ(view.width_changes, 2) << "one width set per fitting";
}

TEST(EditGridTest, CellPlansAndTextPositions) {
  FakeGrid view(3, 2);
  view.SetCell(1, 1, "stored");
  view.SetCell(1, 0, "Name");
  TEditStringGridController grid(view);
  grid.OnGetDisplayText = [](int, int, std::string& text) { text = "<" + text + ">"; };
  grid.OnGetTextAlignment = [](int col, TAlignment& a) {
    if (col == 2) a = TAlignment::taRightJustify;
  };
  grid.OnGetColor = [](int col, int row, TColor& color) {
    if (col == 2 && row == 1) color = 0xFF;
  };
  const CellPlan data = grid.PlanCell(1, 1, true, true, 0xFFFFFF, 0xC0C0C0);
  EXPECT_EQ(data.text, "<stored>");
  EXPECT_EQ(data.color, 0xFFFFFFu);
  EXPECT_TRUE(data.highlighted);
  const CellPlan fixed = grid.PlanCell(1, 0, false, true, 0xFFFFFF, 0xC0C0C0);
  EXPECT_EQ(fixed.text, "Name") << "fixed cells show their own text";
  EXPECT_EQ(fixed.color, 0xC0C0C0u);
  const CellPlan coloured = grid.PlanCell(2, 1, true, false, 0xFFFFFF, 0xC0C0C0);
  EXPECT_EQ(coloured.color, 0xFFu);
  EXPECT_EQ(coloured.alignment, TAlignment::taRightJustify);
  EXPECT_FALSE(coloured.highlighted) << "no highlight without the focus";

  EXPECT_EQ(TEditStringGridController::TextLeft(100, 200, 30, 7, TAlignment::taLeftJustify), 107);
  EXPECT_EQ(TEditStringGridController::TextLeft(100, 200, 30, 7, TAlignment::taRightJustify), 163);
  EXPECT_EQ(TEditStringGridController::TextLeft(100, 200, 30, 7, TAlignment::taCenter), 135);
  EXPECT_EQ(TEditStringGridController::TextTop(40), 42);
}

}  // namespace
}  // namespace kavrin::components::editgrid
