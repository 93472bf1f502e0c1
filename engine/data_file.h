// TDataFile: one table's data file and a cursor on that table. It owns the table's index and blob
// files, keeps copies of the header and the field descriptors, caches records and is the only engine
// class that the dataset layer and the programs call.
//
// The class is declared here once; its operations live in data_file_*.cpp by subject.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/blob_owner.h"
#include "engine/data_file_format.h"
#include "engine/file_handler.h"
#include "engine/filter_expr.h"
#include "engine/index_file.h"
#include "engine/index_format.h"
#include "engine/index_owner.h"

namespace kavrin::engine {

class TBlobFile;
class TIndexFile;

// Progress of repair, reindex and restructure: the record handled and a percentage 0 to 100.
using TProgressEvent = std::function<void(void* sender, std::int32_t current, std::int32_t percentDone)>;

// Asks whether to go on when a restructure would lose data (see the restructure operations).
enum class TDataLossCause : std::uint8_t {
  Other = 0,
  KeyViolation = 1,
  ValidityCheck = 2,
  FieldDropped = 3,
  Conversion = 4,
};
using TDataLostEvent =
    std::function<void(void* sender, TDataLossCause cause, bool& continueRestructure, bool& stopAsking)>;

// Asks the user for a table password; adds it to TablePasswords and answers true, or answers false.
using TPasswordHandler = std::function<bool(class TDataFile& table)>;

class TDataFile : public TFileHandler, public TRecordOwner, public TIndexOwner, public TBlobOwner {
 public:
  explicit TDataFile(void* owner = nullptr);
  ~TDataFile() override;

  // --- Opening and closing --------------------------------------------------------------------
  std::string FixFileName(std::string_view name) const override;
  void OpenFile() override;
  void CloseFile() override;
  void NewFile() override;
  void Open() { OpenFile(); }
  // Writes what the cursor holds, then closes; when the writing fails (no disk space) the cursor stays
  // open with its changes and the error is raised. Refused with 10031 (file in use) while an operation
  // of this cursor runs: a message handler run during its lock wait, its filter callback, or a repair or
  // restructure's progress event would free files and caches the operation still uses.
  void Close() { CloseFile(); }
  // An operation of this cursor is running (it may be waiting for a lock while messages run). The
  // cursor must then be neither closed nor freed: its owners refuse to.
  bool Busy() const { return busy_; }
  // Raises 10031 when Busy.
  void CheckNotBusy();
  // Closes without writing what the cursor holds in memory, for a caller that must let go after Close
  // failed (a destructor, a program giving up): those changes are lost. An open transaction is still
  // rolled back, as Close does.
  void CloseWithoutWriting() noexcept;

  void* Owner() const { return owner_; }
  const TDataFileHeader& Header() const { return header_; }
  TIndexFile& IndexFile() { return *indexFile_; }
  TBlobFile& BlobFile() { return *blobFile_; }
  bool HasBlobFields() const { return header_.BlobFieldCount > 0; }

  // --- Header and change detection --------------------------------------------------------------
  void ReadHeader();
  void WriteHeader();
  void CheckHeaderChanged();
  void Refresh();
  void ReadFieldDescriptors();
  void WriteFieldDescriptors();
  void EmptyRecords();
  bool HeaderLocked() const { return headerLocked_; }
  void SetHeaderLocked(bool locked) { headerLocked_ = locked; }
  void LockHeader();
  void UnlockHeader();
  // UnlockHeader and then the record's lock, in one call where the locks between allow; whether the
  // record's lock went.
  bool UnlockHeaderWithRecord(std::int32_t recordNumber);
  // The pause between header lock tries and how many tries are made; tests shorten them.
  void SetHeaderLockTiming(std::int32_t pauseMilliseconds, std::int32_t tries);

