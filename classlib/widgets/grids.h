// The string grid: cells with objects, fixed rows and columns, column widths and tab stops, an
// in-place editor, cell drawing through DrawCell, scrolling, and rows moved or dragged. Every step the
// class library's grid offers to descendants is a virtual function here, so an editable grid can
// override key, mouse, focus, edit and drawing behaviour as a derived class.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/widgets/control.h"
#include "classlib/widgets/graphics.h"
#include "classlib/widgets/grid_cells.h"
#include "classlib/widgets/set_of.h"

class QKeyEvent;
class QLineEdit;
class QPainter;
class QRect;

namespace kavrin::classlib {

enum class TGridOption {
  goFixedVertLine,
  goFixedHorzLine,
  goVertLine,
  goHorzLine,
  goRangeSelect,
  goDrawFocusSelected,
  goRowSizing,
  goColSizing,
  goRowMoving,
  goColMoving,
  goEditing,
  goTabs,
  goRowSelect,
  goAlwaysShowEditor,
  goThumbTracking,
};
using TGridOptions = TSetOf<TGridOption>;
enum class TGridDrawStateItem { gdSelected, gdFocused, gdFixed };
using TGridDrawState = TSetOf<TGridDrawStateItem>;
enum class TGridScrollBars { ssNone, ssHorizontal, ssVertical, ssBoth };
enum class TScrollCode { scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, scBottom };
// A vertical scroll bar that shows something other than the grid's rows: positions 0..Max, Page of them
// in view.
struct TScrollInfo {
  int Max = 0;
  int Page = 1;
  int Position = 0;
};

struct TGridRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TGridRect&) const = default;
};

using TDrawCellEvent =
    std::function<void(TComponent* Sender, int ACol, int ARow, const TRect& Rect, TGridDrawState State)>;
using TSelectCellEvent = std::function<void(TComponent* Sender, int ACol, int ARow, bool& CanSelect)>;
using TSetEditEvent = std::function<void(TComponent* Sender, int ACol, int ARow, const std::string& Value)>;
using TGetEditEvent = std::function<void(TComponent* Sender, int ACol, int ARow, std::string& Value)>;
using TMovedEvent = std::function<void(TComponent* Sender, int FromIndex, int ToIndex)>;

class GridWidget;
class GridEditorEvents;

class TStringGrid : public TWinControl {
 public:
  explicit TStringGrid(TWinControl& parent);
  ~TStringGrid() override;

