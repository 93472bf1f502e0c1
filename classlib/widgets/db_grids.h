// The data-aware grid: one column per visible field in field order, one row per record of the window
// its data link asks the dataset for (as many as fit), a title row and an indicator column. Moving
// between rows moves the dataset, which posts a pending edit; typing edits the current cell's field.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/data/data_link.h"
#include "classlib/widgets/grids.h"

namespace kavrin::classlib {

class TDataSource;
class TField;

enum class TDBGridOption {
  dgEditing,
  dgAlwaysShowEditor,
  dgTitles,
  dgIndicator,
  dgColumnResize,
  dgColLines,
  dgRowLines,
  dgTabs,
  dgRowSelect,
  dgAlwaysShowSelection,
  dgConfirmDelete,
  dgCancelOnExit,
};
using TDBGridOptions = TSetOf<TDBGridOption>;

// The indicator column's marks for the current row.
inline constexpr const char* IndicatorBrowse = "\u25B6";
inline constexpr const char* IndicatorEdit = "I";
inline constexpr const char* IndicatorInsert = "*";

// The grid's chosen columns: when any are given the grid shows exactly these fields in this order
// (a name the dataset lacks shows no column); with none it shows the visible fields in field order.
class TDBGridColumns {
 public:
  void Add(std::string fieldName);
  void Clear();
  int Count() const { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int index) const { return names_.at(static_cast<std::size_t>(index)); }
  void SetFieldNames(std::vector<std::string> names);

 private:
  friend class TDBGrid;
  std::vector<std::string> names_;
  std::function<void()> changed_;
};

class TDBGrid : public TStringGrid {
 public:
  explicit TDBGrid(TWinControl& parent);
  ~TDBGrid() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  TDBGridOptions Options() const { return dbOptions_; }
  void SetOptions(TDBGridOptions options);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  TDBGridColumns& Columns() { return chosen_; }
  // The columns shown: the chosen ones, else the visible fields in field order.
  int FieldCount() const { return static_cast<int>(columns_.size()); }
  TField* Fields(int index) const;
  // The field of the current column; null when there is none.
  TField* SelectedField() const;
  void SetSelectedField(TField* field);
  int SelectedIndex() const;
  void SetSelectedIndex(int index);
  // The rows the data link shows (the window the grid reads).
  const TDataLink& DataLink() const;

  void KeyDown(Word& key, TShiftState shift) override;
  void DoExit() override;
  bool SelectCell(int col, int row) override;
  bool CanEditShow() override;
  bool CanEditModify() override;
  bool CanEditAcceptKey(char key) override;
  int GetEditLimit() override;
  std::string GetEditText(int col, int row) override;
  void SetEditText(int col, int row, const std::string& value) override;

 protected:
  void Resized() override;
  // Whether the dataset numbers its records and counts them without reading them (the engine's cursors
  // do): the thumb then stands for the record number, else it only tells first, last or between.
  virtual bool IsSequenced() const;
  bool GetVerticalScrollInfo(TScrollInfo& info) override;
  void VerticalScroll(TScrollCode code, int position) override;
  bool DoMouseWheel(TShiftState shift, int wheelDelta) override;

 private:
  class Link;
  friend class Link;
  void Refill();
  void RefreshRow(TField* field);
  void ApplyOptions();
  void UpdateBufferCount();
  // Writes the current cell's pending text into its field.
  void UpdateData();
  void DeleteRecord();
  // Record number and count when the thumb can stand for them; false otherwise.
  bool SequencePosition(int& recNo, int& count) const;
  void GotoRecNo(int recNo);
  int FirstDataCol() const { return dbOptions_.Has(TDBGridOption::dgIndicator) ? 1 : 0; }
  int FirstDataRow() const { return dbOptions_.Has(TDBGridOption::dgTitles) ? 1 : 0; }
  TField* ColumnField(int col) const;
  std::string Indicator() const;

  std::unique_ptr<Link> link_;
  std::vector<TField*> columns_;
  // The columns the widths were last sized for: the user's widths stay until the columns change.
  std::vector<TField*> sizedColumns_;
  int sizedFixedCols_ = -1;
  bool resize_ = true;
  TDBGridColumns chosen_;
  TDBGridOptions dbOptions_;
  bool readOnly_ = false;
  bool syncing_ = false;
  bool pendingModified_ = false;
  int pendingCol_ = -1;
  int wheelRest_ = 0;
  // What the vertical bar shows: record numbers, or first, between and last.
  TScrollInfo shownInfo_;
  bool shownNumbered_ = false;
  std::string pendingText_;
};

}  // namespace kavrin::classlib
