// The core of TEditStringGrid (unit Editgrid): a string grid for entering lists of rows from the
// keyboard, spreadsheet fashion. The keys, the focus rules, the row operations and the column fitting
// live here, over EditGridView; the Qt string grid is an adapter that implements the view, hands its
// key, mouse and focus events to the controller and paints what PlanCell says.
//
// Every move can be vetoed by the column and row enter and exit events; refusals are silent.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kavrin::components::editgrid {

// The grid as the controller needs it. Columns and rows count the fixed ones.
class EditGridView {
 public:
  virtual ~EditGridView() = default;
  virtual int ColCount() const = 0;
  virtual int RowCount() const = 0;
  virtual void SetRowCount(int count) = 0;
  virtual int FixedCols() const = 0;
  virtual int FixedRows() const = 0;
  virtual int Col() const = 0;
  virtual int Row() const = 0;
  virtual void SetCol(int col) = 0;
  virtual void SetRow(int row) = 0;
  virtual bool TabStop(int col) const = 0;
  // The grid's own edit permission, before OnCanEditModify.
  virtual bool GridEditable() const = 0;
  virtual std::string Cell(int col, int row) const = 0;
  virtual void SetCell(int col, int row, const std::string& text) = 0;
  virtual void ShowEditor() = 0;
  virtual void HideEditor() = 0;
  // Tab and Shift+Tab leaving the grid at its ends.
  virtual void FocusNextControl(bool forward) = 0;
  // The viewport's width, where the columns are shown.
  virtual int ClientWidth() const = 0;
  virtual int ColWidth(int col) const = 0;
  virtual void SetColWidth(int col, int width) = 0;
};

inline constexpr int kGridLineWidth = 1;

enum class GridKey { Down, Up, Tab, Right, Left, Delete, Insert, Home, End, Other };

struct ShiftState {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
using TColor = std::uint32_t;

enum class MouseAnswer { PassToGrid, Handled };
// Focus enter: stay, or give the focus back to the control that had it.
enum class FocusEnterAnswer { Stay, GiveBack };
// Focus exit: let it go, or take the focus back.
enum class FocusExitAnswer { Let, TakeBack };

struct CellPlan {
  std::string text;
  TAlignment alignment = TAlignment::taLeftJustify;
  TColor color = 0;
  bool highlighted = false;  // the system highlight and highlight text colours instead of color
};

class TEditStringGridController {
 public:
  explicit TEditStringGridController(EditGridView& view);
  virtual ~TEditStringGridController() = default;

  std::function<void(int col, bool& can_enter)> OnColEnter;
  std::function<void(int col, bool& can_exit)> OnColExit;
  std::function<void(int row, bool& can_enter)> OnRowEnter;
  std::function<void(int row, bool& can_exit)> OnRowExit;
  std::function<void(int row, bool& is_empty)> OnGetRowIsEmpty;
  std::function<void(int row)> OnNewRow;
  std::function<void(int row, bool& can_delete)> OnCanDeleteRow;
  std::function<void(int col, bool& can_modify)> OnCanEditModify;
  std::function<void(int col, bool& can_show)> OnCanEditShow;
  std::function<void(int col, TAlignment& alignment)> OnGetTextAlignment;
  std::function<void(int col, int row, TColor& color)> OnGetColor;
  std::function<void(int col, int row, std::string& text)> OnGetDisplayText;

  virtual bool CanColEnter(int col);
  virtual bool CanColExit(int col);
  virtual bool CanRowEnter(int row);
  virtual bool CanRowExit(int row);
  virtual void NewRow(int row);
  virtual TAlignment GetTextAlignment(int col);
  virtual void GetColor(int col, int row, TColor& color);
  virtual void GetDisplayText(int col, int row, std::string& text);
  virtual bool CanDeleteRow(int row);
  virtual bool RowIsEmpty(int row);
  // The grid's edit permission, then OnCanEditModify for the current column.
  bool CanEditModify();
  bool CanEditShow(int col);

  int MaxRows() const { return max_rows_; }
  void SetMaxRows(int rows) { max_rows_ = rows; }

  bool IsGridEmpty();
  void StartFirstRow();
  bool ValidateGrid();

  void InsertRow(int at);
  void AppendRow();
  void DeleteRow(int row);

  // True when the key was handled (consumed); other keys go to the grid, which repaints the cell.
  bool KeyDown(GridKey key, ShiftState shift);
  // A character typed into the grid or its editor.
  void KeyPress(char32_t character);
  // A click in a cell, after the grid took the focus.
  MouseAnswer MouseDown(int col, int row, bool left_double_click);
  FocusEnterAnswer FocusEnter();
  FocusExitAnswer FocusExit();

  bool FitColumns() const { return fit_columns_; }
  void SetFitColumns(bool fit);
  int ColumnsToFit() const { return columns_to_fit_; }
  void SetColumnsToFit(int count);  // only 1 to the column count is taken
  void SetLoading(bool loading) { loading_ = loading; }
  void Loaded();
  // After the grid was sized or scrolled or a column width changed.
  void Fit();
  void ColCountChanged();

  CellPlan PlanCell(int col, int row, bool selected, bool focused, TColor grid_color, TColor fixed_color);
  // Text position in a cell: 2 pixels below its top; one width of "0" in from the left or right edge.
  static int TextLeft(int cell_left, int cell_right, int text_width, int zero_width, TAlignment alignment);
  static int TextTop(int cell_top) { return cell_top + 2; }

 private:
  int FirstRow() const;
  int LastRow() const;
  int FirstCol() const;
  bool RoomForRow() const;
  int LastEnterableCol();
  std::optional<int> FindForward(int start);
  std::optional<int> FindBackward(int start);
  int FirstEnterable();
  int LastEnterableOrFirst();
  void MoveTo(int row, int col);
  void CopyRow(int from, int to);
  void ClearRow(int row);
  bool TabForward(bool tab);
  bool TabBackward(bool tab);
  bool VerticalMove(int delta);

  EditGridView& view_;
  bool fit_columns_ = false;
  int columns_to_fit_ = 0;
  bool fitting_ = false;
  bool loading_ = false;
  int max_rows_ = 0;
  bool skip_exit_ = false;
  bool skip_enter_ = false;
};

}  // namespace kavrin::components::editgrid