  // --- Record cache and slots -------------------------------------------------------------------
  TRecord* FetchRecord(std::int32_t recordNumber);
  std::int32_t FirstFreeRecord() const;
  TRecord* AllocateRecord();
  void FreeRecordSlot(TRecord& record);
  // Writes the dirty records: all of them, or the one given (and all when it stays dirty).
  void FlushRecords(bool all, TRecord* record = nullptr);
  void DropRecordCache();
  // Forgets cached records numbered from recordNumber on (slots a failed change made).
  void ForgetRecordsFrom(std::int32_t recordNumber);
  std::size_t RecordCacheCapacity() const { return recordCacheCapacity_; }
  std::size_t RecordCacheCount() const { return cachedCount_; }
  TRecord* CurrentRecord() const { return currentRecord_; }
  void SetCurrentRecord(TRecord* record) { currentRecord_ = record; }
  std::uint8_t* CurrentRecordBuffer() { return currentRecord_ ? currentRecord_->Buffer() : nullptr; }
  // Writes what is dirty and the headers (the change counter grows); on a shared cursor under the
  // locks of a change.
  void Flush();

  // --- Records this cursor has locked ------------------------------------------------------------
  void AddLockedRecord(std::int32_t recordNumber) { lockedRecords_.push_back(recordNumber); }
  void RemoveLockedRecord(std::int32_t recordNumber);
  bool IsRecordLocked(std::int32_t recordNumber) const;
  void ClearLockedRecords() { lockedRecords_.clear(); }
  const std::vector<std::int32_t>& LockedRecords() const { return lockedRecords_; }

  // --- Field access ------------------------------------------------------------------------------
  // Reads a field of image into value (at least the field's data size; may be null).
  void GetField(std::int16_t fieldNumber, const std::uint8_t* image, bool& isNull, void* value) const;
  // Writes a field; a null value makes it null.
  void SetField(std::int16_t fieldNumber, std::uint8_t* image, const void* value) const;
  static void TrimTrailingBlanks(char* text);
  static std::uint8_t FieldDataSize(const TFieldDescriptor& field);
  static std::uint8_t FieldDecimals(const TFieldDescriptor& field) { return field.Decimals; }
  std::int32_t RecordSize() const override { return header_.RecordSize; }
  std::uint16_t BlobBlockSize() const override;
  std::uint16_t FieldCount() const { return static_cast<std::uint16_t>(fields_.size()); }
  void FieldDefByIndex(std::uint16_t position, TFieldDescriptor& field) const;
  void FieldDefByNumber(std::int16_t fieldNumber, TFieldDescriptor& field) const;
  const TFieldDescriptor* FindField(std::int16_t fieldNumber) const;
  void AlterFieldDef(std::uint16_t position, const TFieldDescriptor& field);
  void InitRecord(std::uint8_t* image) const;

  // --- Creation and file maintenance -------------------------------------------------------------
  static void ValidateDefinition(bool encrypted, std::string_view password, std::vector<TIndexDescriptor>& indexes,
                                 std::vector<TFieldDescriptor>& fields, std::uint16_t blobBlockSize,
                                 std::string_view fileName);
  // indexes[0] is the primary index; the secondary indexes follow.
  void CreateTable(bool encrypted, std::string_view password, std::vector<TIndexDescriptor> indexes,
                   std::vector<TFieldDescriptor> fields, std::uint16_t blobBlockSize, std::string_view description);
  void DeleteTable();
  void RenameTable(std::string_view newName);
  void CopyTable(std::string_view newName);
  void EmptyTable();

