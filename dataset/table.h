// TTable: the table dataset bound onto the engine's table cursor: the cursor is made from the
// database directory and the table name, configured and opened; field and index definitions come
// from the engine's descriptors; a second (lookup) cursor serves searches on another index.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classlib/data/desc_images.h"
#include "classlib/data/index_defs.h"
#include "dataset/db_data_set.h"

namespace kavrin::engine {
class TDataFile;
}

namespace kavrin::classlib {
class TStringList;
}

namespace kavrin::dataset {

enum class TTableType { ttDefault, ttParadox, ttDBase, ttASCII };

class TTable : public TDBDataSet {
 public:
  explicit TTable(classlib::TComponent* owner = nullptr);
  ~TTable() override;

  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  TTableType TableType() const { return tableType_; }
  void SetTableType(TTableType type);
  // IndexName and IndexFieldNames share one text; setting either selects the index at once when open.
  std::string IndexName() const { return fieldsIndex_ ? std::string() : indexText_; }
  void SetIndexName(std::string name);
  std::string IndexFieldNames() const { return fieldsIndex_ ? indexText_ : std::string(); }
  void SetIndexFieldNames(std::string fields);
  classlib::TIndexDefs& IndexDefs() { return indexDefs_; }
  void GetIndexNames(classlib::TStringList& list);
  // A clone of the cursor on an index for these key fields, kept until the fields or case option
  // change; null when no index fits or the table is exclusive (no clone can be made then).
  engine::TDataFile* GetLookupCursor(const std::string& keyFields, bool caseInsensitive);
  void DestroyLookupCursor();
  // Key search on the active index: SetKey (or EditKey) enters set-key state on the search key buffer;
  // GotoKey finds the exact key, GotoNearest the first key at or after it.
  void SetKey() { SetKeyBuffer(classlib::kiLookup, true); }
  void EditKey() { SetKeyBuffer(classlib::kiLookup, false); }
  bool GotoKey();
  void GotoNearest();
  void SetRangeStart() { SetKeyBuffer(classlib::kiRangeStart, true); }
  void SetRangeEnd() { SetKeyBuffer(classlib::kiRangeEnd, true); }
  void EditRangeStart() { SetKeyBuffer(classlib::kiRangeStart, false); }
  void EditRangeEnd() { SetKeyBuffer(classlib::kiRangeEnd, false); }
  void ApplyRange();
  void CancelRange();
  // The range of a detail table from its master's fields.
  void SetMasterLinkRanges(const std::vector<classlib::TField*>& masterFields) { SetLinkRanges(masterFields); }

  enum class TLockType { ltReadLock, ltWriteLock };
  // One kind of table lock whatever the type; "Cannot perform this operation on a closed dataset"
  // while closed; another process's locks end in the engine's error after the retries.
  void LockTable(TLockType type);
  void UnlockTable(TLockType type);

  void OpenIndexFile(const std::string&) {}
  void CloseIndexFile(const std::string&) {}

  // Options, ';'-joined key field names and name of an index record; key fields are named by their
  // field numbers in fieldDefs.
  static void DecodeIndexDesc(const classlib::IndexDescImage& image, const classlib::TFieldDefs& fieldDefs,
                              classlib::TIndexOptions& options, std::string& fields, std::string& name);

  void DataEvent(classlib::TDataEvent event, std::intptr_t info) override;
  // The cursor goes to the position at once and the window is re-read centred on it.
  void SetRecNo(std::int32_t value) override;

  // A new, empty table from FieldDefs (filled from the field objects when empty) and IndexDefs (the
  // first one the primary index); the table must be closed and is not opened.
  void CreateTable();
  // The field record for a definition; returns its length.
  static std::int16_t EncodeFieldDesc(classlib::FieldDescImage& image, const std::string& name, std::int32_t size,
                                      classlib::TFieldType type);
  // The index record; key fields get the numbers the new table gives them (their place in FieldDefs,
  // from 1); "Field '%s' not found" for an unknown name; names after the 16th are ignored.
  void EncodeIndexDesc(classlib::IndexDescImage& image, const std::string& name, classlib::TIndexOptions options,
                       const std::string& fieldList);

 protected:
  std::unique_ptr<engine::TDataFile> CreateHandle() override;
  void DestroyHandle() override;
  void InitFieldDefs() override;
  void UpdateIndexDefs() override;
  bool GetCanModify() const override;
  engine::TDataFile* LookupCursor(const std::string& keyFields, bool caseInsensitive) override {
    return GetLookupCursor(keyFields, caseInsensitive);
  }
  void FreeLookupCursor() override { DestroyLookupCursor(); }
  // The cursor settings that depend on the table's class: on disk, log on disk, 15 retries, 100 ms.
  virtual void ConfigureCursor(engine::TDataFile& cursor) const;
  std::unique_ptr<engine::TDataFile> OpenTableFile(const std::string& indexName);
  std::string GetIndexParams(const std::string& indexText, bool fieldsIndex);

 private:
  std::unique_ptr<engine::TDataFile> MakeCursor(classlib::TDatabase& database, bool exclusive) const;
  void OpenWithPasswords(engine::TDataFile& cursor) const;
  void ReadIndexDefs(engine::TDataFile& cursor);
  void ChangeIndex(std::string text, bool fieldsIndex);
  bool FindKeyBuffer(bool nearest);
  classlib::TIndexDef* FindLookupIndex(const std::string& keyFields, bool caseInsensitive);
  void SetTableLock(bool lock);

  std::string tableName_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  TTableType tableType_ = TTableType::ttDefault;
  std::string indexText_;
  bool fieldsIndex_ = false;
  classlib::TIndexDefs indexDefs_;
  std::unique_ptr<engine::TDataFile> lookupCursor_;
  std::string lookupKey_;
};

}  // namespace kavrin::dataset
