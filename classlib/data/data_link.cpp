#include "classlib/data/data_link.h"

#include <algorithm>

#include "classlib/data/data_source.h"
#include "classlib/data/field.h"

namespace kavrin::classlib {
TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveDataLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveDataLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddDataLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_) return;
  readOnly_ = readOnly;
  UpdateState();
}

void TDataLink::SetBufferCount(int count) {
  count = std::max(count, 1);
  if (count == bufferCount_) return;
  bufferCount_ = count;
  if (TDataSet* dataSet = DataSet()) dataSet->UpdateBufferCount();
  KeepActiveInView();
}

int TDataLink::RecordCount() const {
  if (!active_) return 0;
  return std::clamp(DataSet()->WindowRecordCount() - firstRecord_, 0, bufferCount_);
}

int TDataLink::ActiveRecord() const {
  if (!active_) return 0;
  return DataSet()->ActiveRecord() - firstRecord_;
}

void TDataLink::SetActiveRecord(int index) {
  if (active_) DataSet()->SetActiveRecord(index + firstRecord_);
}

bool TDataLink::Eof() const { return active_ && DataSet()->Eof(); }
bool TDataLink::Bof() const { return active_ && DataSet()->Bof(); }

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::KeepActiveInView() {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet) {
    firstRecord_ = 0;
    return;
  }
  const int active = dataSet->ActiveRecord();
  if (active < firstRecord_) firstRecord_ = active;
  if (active >= firstRecord_ + bufferCount_) firstRecord_ = active - bufferCount_ + 1;
  firstRecord_ = std::clamp(firstRecord_, 0, std::max(dataSet->WindowRecordCount() - bufferCount_, 0));
  firstRecord_ = std::min(firstRecord_, active < 0 ? 0 : active);
}

void TDataLink::UpdateState() {
  TDataSet* dataSet = DataSet();
  const bool active = dataSource_ && dataSource_->Enabled() && dataSet && dataSet->Active();
  const bool editing = active && !readOnly_ && EditingState(dataSet->State());
  if (active != active_) {
    active_ = active;
    editing_ = editing;
    firstRecord_ = 0;
    ActiveChanged();
    return;
  }
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
      KeepActiveInView();
      DataSetChanged();
      break;
    case TDataEvent::deDataSetScroll: {
      const int before = firstRecord_;
      KeepActiveInView();
      (void)before;
      DataSetScrolled(static_cast<int>(info));
      break;
    }
    case TDataEvent::deLayoutChange:
      KeepActiveInView();
      LayoutChanged();
      break;
    case TDataEvent::deUpdateRecord: UpdateRecord(); break;
    case TDataEvent::deCheckBrowseMode: CheckBrowseMode(); break;
    case TDataEvent::deFocusControl: {
      TField* field = reinterpret_cast<TField*>(info);
      FocusControl(field);
      break;
    }
    default: break;
  }
}

// --- TFieldDataLink --------------------------------------------------------------------------------

void TFieldDataLink::SetFieldName(std::string name) {
  if (name == fieldName_) return;
  fieldName_ = std::move(name);
  UpdateField();
}

void TFieldDataLink::UpdateField() {
  field_ = nullptr;
  if (Active() && !fieldName_.empty()) field_ = DataSet()->FindField(fieldName_);
  EditingChanged();
  RecordChanged(nullptr);
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

bool TFieldDataLink::CanModify() const { return !ReadOnly() && field_ && field_->CanModify(); }

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void TFieldDataLink::EditingChanged() {
  const bool editing = Editing() && CanModify();
  if (editing == fieldEditing_) return;
  fieldEditing_ = editing;
  modified_ = false;
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::FocusControl(TField*& field) {
  if (field && field == field_) {
    field = nullptr;
    if (OnFocusRequest) OnFocusRequest();
  }
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field) {
  if (field && field != field_) return;
  if (OnDataChange) OnDataChange();
  modified_ = false;
}

void TFieldDataLink::UpdateData() {
  if (!modified_) return;
  if (field_ && OnUpdateData) OnUpdateData();
  modified_ = false;
}

}  // namespace kavrin::classlib