  // --- Record and table locks, navigation --------------------------------------------------------
  // Shared: no other process is kept out by the open itself or a table lock, so locks and change checks
  // are needed.
  bool IsShared() const { return !Exclusive() && !ReadOnlyOnDisk() && !tableLocked_; }
  void LockRecord(std::int32_t recordNumber);
  void UnlockRecord(std::int32_t recordNumber);
  void UnlockAllRecords();
  // The record lock itself, for code already running inside one of this cursor's operations.
  void AcquireRecordLock(std::int32_t recordNumber);
  void ReleaseRecordLock(std::int32_t recordNumber);
  void LockTable();
  void UnlockTable();
  void GotoBOF();
  void GotoEOF();
  void GotoRecordNo(std::uint32_t position);
  // Result codes: 0, 8705 before the first record, 8706 after the last.
  TErrorCode GetCurrent(std::uint8_t* buffer, bool lock);
  TErrorCode Next(std::uint8_t* buffer);
  TErrorCode Prior(std::uint8_t* buffer);
  std::int32_t RecordNo();
  std::int32_t RecordCount();
  std::uint16_t BlobFieldCount() const {
    return static_cast<std::uint16_t>(std::max<std::int16_t>(header_.BlobFieldCount, 0));
  }
  bool AtEOF() const;
  bool AtBOF() const;
  bool RangeActive() const;
  bool FiltersActive() const;
  std::uint8_t ActiveIndex() const;

  // --- Keys, search, ranges, bookmarks -------------------------------------------------------------
  bool FindKey(bool directKey, const std::uint8_t* keyOrImage, std::uint8_t* buffer, std::int32_t fieldCount,
               bool nearest, std::uint8_t partialLength);
  void SetRange(bool directKey, const std::uint8_t* start, std::int32_t startFieldCount, const std::uint8_t* end,
                std::int32_t endFieldCount);
  void CancelRange();
  void SelectIndex(std::uint8_t index);
  void SelectIndexByName(std::string_view name);
  std::string ActiveIndexName() const;
  std::uint8_t IndexCount() const;
  std::uint8_t KeyLength() const;
  std::uint8_t KeyFieldCount() const;
  bool ActiveIndexUnique() const;
  std::array<std::int16_t, MaxKeyFields> GetKeyFields(std::uint8_t index) const;
  TIndexDescriptor GetIndexDef(std::uint8_t index) const;
  // The key of the current record in the active index; key-length zero bytes when there is none.
  void GetBookmark(std::uint8_t* bookmark);
  void GotoBookmark(const std::uint8_t* bookmark);
  std::int32_t CompareBookmarks(const std::uint8_t* first, const std::uint8_t* second) const;

  // --- Changes -------------------------------------------------------------------------------------
  void InsertRecord(std::uint8_t* image);
  void UpdateRecord(std::uint8_t* image, bool unlock);
  void DeleteRecord();
  void ValidateRecord(const std::uint8_t* image) const;
  static void SetUniqueID(std::uint8_t* image, std::int32_t id);
  static std::int32_t GetUniqueID(const std::uint8_t* image);
  bool RollbackRunning() const { return rollbackRunning_; }

  // --- Blob fields (results are engine codes) ----------------------------------------------------
  TErrorCode OpenBlob(std::int16_t fieldNumber, std::uint8_t* image);
  TErrorCode OpenBlobUnlocked(std::int16_t fieldNumber, std::uint8_t* image);
  TErrorCode CloseBlob(std::int16_t fieldNumber, std::uint8_t* image);
  TErrorCode ReadBlob(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t position, std::int32_t count,
                      void* buffer, std::int32_t& countRead);
  TErrorCode WriteBlob(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t position, std::int32_t count,
                       const void* buffer);
  TErrorCode TruncateBlob(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t length);
  TErrorCode BlobSize(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t& size);
  bool BlobIsOpen(std::int16_t fieldNumber, const std::uint8_t* image) const;
  static TErrorCode CopyBlob(TDataFile& target, TDataFile& source, std::int16_t fieldNumber, std::uint8_t* targetImage,
                             std::uint8_t* sourceImage);
  static TErrorCode CloseCopiedBlob(TDataFile& target, TDataFile& source, std::int16_t fieldNumber,
                                    std::uint8_t* targetImage, std::uint8_t* sourceCopy,
                                    const std::uint8_t* sourceImage);
  void EmptyRecordBlobs();

  // --- Cursor utilities ------------------------------------------------------------------------------
  // Positions on the record that is current in another cursor of the same table: 0 when its key was
  // found, 8710 when the cursor stands on the nearest one.
  TErrorCode GotoCurrent(TDataFile& other);
  // A second cursor on the table with this one's order, range, record filter and position.
  std::unique_ptr<TDataFile> CloneCursor();

