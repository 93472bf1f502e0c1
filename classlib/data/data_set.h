// TDataSet: the class library's dataset on the engine's table cursor: its states, the window of
// record buffers that data links size and read, navigation, editing and the events around each step.
//
// A record buffer holds, in order: the engine's record image (RecordSize bytes); the calculated fields
// (one has-value byte and the data each); TRecInfo (8 bytes: byte 0 written 0, bytes 4-7 the record
// number at fetch time, -1 for a new record); the bookmark flag (1 byte: 0 fetched, 1 before the first
// record, 2 after the last, 255 a row being inserted); the bookmark (the key in the active index).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/component.h"
#include "classlib/data/exceptions.h"
#include "classlib/data/field_defs.h"
#include "classlib/data/index_defs.h"

namespace kavrin::engine {
class TDataFile;
}

namespace kavrin::classlib {

class TField;
class TDataSource;
class TStringList;

enum class TDataSetState : std::uint8_t {
  dsInactive = 0,
  dsBrowse = 1,
  dsEdit = 2,
  dsInsert = 3,
  dsSetKey = 4,
  dsCalcFields = 5,
  dsUpdateNew = 6,
  dsUpdateOld = 7,
  dsFilter = 8,
};

// Whether a record is being edited or inserted in that state.
inline bool EditingState(TDataSetState state) {
  return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
}

enum class TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
};

enum class TDataAction { daFail, daAbort, daRetry };
enum class TGetMode { gmCurrent, gmNext, gmPrior };

enum TBookmarkFlag : std::uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 255 };

enum TFilterOption : std::uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = std::uint8_t;
// Locate options.
enum TLocateOption : std::uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = std::uint8_t;

class Variant;

// A copy of a record's bookmark bytes; empty stands for none.
using TBookmark = std::vector<std::uint8_t>;

// The six key buffers, each a modified flag, 3 unused bytes, a signed 32-bit field count and a record
// image.
enum TKeyIndex { kiLookup = 0, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave };

class TDataSet : public TComponent {
 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  using TDataSetErrorEvent = std::function<void(TDataSet&, const EDatabaseError&, TDataAction&)>;

  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;
  // Refused (10031) while the cursor is inside an engine call: freeing would free it under that call.
  void BeforeDestruction() override;

