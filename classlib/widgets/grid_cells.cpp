#include "classlib/widgets/grid_cells.h"

#include <algorithm>
#include <stdexcept>

namespace kavrin::classlib {

namespace {
const std::string kEmpty;
}

void TGridCells::Resize(int cols, int rows) {
  cols_ = std::max(0, cols);
  rows_.resize(static_cast<std::size_t>(std::max(0, rows)));
  for (auto& row : rows_) row.resize(static_cast<std::size_t>(cols_));
}

const std::string& TGridCells::Text(int col, int row) const {
  if (!Valid(col, row)) return kEmpty;
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].Text;
}

void TGridCells::SetText(int col, int row, const std::string& text) {
  if (!Valid(col, row)) throw std::out_of_range("Grid index out of range");
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].Text = text;
}

TItemObject TGridCells::Object(int col, int row) const {
  if (!Valid(col, row)) return nullptr;
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].Object;
}

void TGridCells::SetObject(int col, int row, TItemObject object) {
  if (!Valid(col, row)) throw std::out_of_range("Grid index out of range");
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)].Object = object;
}

void TGridCells::InsertRow(int index) {
  if (index < 0 || index > RowCount()) throw std::out_of_range("Grid index out of range");
  rows_.insert(rows_.begin() + index, std::vector<Cell>(static_cast<std::size_t>(cols_)));
}

void TGridCells::DeleteRow(int index) {
  if (index < 0 || index >= RowCount()) throw std::out_of_range("Grid index out of range");
  rows_.erase(rows_.begin() + index);
}

void TGridCells::MoveRow(int from, int to) {
  if (from < 0 || from >= RowCount() || to < 0 || to >= RowCount()) throw std::out_of_range("Grid index out of range");
  if (from == to) return;
  auto row = std::move(rows_[static_cast<std::size_t>(from)]);
  rows_.erase(rows_.begin() + from);
  rows_.insert(rows_.begin() + to, std::move(row));
}

void TGridCells::ClearRow(int index) {
  if (index < 0 || index >= RowCount()) throw std::out_of_range("Grid index out of range");
  for (auto& cell : rows_[static_cast<std::size_t>(index)]) cell = Cell{};
}

}  // namespace kavrin::classlib