  // --- Transactions --------------------------------------------------------------------------------
  void StartTransaction();
  void Commit();
  void Rollback();
  TDataFile* LogFile() const { return logFile_.get(); }

  // --- Expression filters ----------------------------------------------------------------------------
  // Handles (engine/filter_expr.h): expression filters are numbered from 1, and one cursor never gives a
  // number twice; RecordCallbackHandle is the record callback; AllFilters (0) stands for all of them.
  // AddFilter with an expression block: a new, inactive expression filter holding a checked copy of the
  // block, rewritten once against the table's indexes (10051 for a block that cannot be evaluated
  // safely). Without one: the record callback, replacing any earlier one, inactive, with userData
  // (10051 when there is no callback either). 9482 when the cursor already has 128 expression filters.
  TFilterHandle AddFilter(std::uint32_t userData, std::span<const std::uint8_t> expression, TRecordCallback callback);
  // Each re-applies range and filters at the current record; 10050 for a handle the cursor does not
  // hold. RemoveFilter (AllFilters) removes every expression filter and the callback; Activate and
  // Deactivate of AllFilters act on every expression filter, not on the callback.
  TErrorCode RemoveFilter(TFilterHandle handle);
  TErrorCode ActivateFilter(TFilterHandle handle);
  TErrorCode DeactivateFilter(TFilterHandle handle);
  // Over the expression filters, active or not: 2 when there is none or all are at 2, 0 when all are at
  // 0, else 1.
  std::int32_t FilterOptimizeLevel() const;
  std::uint8_t FilterCount() const { return static_cast<std::uint8_t>(expressionFilters_.size()); }
  const TFilter& GetFilter(std::size_t position) const { return *expressionFilters_.at(position); }
  // When key walks take the complement side (filters added from now on, and every bitmap build); the
  // records are the same each way, so tests force both.
  void SetComplementRule(TComplementRule rule) { complementRule_ = rule; }

  // --- Filters ---------------------------------------------------------------------------------------
  // The record callback filter: installed inactive, replacing an earlier one.
  void SetRecordCallback(TRecordCallback callback, std::uint32_t userData);
  TErrorCode ActivateRecordCallback(bool active);

  // --- Restructure and repair ---------------------------------------------------------------------
  // A new definition for the table, with the arguments of CreateTable; called on a closed, exclusive
  // cursor whose name is set, which it leaves closed. Problems with single records go to OnDataLost,
  // progress to OnRestructureProgress.
  void RestructureTable(bool encrypted, std::string_view password, std::vector<TIndexDescriptor> indexes,
                        std::vector<TFieldDescriptor> fields, std::uint16_t blobBlockSize,
                        std::string_view description);
  // Whether a change of the definition means the records must be copied (names and descriptions do not).
  static bool FieldDefChanged(const TFieldDescriptor& oldField, const TFieldDescriptor& newField);
  static bool IndexDefChanged(const TIndexDescriptor& oldIndex, const TIndexDescriptor& newIndex,
                              const std::vector<TFieldDescriptor>& oldFields,
                              const std::vector<TFieldDescriptor>& newFields);
  // The definition with this number in a caller's list; raises 9985 (field left zeroed) when none has it.
  static void FindFieldDef(std::int16_t fieldNumber, const std::vector<TFieldDescriptor>& fields,
                           TFieldDescriptor& field);
  // Fields numbered 1 to n in field order, the key field lists of the indexes with them (open, exclusive).
  void RenumberFields();
  // Puts the old table back when a restructure ended (a crash) while its files were being exchanged;
  // nothing otherwise. RestructureTable and RepairTable call it first; the cursor must be closed.
  void UndoInterruptedRestructure();
  // Rebuilds what the records determine: layout, deleted chain, unique ids, indexes, blob chains.
  // Called on a closed, exclusive cursor; does nothing in memory.
  void RepairTable();
  void DoRepairProgress(std::int32_t recordNumber, std::int32_t percent);
  void DoRestructureProgress(std::int32_t count, std::int32_t percent);
  void DoDataLost(TDataLossCause cause, bool& continueRestructure, bool& stopAsking);