  // --- opening and closing ---
  void Open() { SetActive(true); }
  // The cursor writes what it holds first: when it cannot (no disk space) the error is raised and the
  // dataset stays open with its changes, to be closed again once there is room.
  void Close() { SetActive(false); }
  // Closes even when the cursor cannot write what it holds; those changes are lost.
  void CloseWithoutWriting();
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool active);
  TDataSetState State() const { return state_; }
  // The engine cursor while the dataset is open, else null.
  engine::TDataFile* Handle() const { return handle_.get(); }
  void CheckActive() const;
  void CheckInactive() const;

  // --- fields ---
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Fields(int index) const { return fields_.at(static_cast<std::size_t>(index)); }
  TField* FindField(std::string_view name) const;
  // "Field '%s' not found" when absent.
  TField* FieldByName(std::string_view name) const;
  TField* FieldByNumber(std::int32_t fieldNo) const;
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  void GetFieldNames(TStringList& list) const;
  bool DefaultFields() const { return defaultFields_; }
  std::uint16_t RecordSize() const { return recordSize_; }
  std::int32_t CalcFieldsSize() const { return calcFieldsSize_; }

  // --- navigation ---
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return Active() && recordCount_ == 0 && state_ != TDataSetState::dsInsert; }
  // The records of the cursor (its range and filters).
  std::int32_t RecordCount() const;
  // The record number of the active row as fetched; -1 for a new row.
  std::int32_t RecNo() const;
  // Makes the record at this position the active row, after the browse-mode check. Here by moving
  // record by record; a dataset whose cursor goes to a position at once overrides it.
  virtual void SetRecNo(std::int32_t value);
  void Refresh();

  // --- editing ---
  void Insert();
  void Append();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  // Data-aware controls write their pending edits.
  void UpdateRecord();
  bool Modified() const { return modified_; }
  bool CanModify() const { return GetCanModify(); }

  // --- key buffers, filters, find and locate ---
  // Set-key state on key buffer index, cleared (zeros and field defaults) when asked.
  void SetKeyBuffer(TKeyIndex index, bool clear);
  // Only in set-key state: the number of key fields the current key buffer's search uses (0 all).
  void SetKeyFieldCount(int count);
  int KeyBufferFieldCount(TKeyIndex index);
  bool KeyBufferModified(TKeyIndex index) { return KeyBuffer(index)[0] != 0; }
  // True when the range changed.
  bool ApplyKeyRange();
  bool CancelKeyRange();
  // Range start and end from the master fields, the i-th key field from the i-th master field.
  void SetLinkRanges(const std::vector<TField*>& masterFields);

  const std::string& Filter() const { return filterText_; }
  void SetFilter(std::string text);
  TFilterOptions FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(TFilterOptions options);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool filtered);
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
  const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
  void SetOnFilterRecord(TFilterRecordEvent handler);

  bool FindRecord(bool restart, bool forward);
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }

  // Key fields ';'-separated; one field takes a single value, several an array of values.
  bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options);
  // The result fields' values (an array for several) of the record found, null when none; the current
  // record does not move.
  Variant Lookup(const std::string& keyFields, const Variant& keyValues, const std::string& resultFields);

  // --- controls ---
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // --- bookmarks ---
  TBookmark GetBookmark() const;
  std::string GetBookmarkStr() const;
  void GotoBookmark(const TBookmark& bookmark);
  void SetBookmarkStr(const std::string& bookmark);
  void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
  bool CachedUpdates() const { return false; }
  void SetCachedUpdates(bool) {}

  // --- cursor and window, for tables, fields and data links ---
  void UpdateCursorPos();
  void CursorPosChanged() { currentRecord_ = -1; }
  // The active row copied from the engine into image (RecordSize bytes); false when there is no
  // fetched active row.
  bool GetCurrentRecord(std::uint8_t* image);
  // Re-reads the window around the cursor's record; exact raises when that record is gone, center puts
  // it in the middle of the window, else it keeps the active row's place.
  void Resync(bool exact, bool center);
  int BufferCount() const { return bufferCount_; }
  int WindowRecordCount() const { return recordCount_; }
  int ActiveRecord() const { return activeRecord_; }
  // Data links reading the row at a window position set it for the time of the read.
  void SetActiveRecord(int index);
  std::uint8_t* ActiveBuffer() const;
  std::uint8_t* Buffer(int index) const {
    return const_cast<std::uint8_t*>(buffers_.at(static_cast<std::size_t>(index)).data());
  }
  std::uint8_t BookmarkFlag(int index) const;
  std::int32_t BufferRecordNumber(int index) const;
  // The window size asked for by the data links changed.
  void UpdateBufferCount();

  // --- index information of the active index ---
  std::uint8_t KeySize() const { return keySize_; }
  int KeyFieldCount() const { return keyFieldCount_; }
  std::int16_t KeyField(int k) const { return keyFields_.at(static_cast<std::size_t>(k)); }
  bool KeyCaseInsensitive() const { return keyCaseInsensitive_; }
  std::uint8_t* KeyBuffer(TKeyIndex index);
  TKeyIndex CurrentKeyBuffer() const { return keyBuffer_; }

  // --- data sources ---
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  int DataSourceCount() const { return static_cast<int>(dataSources_.size()); }
  virtual void DataEvent(TDataEvent event, std::intptr_t info);

  // --- field access, for TField ---
  bool GetFieldData(const TField& field, void* buffer) const;
  void SetFieldData(TField& field, const void* buffer);
  void AddField(TField* field);
  void RemoveField(TField* field);
  void MoveField(TField* field, int index);
  // The buffer a field reads and writes in the current state; null when there is none.
  std::uint8_t* FieldBuffer() const;

  // --- events ---
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

 protected:
  // The hooks a dataset class binds to its cursor.
  virtual std::unique_ptr<engine::TDataFile> CreateHandle();
  virtual void DestroyHandle();
  virtual void OpenCursor(bool infoQuery);
  virtual void CloseCursor();
  virtual void InitFieldDefs() {}
  virtual void UpdateIndexDefs() {}
  virtual void GetCursorProps(bool infoQuery);
  virtual void PrepareCursor() {}
  virtual bool GetCanModify() const { return canModify_; }
  // A second cursor on an index for these key fields, owned by the dataset; null when there is none.
  virtual engine::TDataFile* LookupCursor(const std::string&, bool) { return nullptr; }
  virtual void FreeLookupCursor() {}
  bool LocateRecord(const std::string& keyFields, const Variant& keyValues, TLocateOptions options, bool sync);
  std::uint32_t CreateExprFilter(const std::string& text, TFilterOptions options);
  std::uint32_t CreateFuncFilter();
  std::uint32_t CreateLookupFilter(const std::vector<TField*>& fields, const Variant& values, TLocateOptions options);
  engine::TErrorCode RemoveScanFilter(std::uint32_t filter);
  void ActivateFilters();
  void DeactivateFilters();
  // Makes the filters of Filter and OnFilterRecord on a newly opened cursor.
  void CreateFilters();
  // Reads the field definitions of a cursor into FieldDefs.
  void ReadFieldDefs(engine::TDataFile& cursor);
  void GetIndexInfo();
  void SwitchToIndex(const std::string& name);
  void SetState(TDataSetState state);
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  void SetModified(bool modified) { modified_ = modified; }
  // Runs an engine step for an editing operation, through its error event.
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& errorEvent);
  void InitKeyBuffer(TKeyIndex index);
  void SetKeyBufferIndex(TKeyIndex index) { keyBuffer_ = index; }
  bool InfoQueryOpen() const { return infoQuery_; }
  engine::TDataFile* ReleaseHandleForClose() { return handle_.get(); }
  // Clears the window (the cursor keeps its position).
  void ClearBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  void CalculateFields(std::uint8_t* buffer);

 private:
  void OpenDataSet();
  void CloseDataSet();
  void CreateFields();
  void DestroyFields();
  void BindFields();
  void AllocateBuffers();
  void FreeBuffers();
  void InitRecord(std::uint8_t* buffer) const;
  std::int32_t GetRecord(int index, TGetMode mode);
  void SetCurrentRecord(int index);
  void GetNextRecords();
  void GetPriorRecords();
  void FreeFieldBuffers();
  void CheckRequiredFields();
  void WriteRecord();
  void CheckCanModify() const;
  void SendEvent(TDataEvent event, std::intptr_t info);
  void DropClientId();
  void SetFilterHandle(std::uint32_t& slot, std::uint32_t handle);
  std::vector<TField*> KeyFieldList(const std::string& names) const;
  static std::int32_t FilterCallback(std::uint32_t client, std::uint8_t* image, std::int32_t recordNumber);
  std::int32_t FilterRecord(const std::uint8_t* image);
  void SetKeyFields(const std::vector<TField*>& fields, const Variant& values, std::uint8_t* buffer);
  std::uint8_t* RecInfo(std::uint8_t* buffer) const { return buffer + recordSize_ + calcFieldsSize_; }
  std::uint8_t* BookmarkData(std::uint8_t* buffer) const { return RecInfo(buffer) + 9; }

  TDataSetState state_ = TDataSetState::dsInactive;
  std::unique_ptr<engine::TDataFile> handle_;
  bool infoQuery_ = false;
  TFieldDefs fieldDefs_;
  std::vector<TField*> fields_;
  bool defaultFields_ = false;
  std::vector<TDataSource*> dataSources_;

  std::uint16_t recordSize_ = 0;
  std::int32_t calcFieldsSize_ = 0;
  std::size_t bufferSize_ = 0;
  bool canModify_ = true;
  bool modified_ = false;

  std::uint8_t keySize_ = 0;
  std::uint8_t indexKeyLength_ = 0;
  bool keyCaseInsensitive_ = false;
  int keyFieldCount_ = 0;
  std::vector<std::int16_t> keyFields_ = std::vector<std::int16_t>(16, 0);
  std::vector<std::vector<std::uint8_t>> keyBuffers_;
  TKeyIndex keyBuffer_ = kiLookup;

  // The window: buffers_[0 .. bufferCount_ - 1] and one spare after them.
  std::vector<std::vector<std::uint8_t>> buffers_;
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;  // the buffer the cursor stands on, -1 when not known
  bool bof_ = true;
  bool eof_ = true;
  std::uint8_t* calcBuffer_ = nullptr;
  std::uint8_t* filterBuffer_ = nullptr;

  std::string filterText_;
  TFilterOptions filterOptions_ = 0;
  bool filtered_ = false;
  TFilterRecordEvent onFilterRecord_;
  std::uint32_t exprFilter_ = 0;
  std::uint32_t funcFilter_ = 0;
  std::uint32_t clientId_ = 0;  // this dataset in the table of live datasets the callback filter uses

  int disableCount_ = 0;
  bool disabledChange_ = false;
  bool disabledState_ = false;
  TDataSetState disabledFromState_ = TDataSetState::dsInactive;

  friend class TDataLink;
  friend class TFieldDefs;
  friend class TIndexDefs;
};

}  // namespace kavrin::classlib
