// TKAVRINTable: the table component the programs put on their forms, with the engine's own cursor
// settings (in memory, transaction log in memory, lock retries and wait) and record information.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dataset/table.h"
#include "engine/data_file.h"

namespace kavrin::dataset {

class TKAVRINTable;

// The restructure's field list: kept with the table, filled by nothing yet.
class TRestructureFieldDefs {
 public:
  explicit TRestructureFieldDefs(TKAVRINTable* table) : table_(table) {}
  TKAVRINTable* Table() const { return table_; }
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }

 private:
  TKAVRINTable* table_;
  std::vector<std::unique_ptr<engine::TFieldDescriptor>> items_;
};

class TKAVRINTable : public TTable {
 public:
  explicit TKAVRINTable(classlib::TComponent* owner = nullptr);
  ~TKAVRINTable() override;

  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool inMemory);
  bool TransactionsInMemory() const { return transactionsInMemory_; }
  void SetTransactionsInMemory(bool inMemory);
  std::uint8_t LockRetryCount() const { return lockRetryCount_; }
  void SetLockRetryCount(std::uint8_t count);
  std::uint16_t LockWaitTime() const { return lockWaitTime_; }
  void SetLockWaitTime(std::uint16_t milliseconds);

  // 0 while closed, -1 while inserting, else the cursor's record number of the active row.
  std::int32_t GetRecordNumber();
  void SetRecordNumber(std::int32_t number);
  bool TableLocked();
  bool RecordLocked();
  bool Encrypted();
  std::string Description();
  TRestructureFieldDefs& RestructureFieldDefs() { return *restructureFieldDefs_; }

  // Stored only: the utility sets the cursor's own events directly.
  engine::TProgressEvent OnRepairProgress, OnIndexProgress, OnRestructureProgress;
  engine::TDataLostEvent OnDataLost;

 protected:
  // The table's own settings apply to this exact class only; a class derived from it opens as a plain
  // table does.
  void ConfigureCursor(engine::TDataFile& cursor) const override;

 private:
  void CheckTableActive() const;

  bool inMemory_ = false;
  bool transactionsInMemory_ = false;
  std::uint8_t lockRetryCount_ = 0;
  std::uint16_t lockWaitTime_ = 0;
  std::unique_ptr<TRestructureFieldDefs> restructureFieldDefs_;
};

}  // namespace kavrin::dataset
