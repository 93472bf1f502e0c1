#include "classlib/widgets/db_grids.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <algorithm>
#include <cstdlib>

#include "classlib/data/data_source.h"
#include "classlib/data/field.h"
#include "classlib/widgets/db_controls.h"
#include "classlib/widgets/dialogs.h"
#include "classlib/widgets/keys.h"

namespace kavrin::classlib {
namespace {

class Flag {
 public:
  explicit Flag(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~Flag() { flag_ = old_; }
  Flag(const Flag&) = delete;
  Flag& operator=(const Flag&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

void TDBGridColumns::Add(std::string fieldName) {
  names_.push_back(std::move(fieldName));
  if (changed_) changed_();
}

void TDBGridColumns::Clear() {
  names_.clear();
  if (changed_) changed_();
}

void TDBGridColumns::SetFieldNames(std::vector<std::string> names) {
  names_ = std::move(names);
  if (changed_) changed_();
}

class TDBGrid::Link : public TDataLink {
 public:
  explicit Link(TDBGrid& grid) : grid_(grid) {}

 protected:
  void ActiveChanged() override {
    grid_.pendingModified_ = false;
    grid_.resize_ = true;
    grid_.UpdateBufferCount();
    grid_.Refill();
  }
  void DataSetChanged() override { grid_.Refill(); }
  void DataSetScrolled(int) override { grid_.Refill(); }
  void LayoutChanged() override {
    grid_.resize_ = true;
    grid_.Refill();
  }
  void EditingChanged() override { grid_.Refill(); }
  void RecordChanged(TField* field) override { grid_.RefreshRow(field); }
  void UpdateData() override { grid_.UpdateData(); }
  void FocusControl(TField*& field) override {
    auto found = std::find(grid_.columns_.begin(), grid_.columns_.end(), field);
    if (found == grid_.columns_.end()) return;
    field = nullptr;
    grid_.SetSelectedIndex(static_cast<int>(found - grid_.columns_.begin()));
    grid_.SetFocus();
  }

 private:
  TDBGrid& grid_;
};

TDBGrid::TDBGrid(TWinControl& parent) : TStringGrid(parent), link_(std::make_unique<Link>(*this)) {
  dbOptions_ = {TDBGridOption::dgEditing,      TDBGridOption::dgTitles,        TDBGridOption::dgIndicator,
                TDBGridOption::dgColumnResize, TDBGridOption::dgColLines,      TDBGridOption::dgRowLines,
                TDBGridOption::dgTabs,         TDBGridOption::dgConfirmDelete, TDBGridOption::dgCancelOnExit};
  SetDefaultRowHeight(18);
  chosen_.changed_ = [this] { Refill(); };
  ApplyOptions();
  Refill();
}

TDBGrid::~TDBGrid() { link_->SetDataSource(nullptr); }

TDataSource* TDBGrid::DataSource() const { return link_->DataSource(); }
void TDBGrid::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  UpdateBufferCount();
  Refill();
}
const TDataLink& TDBGrid::DataLink() const { return *link_; }

void TDBGrid::SetOptions(TDBGridOptions options) {
  dbOptions_ = options;
  ApplyOptions();
  Refill();
}

void TDBGrid::SetReadOnly(bool value) {
  readOnly_ = value;
  ApplyOptions();
}

void TDBGrid::ApplyOptions() {
  TGridOptions o;
  if (dbOptions_.Has(TDBGridOption::dgColLines))
    o.Include(TGridOption::goVertLine).Include(TGridOption::goFixedVertLine);
  if (dbOptions_.Has(TDBGridOption::dgRowLines))
    o.Include(TGridOption::goHorzLine).Include(TGridOption::goFixedHorzLine);
  if (dbOptions_.Has(TDBGridOption::dgTabs)) o.Include(TGridOption::goTabs);
  if (dbOptions_.Has(TDBGridOption::dgEditing) && !readOnly_) o.Include(TGridOption::goEditing);
  if (dbOptions_.Has(TDBGridOption::dgColumnResize)) o.Include(TGridOption::goColSizing);
  if (dbOptions_.Has(TDBGridOption::dgRowSelect)) o.Include(TGridOption::goRowSelect);
  if (dbOptions_.Has(TDBGridOption::dgAlwaysShowEditor)) o.Include(TGridOption::goAlwaysShowEditor);
  TStringGrid::SetOptions(o);
}

TField* TDBGrid::Fields(int index) const {
  return index >= 0 && index < FieldCount() ? columns_[static_cast<std::size_t>(index)] : nullptr;
}

TField* TDBGrid::ColumnField(int col) const { return Fields(col - FirstDataCol()); }
TField* TDBGrid::SelectedField() const { return ColumnField(Col()); }
int TDBGrid::SelectedIndex() const { return Col() - FirstDataCol(); }

void TDBGrid::SetSelectedIndex(int index) {
  if (index < 0 || index >= FieldCount()) return;
  SetCol(index + FirstDataCol());
}

void TDBGrid::SetSelectedField(TField* field) {
  auto found = std::find(columns_.begin(), columns_.end(), field);
  if (found != columns_.end()) SetSelectedIndex(static_cast<int>(found - columns_.begin()));
}

void TDBGrid::Resized() {
  TStringGrid::Resized();
  UpdateBufferCount();
}

void TDBGrid::UpdateBufferCount() {
  // As many records as the rows that fit below the titles: the grid never asks for more.
  const int line = DefaultRowHeight() + GridLineWidth();
  const int rows = std::max(1, (Height() - FirstDataRow() * line) / std::max(1, line));
  if (rows != link_->BufferCount()) link_->SetBufferCount(rows);
}

std::string TDBGrid::Indicator() const {
  const TDataSet* ds = link_->DataSet();
  if (!ds) return {};
  if (ds->State() == TDataSetState::dsInsert) return IndicatorInsert;
  if (ds->State() == TDataSetState::dsEdit) return IndicatorEdit;
  return IndicatorBrowse;
}

void TDBGrid::Refill() {
  if (syncing_) return;
  Flag guard(syncing_);
  const int fc = FirstDataCol();
  const int fr = FirstDataRow();
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  columns_.clear();
  if (ds && chosen_.Count() > 0) {
    for (const std::string& name : chosen_.names_) {
      if (TField* field = ds->FindField(name)) columns_.push_back(field);
    }
  } else if (ds) {
    for (int i = 0; i < ds->FieldCount(); ++i) {
      if (ds->Fields(i)->Visible()) columns_.push_back(ds->Fields(i));
    }
  }
  const int records = ds ? link_->RecordCount() : 0;
  SetColCount(fc + std::max<int>(1, static_cast<int>(columns_.size())));
  SetRowCount(fr + std::max(1, records));
  SetFixedCols(fc);
  SetFixedRows(fr);
  const bool resize = resize_ || columns_ != sizedColumns_ || fc != sizedFixedCols_;
  resize_ = false;
  sizedColumns_ = columns_;
  sizedFixedCols_ = fc;
  // Only a new set of columns is sized: the font is measured for that alone.
  const int charWidth = resize ? std::max(1, QFontMetrics(Font().ToQFont()).horizontalAdvance('0')) : 1;
  if (fc && resize) SetColWidths(0, 12);
  for (int c = 0; c < ColCount() - fc; ++c) {
    TField* field = Fields(c);
    if (fr) SetCells(fc + c, 0, field ? field->DisplayLabel() : std::string());
    if (field && resize) {
      const int chars = std::max<int>(field->DisplayWidth(), static_cast<int>(field->DisplayLabel().size()));
      SetColWidths(fc + c, std::min(chars, 40) * charWidth + 4);
    }
  }
  const int active = link_->ActiveRecord();
  try {
    for (int r = 0; r < std::max(1, records); ++r) {
      if (fc) SetCells(0, fr + r, r < records && r == active ? Indicator() : std::string());
      for (int c = 0; c < static_cast<int>(columns_.size()); ++c) {
        if (r >= records) {
          SetCells(fc + c, fr + r, std::string());
          continue;
        }
        link_->SetActiveRecord(r);
        SetCells(fc + c, fr + r, columns_[static_cast<std::size_t>(c)]->DisplayText());
      }
    }
  } catch (...) {
    // The fields would go on showing the row that failed in place of the current record.
    if (records > 0) link_->SetActiveRecord(active);
    throw;
  }
  if (records > 0) link_->SetActiveRecord(active);
  const int row = fr + std::clamp(active, 0, std::max(0, records - 1));
  if (row != Row()) {
    HideEditor();
    pendingModified_ = false;
    FocusCell(Col(), row);
  }
  if (!ds || !EditingState(ds->State())) pendingModified_ = false;
  UpdateScrollBars();
  Invalidate();
}

void TDBGrid::RefreshRow(TField* field) {
  if (syncing_ || !link_->Active()) return;
  Flag guard(syncing_);
  const int fc = FirstDataCol();
  const int row = FirstDataRow() + link_->ActiveRecord();
  if (row < FixedRows() || row >= RowCount()) return;
  for (int c = 0; c < FieldCount(); ++c) {
    TField* f = columns_[static_cast<std::size_t>(c)];
    if (field && f != field) continue;
    if (EditorMode() && fc + c == Col()) continue;
    SetCells(fc + c, row, f->DisplayText());
  }
  if (fc) SetCells(0, row, Indicator());
  InvalidateRow(row);
}

bool TDBGrid::SelectCell(int col, int row) {
  if (syncing_) return true;
  if (!TStringGrid::SelectCell(col, row)) return false;
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (!ds) return true;
  const int current = FirstDataRow() + link_->ActiveRecord();
  if (col != Col() && row == current) UpdateData();
  if (row == current) return true;
  // Another row is another record: the dataset moves (posting the edit) and the grid follows it.
  HideEditor();
  ds->MoveBy(row - current);
  {
    Flag guard(syncing_);
    if (col != Col()) FocusCell(col, Row());
  }
  return false;
}

bool TDBGrid::CanEditShow() {
  return dbOptions_.Has(TDBGridOption::dgEditing) && link_->Active() && SelectedField() && TStringGrid::CanEditShow();
}

bool TDBGrid::CanEditModify() {
  if (readOnly_ || !dbOptions_.Has(TDBGridOption::dgEditing) || !link_->Active()) return false;
  TField* field = SelectedField();
  if (!field || !field->CanModify()) return false;
  return link_->Edit();
}

bool TDBGrid::CanEditAcceptKey(char key) {
  TField* field = SelectedField();
  return field && field->IsValidChar(static_cast<unsigned char>(key));
}

int TDBGrid::GetEditLimit() {
  TField* field = SelectedField();
  return field && field->DataType() == TFieldType::ftString ? field->Size() : 0;
}

std::string TDBGrid::GetEditText(int col, int) {
  TField* field = ColumnField(col);
  return field ? field->Text() : std::string();
}

void TDBGrid::SetEditText(int col, int row, const std::string& value) {
  TStringGrid::SetEditText(col, row, value);
  if (syncing_ || !link_->Active()) return;
  if (!CanEditModify()) return;
  pendingCol_ = col;
  pendingText_ = value;
  pendingModified_ = true;
}

void TDBGrid::UpdateData() {
  if (!pendingModified_) return;
  pendingModified_ = false;
  if (TField* field = ColumnField(pendingCol_)) field->SetText(pendingText_);
}

void TDBGrid::DeleteRecord() {
  TDataSet* ds = link_->DataSet();
  if (readOnly_ || !link_->Active() || !ds || !ds->CanModify() || ds->IsEmpty()) return;
  if (dbOptions_.Has(TDBGridOption::dgConfirmDelete) &&
      MessageDlg(DeleteRecordQuestion, TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}) != mrOk) {
    return;
  }
  HideEditor();
  pendingModified_ = false;
  ds->Delete();
}

bool TDBGrid::IsSequenced() const { return link_->Active(); }

bool TDBGrid::SequencePosition(int& recNo, int& count) const {
  const TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (!ds || ds->State() == TDataSetState::dsInsert || !IsSequenced()) return false;
  recNo = ds->RecNo();
  count = ds->RecordCount();
  return count > 0 && recNo >= 1 && recNo <= count;
}

bool TDBGrid::GetVerticalScrollInfo(TScrollInfo& info) {
  const TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (!ds) return false;
  if (ds->State() == TDataSetState::dsInsert) {
    // A new row has no number yet: the bar stays where the record it was inserted at stood.
    info = shownInfo_;
    return true;
  }
  int recNo = 0;
  int count = 0;
  shownNumbered_ = SequencePosition(recNo, count);
  if (shownNumbered_) {
    info.Max = count - 1;
    info.Page = std::max(1, link_->BufferCount());
    info.Position = recNo - 1;
  } else if (ds->IsEmpty()) {
    info = {};
  } else {
    info.Max = 2;
    info.Page = 1;
    info.Position = ds->Bof() ? 0 : ds->Eof() ? 2 : 1;
  }
  shownInfo_ = info;
  return true;
}

void TDBGrid::GotoRecNo(int recNo) {
  TDataSet* ds = link_->DataSet();
  ds->CheckBrowseMode();
  int current = 0;
  int count = 0;
  if (!SequencePosition(current, count)) return;
  if (recNo >= count) return ds->Last();
  const int distance = recNo - current;
  if (std::abs(distance) <= std::max(1, link_->BufferCount())) {
    ds->MoveBy(distance);
    return;
  }
  // A far jump lets the dataset go straight to the record instead of reading every record on the way.
  ds->SetRecNo(recNo);
}

void TDBGrid::VerticalScroll(TScrollCode code, int position) {
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (!ds || code == TScrollCode::scTrack) return;
  HideEditor();
  const int page = std::max(1, link_->BufferCount());
  switch (code) {
    case TScrollCode::scLineUp: ds->Prior(); break;
    case TScrollCode::scLineDown: ds->Next(); break;
    case TScrollCode::scPageUp: ds->MoveBy(-page); break;
    case TScrollCode::scPageDown: ds->MoveBy(page); break;
    case TScrollCode::scTop: ds->First(); break;
    case TScrollCode::scBottom: ds->Last(); break;
    case TScrollCode::scPosition:
      // The position is read against what the bar showed when the thumb was taken.
      if (position <= 0) {
        ds->First();
      } else if (position >= shownInfo_.Max) {
        ds->Last();
      } else if (shownNumbered_) {
        GotoRecNo(position + 1);
      }
      break;
    case TScrollCode::scTrack: break;
  }
}

bool TDBGrid::DoMouseWheel(TShiftState, int wheelDelta) {
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (!ds) return false;
  // Fine-grained wheels send parts of a step: they add up to whole records.
  wheelRest_ += wheelDelta;
  const int steps = wheelRest_ / 120;
  wheelRest_ -= steps * 120;
  if (steps != 0) {
    HideEditor();
    ds->MoveBy(-steps);
  }
  return true;
}

void TDBGrid::KeyDown(Word& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);
  if (key == 0) return;
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (!ds) {
    TStringGrid::KeyDown(key, shift);
    return;
  }
  const bool canInsert = !readOnly_ && dbOptions_.Has(TDBGridOption::dgEditing) && ds->CanModify();
  switch (key) {
    case VK_UP:
      HideEditor();
      if (ds->State() == TDataSetState::dsInsert && !ds->Modified() && !pendingModified_) {
        ds->Cancel();
      } else {
        ds->Prior();
      }
      break;
    case VK_DOWN:
      HideEditor();
      if (ds->State() == TDataSetState::dsInsert && !ds->Modified() && !pendingModified_) break;
      if (ds->MoveBy(1) == 0 && ds->Eof() && canInsert) ds->Append();
      break;
    case VK_PRIOR:
      HideEditor();
      ds->MoveBy(-std::max(1, link_->BufferCount()));
      break;
    case VK_NEXT:
      HideEditor();
      ds->MoveBy(std::max(1, link_->BufferCount()));
      break;
    case VK_HOME:
    case VK_END:
      if (!shift.Ctrl) {
        TStringGrid::KeyDown(key, shift);
        return;
      }
      HideEditor();
      key == VK_HOME ? ds->First() : ds->Last();
      break;
    case VK_INSERT:
      if (!shift.NoKeyModifier() || !canInsert) return;
      HideEditor();
      ds->Insert();
      break;
    case VK_DELETE:
      if (!shift.Ctrl) return;
      DeleteRecord();
      break;
    case VK_ESCAPE:
      // The cell's pending text goes, then the record's edit.
      HideEditor();
      pendingModified_ = false;
      if (ds && EditingState(ds->State())) {
        ds->Cancel();
      } else {
        Refill();
      }
      break;
    case VK_RETURN:
      if (EditorMode()) {
        UpdateData();
        HideEditor();
      } else {
        ShowEditor();
      }
      break;
    default: TStringGrid::KeyDown(key, shift); return;
  }
  key = 0;
}

void TDBGrid::DoExit() {
  TDataSet* ds = link_->Active() ? link_->DataSet() : nullptr;
  if (ds && dbOptions_.Has(TDBGridOption::dgCancelOnExit) && ds->State() == TDataSetState::dsInsert &&
      !ds->Modified() && !pendingModified_) {
    // An untouched new row does not outlive leaving the grid.
    ds->Cancel();
  } else {
    UpdateData();
  }
  TStringGrid::DoExit();
}

}  // namespace kavrin::classlib