  int ColCount() const { return cells_.ColCount(); }
  void SetColCount(int value);
  int RowCount() const { return cells_.RowCount(); }
  void SetRowCount(int value);
  int FixedCols() const { return fixedCols_; }
  void SetFixedCols(int value);
  int FixedRows() const { return fixedRows_; }
  void SetFixedRows(int value);
  int DefaultColWidth() const { return defaultColWidth_; }
  void SetDefaultColWidth(int value);
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(int value);
  int ColWidths(int col) const;
  void SetColWidths(int col, int width);
  int RowHeights(int row) const;
  void SetRowHeights(int row, int height);
  int GridLineWidth() const { return gridLineWidth_; }
  void SetGridLineWidth(int value);
  bool TabStops(int col) const;
  void SetTabStops(int col, bool value);
  TGridOptions Options() const { return options_; }
  void SetOptions(TGridOptions options);
  TColor FixedColor() const { return fixedColor_; }
  void SetFixedColor(TColor color);
  bool Ctl3D = true;
  bool DefaultDrawing = true;
  TGridScrollBars ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TGridScrollBars value);

  const std::string& Cells(int col, int row) const { return cells_.Text(col, row); }
  void SetCells(int col, int row, const std::string& text);
  TItemObject Objects(int col, int row) const { return cells_.Object(col, row); }
  void SetObjects(int col, int row, TItemObject object);

  int Col() const { return col_; }
  void SetCol(int col);
  int Row() const { return row_; }
  void SetRow(int row);
  // Moves the current cell, asking SelectCell first; false when refused.
  bool FocusCell(int col, int row);
  TGridRect Selection() const;
  int TopRow() const { return topRow_; }
  void SetTopRow(int row);
  int LeftCol() const { return leftCol_; }
  void SetLeftCol(int col);
  int VisibleRowCount() const;
  int VisibleColCount() const;

  // Client coordinates to a cell; -1 for a point outside every cell.
  void MouseToCell(int x, int y, int& col, int& row) const;
  TRect CellRect(int col, int row) const;
  void InvalidateCell(int col, int row);
  void InvalidateRow(int row);
  void InvalidateGrid() { Invalidate(); }

  bool EditorMode() const;
  void SetEditorMode(bool value);
  void ShowEditor();
  void HideEditor();
  QLineEdit* InplaceEditor() const { return editor_; }

  // Row operations: an empty row at index, a row removed, a row moved (OnRowMoved fires for moves).
  void InsertRow(int index);
  void DeleteRow(int index);
  void MoveRow(int from, int to);

  TCanvas& Canvas() { return canvas_; }
  // Moves the focus from the grid to the next (or previous) control of its form.
  void SelectNextControl(bool forward);

  TDrawCellEvent OnDrawCell;
  TSelectCellEvent OnSelectCell;
  TSetEditEvent OnSetEditText;
  TGetEditEvent OnGetEditText;
  TNotifyEvent OnTopLeftChanged;
  TMovedEvent OnRowMoved;

  QWidget* MouseWidget() const override;
  QWidget* FocusWidget() const override;

  // The overridable steps.
  virtual void DrawCell(int col, int row, const TRect& rect, TGridDrawState state);
  virtual bool SelectCell(int col, int row);
  virtual bool CanEditShow();
  virtual bool CanEditModify();
  virtual bool CanEditAcceptKey(char key);
  virtual bool CanGridAcceptKey(Word key, TShiftState shift);
  virtual int GetEditLimit();
  virtual std::string GetEditText(int col, int row);
  virtual void SetEditText(int col, int row, const std::string& value);
  virtual void ColWidthsChanged();
  virtual void RowHeightsChanged();
  virtual void TopLeftChanged();
  virtual void SizeChanged(int oldColCount, int oldRowCount);
  virtual void RowMoved(int from, int to);
  void KeyDown(Word& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  // With goColSizing a press on a column's right edge in the fixed rows drags that edge.
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

 protected:
  void ApplyColor() override;
  void ApplyFont() override;
  bool ClicksOnMouseUp() const override { return true; }
  // A grid whose rows are a window on more (the data grid) shows that on its vertical bar: returning
  // true puts info on the bar, whose actions then go to VerticalScroll instead of scrolling the rows.
  virtual bool GetVerticalScrollInfo(TScrollInfo& info);
  virtual void VerticalScroll(TScrollCode code, int position);
  // A wheel turn over the grid (120 a step); false lets the view scroll.
  virtual bool DoMouseWheel(TShiftState shift, int wheelDelta);
  void UpdateScrollBars();

 private:
  friend class GridWidget;
  friend class GridEditorEvents;
  void Paint(QPainter& painter, const QRect& area);
  void ClampInView();
  void MoveBy(int dcol, int drow);
  int NextTabCol(int from, int step) const;
  // Keys typed in the in-place editor: the grid's keys go to the grid, the rest edit the text.
  bool EditorKey(QKeyEvent* event);

  GridWidget* grid_;
  QLineEdit* editor_;
  GridEditorEvents* editorEvents_;
  TGridCells cells_;
  TCanvas canvas_;
  std::vector<int> colWidths_;
  std::vector<int> rowHeights_;
  std::vector<bool> tabStops_;
  int fixedCols_ = 1;
  int fixedRows_ = 1;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  int gridLineWidth_ = 1;
  TGridOptions options_{TGridOption::goFixedVertLine, TGridOption::goFixedHorzLine, TGridOption::goVertLine,
                        TGridOption::goHorzLine, TGridOption::goRangeSelect};
  TColor fixedColor_ = clBtnFace;
  TGridScrollBars scrollBars_ = TGridScrollBars::ssBoth;
  int col_ = 1;
  int row_ = 1;
  int topRow_ = 1;
  int leftCol_ = 1;
  bool updatingEditor_ = false;
  int sizingCol_ = -1;
  int sizingStartX_ = 0;
  int sizingStartWidth_ = 0;
};

}  // namespace kavrin::classlib
