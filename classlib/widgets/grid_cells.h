// The cells of a string grid: a text and an object for each column and row, with rows inserted,
// deleted and moved as whole rows. Toolkit-free, so row operations are tested without a display.
#pragma once

#include <string>
#include <vector>

#include "classlib/widgets/string_items.h"

namespace kavrin::classlib {

class TGridCells {
 public:
  int ColCount() const { return cols_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Growing adds empty cells; shrinking drops the cells beyond.
  void Resize(int cols, int rows);

  const std::string& Text(int col, int row) const;
  void SetText(int col, int row, const std::string& text);
  TItemObject Object(int col, int row) const;
  void SetObject(int col, int row, TItemObject object);

  // An empty row at index (index == RowCount appends).
  void InsertRow(int index);
  void DeleteRow(int index);
  // The row at from goes to to; the rows between shift by one.
  void MoveRow(int from, int to);
  void ClearRow(int index);

 private:
  struct Cell {
    std::string Text;
    TItemObject Object = nullptr;
  };
  bool Valid(int col, int row) const { return col >= 0 && col < cols_ && row >= 0 && row < RowCount(); }
  int cols_ = 0;
  std::vector<std::vector<Cell>> rows_;
};

}  // namespace kavrin::classlib