  // --- Settings and information ------------------------------------------------------------------
  void SetMemoryLog(bool inMemory);
  bool TransactionsInMemory() const { return transactionsInMemory_; }
  void SetRetryCount(std::uint8_t count) { lockRetryCount_ = count; }
  void SetRetryWait(std::uint16_t milliseconds) { lockWaitTime_ = milliseconds; }
  std::uint8_t LockRetryCount() const { return lockRetryCount_; }
  std::uint16_t LockWaitTime() const { return lockWaitTime_; }
  void SetPasswordHandler(TPasswordHandler handler) { passwordHandler_ = std::move(handler); }
  bool AskPassword();
  std::int32_t PhysicalRecordCount() const { return header_.NextRecordNumber - 1; }
  bool TableLocked() const { return tableLocked_; }
  // Whether this cursor holds the lock of its current record (false without a current record).
  bool RecordLocked() const;
  std::string GetDescription() const;
  std::string GetPassword() const;
  double LastUpdated() const;
  bool Encrypted() const;
  bool Repairing() const override { return repairing_; }
  void SetRepairing(bool repairing) { repairing_ = repairing; }
  bool KeepRecordIDs() const { return keepRecordIDs_; }
  void SetKeepRecordIDs(bool keep) { keepRecordIDs_ = keep; }
  bool InTransaction() const { return inTransaction_; }

  TProgressEvent OnRepairProgress;
  TProgressEvent OnRestructureProgress;
  TDataLostEvent OnDataLost;

  // --- TRecordOwner, TIndexOwner, TBlobOwner ------------------------------------------------------
  std::int64_t RecordPosition(std::int32_t recordNumber) const override;
  TFileHandler& RecordFile() override { return *this; }
  std::int32_t NextUniqueID() override;
  void RecordDirtied(std::int32_t recordNumber) override;
  void SyncIndexPosition() override;
  // The cursor found again after a change; one that inserted the current record's key takes the spot
  // the insert left instead of another search, where that is the same spot.
  void SyncIndexPositionAfterChange();
  // Both: the range and the record bitmap made anew, then the current record's key found in the index.
  void FindIndexPosition(bool afterChange);
  // For tests: false makes every change search for the cursor's key again.
  static void SetInsertedSpotUse(bool use);
  std::uint8_t KeyFieldType(std::int16_t fieldNumber) const override;
  std::span<const std::uint8_t> RecordImage(std::int32_t recordNumber) override;
  std::int32_t RecordSlots() const override { return header_.NextRecordNumber - 1; }
  std::int32_t GetBlobReference(std::int16_t fieldNumber, const std::uint8_t* image) const override;
  void SetBlobReference(std::int16_t fieldNumber, std::uint8_t* image, std::int32_t reference) override;
  std::vector<std::int32_t> RecordBlobReferences(std::int32_t recordNumber) override;

  // --- Keys ----------------------------------------------------------------------------------------
  // The key of index n for the fields of fieldsImage and the unique id of idImage, key-length bytes.
  void BuildKey(std::uint8_t index, const std::uint8_t* fieldsImage, const std::uint8_t* idImage,
                std::uint8_t* key) const;
  // The 5-byte key of the record-state index: deleted flag and unique id.
  static void BuildDeletedKey(const std::uint8_t* image, std::uint8_t* key, const std::uint8_t* idImage);

