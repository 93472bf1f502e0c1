#include "components/edit_grid_controller.h"

#include <algorithm>

namespace kavrin::components::editgrid {

namespace {

bool NoModifier(ShiftState s) { return !s.shift && !s.ctrl && !s.alt; }
bool OnlyShift(ShiftState s) { return s.shift && !s.ctrl && !s.alt; }
bool OnlyCtrl(ShiftState s) { return s.ctrl && !s.shift && !s.alt; }

// Fitting sets column widths, which asks for a fitting again.
class FittingGuard {
 public:
  explicit FittingGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FittingGuard() { flag_ = false; }
  FittingGuard(const FittingGuard&) = delete;
  FittingGuard& operator=(const FittingGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

TEditStringGridController::TEditStringGridController(EditGridView& view)
    : view_(view), columns_to_fit_(view.ColCount()) {}

bool TEditStringGridController::CanColEnter(int col) {
  bool can = view_.TabStop(col);
  if (OnColEnter) OnColEnter(col, can);
  return can;
}

bool TEditStringGridController::CanColExit(int col) {
  bool can = true;
  if (OnColExit) OnColExit(col, can);
  return can;
}

bool TEditStringGridController::CanRowEnter(int row) {
  bool can = true;
  if (OnRowEnter) OnRowEnter(row, can);
  return can;
}

bool TEditStringGridController::CanRowExit(int row) {
  bool can = true;
  if (OnRowExit) OnRowExit(row, can);
  return can;
}

void TEditStringGridController::NewRow(int row) {
  if (OnNewRow) OnNewRow(row);
}

TAlignment TEditStringGridController::GetTextAlignment(int col) {
  TAlignment alignment = TAlignment::taLeftJustify;
  if (OnGetTextAlignment) OnGetTextAlignment(col, alignment);
  return alignment;
}

void TEditStringGridController::GetColor(int col, int row, TColor& color) {
  if (OnGetColor) OnGetColor(col, row, color);
}

void TEditStringGridController::GetDisplayText(int col, int row, std::string& text) {
  if (OnGetDisplayText) OnGetDisplayText(col, row, text);
}

bool TEditStringGridController::CanDeleteRow(int row) {
  bool can = true;
  if (OnCanDeleteRow) OnCanDeleteRow(row, can);
  return can;
}

bool TEditStringGridController::RowIsEmpty(int row) {
  bool empty = false;
  if (OnGetRowIsEmpty) OnGetRowIsEmpty(row, empty);
  return empty;
}

bool TEditStringGridController::CanEditModify() {
  bool can = view_.GridEditable();
  if (OnCanEditModify) OnCanEditModify(view_.Col(), can);
  return can;
}

bool TEditStringGridController::CanEditShow(int col) {
  bool can = true;
  if (OnCanEditShow) OnCanEditShow(col, can);
  return can;
}

int TEditStringGridController::FirstRow() const { return view_.FixedRows(); }
int TEditStringGridController::LastRow() const { return view_.RowCount() - 1; }
int TEditStringGridController::FirstCol() const { return view_.FixedCols(); }
bool TEditStringGridController::RoomForRow() const { return view_.RowCount() - 1 < max_rows_; }

int TEditStringGridController::LastEnterableCol() {
  for (int col = view_.ColCount() - 1; col >= FirstCol(); --col) {
    if (view_.TabStop(col) && CanColEnter(col)) return col;
  }
  return 0;
}

std::optional<int> TEditStringGridController::FindForward(int start) {
  const int last = LastEnterableCol();
  for (int col = std::max(start, FirstCol()); col <= last; ++col) {
    if (CanColEnter(col)) return col;
  }
  return std::nullopt;
}

std::optional<int> TEditStringGridController::FindBackward(int start) {
  for (int col = std::min(start, view_.ColCount() - 1); col >= FirstCol(); --col) {
    if (CanColEnter(col)) return col;
  }
  return std::nullopt;
}

int TEditStringGridController::FirstEnterable() { return FindForward(FirstCol()).value_or(FirstCol()); }

int TEditStringGridController::LastEnterableOrFirst() { return std::max(LastEnterableCol(), FirstCol()); }

void TEditStringGridController::MoveTo(int row, int col) {
  view_.SetRow(row);
  view_.SetCol(col);
}

bool TEditStringGridController::IsGridEmpty() {
  const int row = view_.Row();
  return row == FirstRow() && LastRow() == FirstRow() && RowIsEmpty(row);
}

void TEditStringGridController::StartFirstRow() {
  if (IsGridEmpty() && CanEditModify()) NewRow(FirstRow());
}

bool TEditStringGridController::ValidateGrid() {
  if (CanEditModify() && view_.Row() == LastRow() && RowIsEmpty(view_.Row())) DeleteRow(view_.Row());
  if (view_.Row() == LastRow() && RowIsEmpty(view_.Row())) return true;
  for (int col = FirstCol(); col < view_.ColCount(); ++col) {
    if (!CanColExit(col)) return false;
  }
  return CanRowExit(view_.Row());
}

void TEditStringGridController::CopyRow(int from, int to) {
  for (int col = 0; col < view_.ColCount(); ++col) view_.SetCell(col, to, view_.Cell(col, from));
}

void TEditStringGridController::ClearRow(int row) {
  for (int col = 0; col < view_.ColCount(); ++col) view_.SetCell(col, row, std::string());
}

void TEditStringGridController::InsertRow(int at) {
  view_.SetRowCount(view_.RowCount() + 1);
  for (int row = LastRow(); row > at; --row) CopyRow(row - 1, row);
  ClearRow(at);
}

void TEditStringGridController::AppendRow() {
  view_.SetRowCount(view_.RowCount() + 1);
  ClearRow(LastRow());
}

void TEditStringGridController::DeleteRow(int row) {
  if (row < FirstRow() || row > LastRow()) return;
  if (LastRow() == FirstRow()) {
    ClearRow(row);  // the only data row stays, empty
    return;
  }
  if (row == view_.Row() && row == LastRow()) view_.SetRow(row - 1);
  for (int r = row; r < LastRow(); ++r) CopyRow(r + 1, r);
  view_.SetRowCount(view_.RowCount() - 1);
}

bool TEditStringGridController::VerticalMove(int delta) {
  const int row = view_.Row();
  const int col = view_.Col();
  const int target = row + delta;
  if (target < FirstRow() || target > LastRow()) return true;
  if (!CanEditModify()) {
    view_.SetRow(target);
    return true;
  }
  if (CanColExit(col) && CanRowExit(row) && CanRowEnter(target)) {
    view_.SetRow(target);
    view_.SetCol(FindBackward(col).value_or(col));
  }
  return true;
}

bool TEditStringGridController::TabForward(bool tab) {
  const int row = view_.Row();
  const int col = view_.Col();
  const int last = LastEnterableCol();
  if (col == last) {
    if (row == LastRow()) {
      if (tab && CanColExit(col)) view_.FocusNextControl(true);
    } else if (CanColExit(col) && CanRowExit(row) && CanRowEnter(row + 1)) {
      MoveTo(row + 1, FirstEnterable());
    }
    return true;
  }
  if (!CanEditModify()) {
    if (col + 1 < view_.ColCount()) view_.SetCol(col + 1);
    return true;
  }
  if (!CanColExit(col)) return true;
  if (const std::optional<int> next = FindForward(col + 1)) {
    view_.SetCol(*next);
    return true;
  }
  // The cursor stood right of the last enterable column.
  if (row == LastRow()) {
    view_.SetCol(std::max(last, FirstCol()));
  } else if (CanRowExit(row) && CanRowEnter(row + 1)) {
    MoveTo(row + 1, FirstEnterable());
  } else if (col + 1 < view_.ColCount()) {
    view_.SetCol(col + 1);
  }
  return true;
}

bool TEditStringGridController::TabBackward(bool tab) {
  const int row = view_.Row();
  const int col = view_.Col();
  if (col == FirstCol()) {
    if (row == FirstRow()) {
      if (tab) view_.FocusNextControl(false);
      return true;
    }
    const bool empty_last_row = row == LastRow() && RowIsEmpty(row);
    if (!empty_last_row) {
      if (!CanEditModify() || (CanColExit(col) && CanRowExit(row) && CanRowEnter(row - 1))) {
        MoveTo(row - 1, LastEnterableOrFirst());
      }
    } else if (CanEditModify() && CanColExit(col) && CanRowExit(row) && CanRowEnter(row - 1)) {
      DeleteRow(row);
      MoveTo(row - 1, LastEnterableOrFirst());
    }
    return true;
  }
  if (!CanEditModify()) {
    view_.SetCol(col - 1);
    return true;
  }
  if (!CanColExit(col)) return true;
  if (const std::optional<int> previous = FindBackward(col - 1)) {
    view_.SetCol(*previous);
    return true;
  }
  if (row == FirstRow()) {
    const int target = FindForward(col).value_or(col);
    // With no enterable column left of the cursor, staying put would trap Shift+Tab in the grid.
    if (tab && target == col) {
      view_.FocusNextControl(false);
    } else {
      view_.SetCol(target);
    }
  } else if (CanRowExit(row) && CanRowEnter(row - 1)) {
    MoveTo(row - 1, LastEnterableOrFirst());
  }
  return true;
}

bool TEditStringGridController::KeyDown(GridKey key, ShiftState shift) {
  view_.HideEditor();
  const int row = view_.Row();
  const int col = view_.Col();
  switch (key) {
    case GridKey::Down:
      if (NoModifier(shift) && row == LastRow() && !RowIsEmpty(row) && RoomForRow() && CanEditModify()) {
        if (CanColExit(col) && CanRowExit(row)) {
          AppendRow();
          const int added = LastRow();
          NewRow(added);
          if (CanRowEnter(added)) {
            MoveTo(added, FirstEnterable());
          } else {
            DeleteRow(added);
          }
        }
        return true;
      }
      return VerticalMove(1);
    case GridKey::Up:
      if (NoModifier(shift) && RowIsEmpty(row) && row == LastRow() && row != FirstRow() && CanEditModify()) {
        DeleteRow(row);
        return true;
      }
      return VerticalMove(-1);
    case GridKey::Tab:
      if (NoModifier(shift)) return TabForward(true);
      if (OnlyShift(shift)) return TabBackward(true);
      return false;
    case GridKey::Right: return NoModifier(shift) ? TabForward(false) : false;
    case GridKey::Left: return NoModifier(shift) ? TabBackward(false) : false;
    case GridKey::Delete:
      if (!OnlyCtrl(shift) || !CanEditModify()) return false;
      if (CanDeleteRow(row)) DeleteRow(row);
      return true;
    case GridKey::Insert:
      if (!NoModifier(shift)) return false;
      if (RoomForRow() && CanEditModify() && CanColExit(col) && CanRowExit(row)) {
        InsertRow(row);
        NewRow(row);
        view_.SetCol(FirstEnterable());
      }
      return true;
    case GridKey::Home:
    case GridKey::End: return NoModifier(shift) || OnlyCtrl(shift);
    case GridKey::Other: return false;
  }
  return false;
}

void TEditStringGridController::KeyPress(char32_t character) {
  if (character != U'\t' && IsGridEmpty() && CanEditModify()) NewRow(FirstRow());
}

MouseAnswer TEditStringGridController::MouseDown(int col, int row, bool left_double_click) {
  if (col < FirstCol() || row < FirstRow()) return MouseAnswer::PassToGrid;
  const int current_col = view_.Col();
  const int current_row = view_.Row();
  const bool editable = CanEditModify();
  if (col == current_col && row == current_row) {
    if (left_double_click && editable && CanEditShow(col)) view_.ShowEditor();
    return MouseAnswer::Handled;
  }
  if (row == current_row) {
    if (!editable || (CanColExit(current_col) && CanColEnter(col))) view_.SetCol(col);
    return MouseAnswer::Handled;
  }
  if (!editable || (CanColExit(current_col) && CanRowExit(current_row) && CanRowEnter(row) && CanColEnter(col))) {
    MoveTo(row, col);
  }
  return MouseAnswer::Handled;
}

FocusEnterAnswer TEditStringGridController::FocusEnter() {
  if (skip_enter_) {
    skip_enter_ = false;
    return FocusEnterAnswer::Stay;
  }
  if (CanEditModify()) {
    if (!CanRowEnter(view_.Row())) {
      skip_exit_ = true;
      return FocusEnterAnswer::GiveBack;
    }
    view_.SetCol(FirstEnterable());
  }
  return FocusEnterAnswer::Stay;
}

FocusExitAnswer TEditStringGridController::FocusExit() {
  if (skip_exit_) {
    skip_exit_ = false;
    return FocusExitAnswer::Let;
  }
  if (CanEditModify()) {
    const int row = view_.Row();
    if (row == LastRow() && RowIsEmpty(row)) {
      DeleteRow(row);
    } else if (!CanColExit(view_.Col()) || !CanRowExit(row)) {
      skip_enter_ = true;
      return FocusExitAnswer::TakeBack;
    }
  }
  return FocusExitAnswer::Let;
}

void TEditStringGridController::SetFitColumns(bool fit) {
  fit_columns_ = fit;
  if (!fit) return;
  if (columns_to_fit_ == 0) columns_to_fit_ = view_.ColCount();
  Fit();
}

void TEditStringGridController::SetColumnsToFit(int count) {
  if (count < 1 || count > view_.ColCount()) return;
  columns_to_fit_ = count;
  Fit();
}

void TEditStringGridController::Loaded() {
  loading_ = false;
  Fit();
}

void TEditStringGridController::ColCountChanged() {
  if (columns_to_fit_ > view_.ColCount()) columns_to_fit_ = view_.ColCount();
  Fit();
}

void TEditStringGridController::Fit() {
  if (!fit_columns_ || loading_ || fitting_) return;
  FittingGuard guard(fitting_);
  const int count = std::min(columns_to_fit_, view_.ColCount());
  int sum = 0;
  for (int col = 0; col < count; ++col) sum += view_.ColWidth(col) + kGridLineWidth;
  const int client = view_.ClientWidth();
  if (sum == client) return;
  for (int col = count - 1; col >= 0; --col) {
    const int width = view_.ColWidth(col);
    if (sum < client) {
      view_.SetColWidth(col, width + client - sum);
      return;
    }
    const int excess = sum - client;
    if (width >= excess) {
      view_.SetColWidth(col, width - excess);
      return;
    }
    view_.SetColWidth(col, 0);
    sum -= width;
  }
}

CellPlan TEditStringGridController::PlanCell(int col, int row, bool selected, bool focused, TColor grid_color,
                                             TColor fixed_color) {
  const bool fixed = col < FirstCol() || row < FirstRow();
  CellPlan plan;
  plan.text = view_.Cell(col, row);
  if (!fixed) GetDisplayText(col, row, plan.text);
  plan.alignment = GetTextAlignment(col);
  plan.color = fixed ? fixed_color : grid_color;
  GetColor(col, row, plan.color);
  plan.highlighted = !fixed && selected && focused;
  return plan;
}

int TEditStringGridController::TextLeft(int cell_left, int cell_right, int text_width, int zero_width,
                                        TAlignment alignment) {
  switch (alignment) {
    case TAlignment::taRightJustify: return cell_right - zero_width - text_width;
    case TAlignment::taCenter: return cell_left + (cell_right - cell_left - text_width) / 2;
    case TAlignment::taLeftJustify: break;
  }
  return cell_left + zero_width;
}

}  // namespace kavrin::components::editgrid
