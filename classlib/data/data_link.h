// TDataLink: what a data-aware control or grid sees of a dataset through a data source: its window
// rows (BufferCount of them, ActiveRecord among them) and notifications as virtual calls.
// TFieldDataLink binds one field for a single-field control.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "classlib/data/data_set.h"

namespace kavrin::classlib {

class TDataSource;
class TField;

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // The dataset is open (and the source enabled).
  bool Active() const { return active_; }
  // The dataset is editing or inserting and this link's Edit put it there or could.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);

  // Rows of the window this link shows, from 0; the dataset's active row is at ActiveRecord.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  int RecordCount() const;
  int ActiveRecord() const;
  // Makes row index the dataset's active row, for reading its fields; set it back afterwards.
  void SetActiveRecord(int index);
  // Whether the link's rows reach the end of the data.
  bool Eof() const;
  bool Bof() const;

  // Puts the dataset into edit state through the data source; answers Editing.
  bool Edit();
  // The dataset's UpdateRecord, with this link's UpdateData included.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) {
    (void)distance;
    DataSetChanged();
  }
  virtual void EditingChanged() {}
  // Handled when the link shows the field; it clears field to stop the search.
  virtual void FocusControl(TField*& field) { (void)field; }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* field) { (void)field; }
  // Write the control's pending edit into the field.
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void KeepActiveInView();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int firstRecord_ = 0;  // the window row this link shows as its row 0
};

class TFieldDataLink : public TDataLink {
 public:
  using TNotifyEvent = std::function<void()>;

  TField* Field() const { return field_; }
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string name);
  // The control's text differs from the field; cleared when the record changes or the edit is written.
  bool IsModified() const { return modified_; }
  void Modified() { modified_ = true; }
  // Shows the field's value again, dropping the control's pending edit.
  void Reset();
  bool CanModify() const;

  TNotifyEvent OnDataChange;     // show the field's value
  TNotifyEvent OnEditingChange;  // Editing changed
  TNotifyEvent OnUpdateData;     // write the pending edit into Field()
  TNotifyEvent OnActiveChange;   // the dataset opened or closed
  TNotifyEvent OnFocusRequest;   // the dataset asks the control to take the focus

 protected:
  void ActiveChanged() override;
  void EditingChanged() override;
  void FocusControl(TField*& field) override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void UpdateData() override;

 private:
  void UpdateField();
  TField* field_ = nullptr;
  std::string fieldName_;
  bool modified_ = false;
  bool fieldEditing_ = false;
};

}  // namespace kavrin::classlib