 private:
  void ResetOpenState();
  void CheckPassword();
  void OpenCompanionFiles();
  // The index or blob file takes this file's name and access flags.
  void PrepareCompanion(TFileHandler& file) const;
  // The files of the closed table: the data file, the index file and the blob file when it exists.
  std::vector<TFileHandler*> ClosedTableFiles();
  void TakeReadOnlyFromCompanions();
  void MakeRoomInRecordCache();
  // wholeImage: the caller overwrites the image whole, so a recycled record need not be zeroed.
  TRecord* PlaceRecord(std::int32_t recordNumber, bool wholeImage = false);
  // An evicted or forgotten record is kept in its slot for the next miss.
  void RecycleRecord(std::uint32_t slot);
  // The cached record's slot, or kNoSlot; the use order stays as it is.
  std::uint32_t FindCacheSlot(std::int32_t recordNumber) const;
  TRecord* CachedRecord(std::int32_t recordNumber) const;
  void LinkNewest(std::uint32_t slot);
  void Unlink(std::uint32_t slot);
  // Room in the lookup table for one more record; the only step of a placement that allocates.
  void GrowLookup();
  void AddLookup(std::int32_t recordNumber, std::uint32_t slot);
  void RemoveLookup(std::int32_t recordNumber, std::uint32_t slot);
  void ReadRecordsNextTo(std::int32_t recordNumber, bool forward);
  void WriteDirtyRun(TRecord& record, bool evicting);
  // The dirty cached records, in record order.
  std::vector<TRecord*> DirtyRecords();
  // From the list of dirtied records, not the whole cache.
  // The cached record of an entry of the dirty list, while it is still dirty; null otherwise.
  TRecord* DirtyListedRecord(std::int32_t recordNumber) const;
  bool HasDirtyRecords() const;
  bool AnyCachedDirty() const;
  std::int64_t DirtyRecordsEnd() const;
  void RebuildFieldMap();
  // The close itself, for the cursor's own operations that close it while they run.
  void CloseOwned();
  // Rolls back an open transaction and drops its log, as every close does.
  void EndTransactionForClose() noexcept;
  // Writes dirty records, blocks and pages and the three headers, as the end of a change does.
  void WriteThrough();
  friend class TCursorGuard;
  friend class TOwnCall;
  friend class TReadSection;
  friend class TWriteSection;
  // The key field count and data sizes behind a search or range key of fieldCount fields.
  std::size_t KeyPrefixLength(std::int32_t fieldCount) const;
  void ObtainKey(bool directKey, const std::uint8_t* keyOrImage, std::uint8_t* key) const;
  void MakeCurrentAtCursor();
  void CopyCurrent(std::uint8_t* buffer) const;
  bool TryRecordLock(std::int32_t recordNumber);
  void CheckBlobHandles(const std::uint8_t* image) const;
  const TFieldDescriptor& BlobField(std::int16_t fieldNumber) const;
  TErrorCode BlobFieldCheck(std::int16_t fieldNumber, const std::uint8_t* image, std::int32_t& reference) const;
  void SaveRecordBlobs(TRecord& record);
  // Frees the chains that the record's image before an update named and that neither its image now
  // nor the saving of its open blobs (which began from the chains in saved) takes care of.
  void FreeReplacedChains(const std::uint8_t* before, const TRecord& record, const std::vector<std::int32_t>& saved);
  // Transactions.
  void WriteLogEntry(const std::uint8_t* image, std::uint16_t operation);
  // The log's entries now, and the removal of those written after it (a change that failed).
  std::int32_t LogEntryCount() const;
  void RemoveLogEntriesAfter(std::int32_t count);
  void DropLog();
  void EndTransaction();
  void ReplayLog();
  void RestoreBlobsFromLog(std::uint8_t* logEntry, std::uint8_t* image);
  void CloseRecordBlobs(std::uint8_t* image);

  void* owner_;
  TDataFileHeader header_;
  bool headerLocked_ = false;
  bool tableLocked_ = false;
  std::unique_ptr<TIndexFile> indexFile_;
  std::unique_ptr<TBlobFile> blobFile_;
  bool repairing_ = false;
  bool keepRecordIDs_ = false;
  std::vector<std::int32_t> lockedRecords_;
  std::uint8_t lockRetryCount_ = 15;
  std::uint16_t lockWaitTime_ = 100;
  bool deferredTableUnlock_ = false;
  std::vector<TFieldDescriptor> fields_;
  // Position in fields_ (or -1) by field number less fieldNumberBase_: a lookup per field access.
  std::vector<std::int32_t> fieldByNumber_;
  std::int32_t fieldNumberBase_ = 0;
  // The record cache: records in slots chained from the most to the least recently used, found by
  // number in an open-addressing table. Slots out of the cache keep their records for the next miss, so
  // neither a hit nor a miss on a full cache allocates.
  static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;
  struct TCacheSlot {
    std::unique_ptr<TRecord> Record;
    std::uint32_t Newer = kNoSlot;
    std::uint32_t Older = kNoSlot;
  };
  struct TCacheLookup {
    std::int32_t RecordNumber = 0;  // 0: empty
    std::uint32_t Slot = kNoSlot;
  };
  std::vector<TCacheSlot> cacheSlots_;
  std::vector<std::uint32_t> spareSlots_;
  // A power of two in size, at most half full, linear probing.
  std::vector<TCacheLookup> cacheLookup_;
  std::uint32_t newestSlot_ = kNoSlot;
  std::uint32_t oldestSlot_ = kNoSlot;
  std::size_t cachedCount_ = 0;
  std::vector<std::uint8_t> readAheadBytes_;
  std::vector<std::uint8_t> writeBehindBytes_;
  std::vector<TRecord*> writeBehindRun_;
  // The numbers of the cached records turned dirty since the last flush (and perhaps some written or
  // gone since): every dirty cached record is among them.
  std::vector<std::int32_t> dirtyRecords_;
  std::size_t dirtyRecordsLimit_ = 256;
  std::size_t recordCacheCapacity_ = 0;
  std::int32_t lastMissedRecord_ = 0;
  std::uint64_t recordUseClock_ = 0;
  TRecord* currentRecord_ = nullptr;
  std::unique_ptr<TDataFile> logFile_;
  bool inTransaction_ = false;
  bool idsSuspended_ = false;
  std::int16_t logOpNum_ = 0;
  std::int16_t logOpType_ = 0;
  std::int16_t logIntId_ = 0;
  bool transactionsInMemory_ = false;
  TPasswordHandler passwordHandler_;
  bool busy_ = false;     // an operation of this cursor is running
  bool ownCall_ = false;  // that operation calls one public operation of this cursor itself
  bool rollbackRunning_ = false;
  std::int32_t headerLockPause_ = 10;
  std::int32_t headerLockTries_ = 8193;
  // Restructure and repair.
  friend class TTableRestructure;
  friend class TTableRepair;
  // Expression filters.
  friend class TFilter;
  TFilter* FindFilter(TFilterHandle handle);
  TErrorCode DropFilter(TFilterHandle handle);
  void DropAllFilters();
  TErrorCode SetFilterActive(TFilterHandle handle, bool active);
  // The cursor bitmap of the records in the range that pass every active expression filter and are not
  // deleted; no bitmap while no expression filter is active.
  void BuildFilterBitmap();
  // The records whose keys in the current index lie from low to high (keys of totalKeys), walked on the
  // smaller side.
  TRecordBitmap MarkKeysBetween(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high,
                                std::int32_t keys, std::int32_t totalKeys, std::int32_t slotCount);
  // Makes current the first index (0, then 1 upwards) whose first key field is the field and that fits
  // the case asked for (any: either case; a field that is no string fits both); false, the current
  // index kept, when none does.
  bool SelectIndexForField(std::int16_t fieldNumber, bool caseInsensitive, bool any);
  // Marks by reading records: the records whose key part of the field lies from low to high (field data
  // size + 1 bytes each). Under an and only records already set are read, and cleared when outside;
  // otherwise the bitmap is cleared and every live record read.
  void ScanFieldRange(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high, bool caseInsensitive,
                      std::int16_t fieldNumber, std::int32_t parentOperator, TRecordBitmap& bitmap);
  std::vector<std::unique_ptr<TFilter>> expressionFilters_;
  TFilterHandle nextFilterHandle_ = 1;
  TComplementRule complementRule_ = TComplementRule::SmallerSide;
};

}  // namespace kavrin::engine
